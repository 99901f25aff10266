#pragma once

#include <QString>

class QWidget;

// A modal file-open dialog: set the title, the initial file name, whether a
// cancel is a failure, and the filter list (labels and patterns alternating,
// all separated by '|'); ShowOpen returns when the dialog is closed, with
// FileName holding the chosen file's full path. With CancelError set, a
// cancel throws PlatformError 32755 and leaves FileName as it was.
class FileDialog
{
public:
    virtual ~FileDialog() = default;

    QString DialogTitle;
    QString FileName;
    bool CancelError = false;
    QString Filter;

    virtual void ShowOpen() = 0;
};

// Qt's own file dialog.
class QtFileDialog final : public FileDialog
{
public:
    explicit QtFileDialog(QWidget *parent) : m_parent(parent) {}
    void ShowOpen() override;

private:
    QWidget *m_parent;
};

// "Data file (*.dat)|*.dat|All (*.*)|*.*" becomes Qt's name filters
// "Data file (*.dat)" and "All (*.*)"; a name that does not show its patterns
// gets them in brackets ("Text|*.txt" is "Text (*.txt)"); several patterns of
// one entry, separated by ';', become blank-separated.
QStringList qtNameFilters(const QString &filter);
