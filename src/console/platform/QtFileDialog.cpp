#include "console/platform/QtFileDialog.h"

#include "platform/PlatformError.h"

#include <QFileDialog>

void QtFileDialog::ShowOpen()
{
    QFileDialog dialog(m_parent, DialogTitle);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed: a file that does not exist is reported when it
    // is opened, not here.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = qtNameFilters(Filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.selectFile(FileName);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        FileName = dialog.selectedFiles().constFirst();
        return;
    }
    if (CancelError)
        throw PlatformError{ErrorNumber::DialogCancelled, QStringLiteral("Cancel was selected.")};
}
