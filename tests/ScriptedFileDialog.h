#pragma once

#include "platform/FileDialog.h"
#include "platform/PlatformError.h"

#include <QList>
#include <QString>

// A file dialog that does what the test told it: choose a file, cancel, or
// fail. It remembers what it was shown each time.
class ScriptedFileDialog final : public FileDialog
{
public:
    enum class Next { Choose, Cancel, Fail };

    void choose(const QString &path) { m_next = Next::Choose; m_path = path; }
    void cancel() { m_next = Next::Cancel; }
    void fail(int number) { m_next = Next::Fail; m_failure = number; }

    struct Shown
    {
        QString title, fileName, filter;
        bool cancelError;
    };
    QList<Shown> shown;

    void ShowOpen() override
    {
        shown.append({DialogTitle, FileName, Filter, CancelError});
        switch (m_next) {
        case Next::Choose:
            FileName = m_path;
            return;
        case Next::Cancel:
            if (CancelError)
                throw PlatformError{ErrorNumber::DialogCancelled, QStringLiteral("Cancel was selected.")};
            return;
        case Next::Fail:
            throw PlatformError{m_failure, QStringLiteral("The dialog failed")};
        }
    }

private:
    Next m_next = Next::Cancel;
    QString m_path;
    int m_failure = 0;
};
