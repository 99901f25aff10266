#include "console/frmIPNDTCPServer.h"
#include "platform/Version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipnd-testgen"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version::FileVersion));
    frmIPNDTCPServer window;
    window.show();
    return app.exec();
}
