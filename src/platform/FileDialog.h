#pragma once

#include <QString>
#include <QStringList>

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

// "Data file (*.dat)|*.dat|All (*.*)|*.*" becomes Qt's name filters
// "Data file (*.dat)" and "All (*.*)"; a name that does not show its patterns
// gets them in brackets ("Text|*.txt" is "Text (*.txt)"); several patterns of
// one entry, separated by ';', become blank-separated.
QStringList qtNameFilters(const QString &filter);

// Runs the dialog for a caller that keeps the chosen name in `source`: a
// choice replaces it; a cancel, an empty choice or any failure of the dialog
// leaves it as it was. No failure leaves this function.
void chooseFile(FileDialog &dialog, const QString &title, QString &source, const QString &filter);
