// Choosing the data file: the window runs the file-open dialog for the
// replay procedures.

#include "console/frmIPNDTCPServer.h"

#include "platform/FileDialog.h"

#include <QLineEdit>

void frmIPNDTCPServer::OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                                     const QString &filterText)
{
    chooseFile(commonDialog, title, source, filterText);
}

void frmIPNDTCPServer::showDataFilePath(const QString &path)
{
    lbIPNDfile->setText(path);
}
