// Choosing the data file: the window runs the file-open dialog for the
// replay procedures.

#include "console/frmIPNDTCPServer.h"

#include "platform/FileDialog.h"
#include "platform/PlatformError.h"

#include <QLineEdit>

void frmIPNDTCPServer::OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                                     const QString &filterText)
{
    commonDialog.DialogTitle = title;
    commonDialog.FileName = source;
    commonDialog.CancelError = true;
    commonDialog.Filter = filterText;

    // From here on no failure leaves: a cancel keeps the caller's name, any
    // other failure of the dialog is absorbed.
    QString chosen;
    int failure = 0;
    try {
        commonDialog.ShowOpen();
        if (!commonDialog.FileName.isEmpty())
            chosen = commonDialog.FileName;
    } catch (const PlatformError &error) {
        failure = error.number;
    }
    if (failure == ErrorNumber::DialogCancelled)
        chosen.clear();
    if (!chosen.isEmpty())
        source = chosen;
}

void frmIPNDTCPServer::showDataFilePath(const QString &path)
{
    lbIPNDfile->setText(path);
}
