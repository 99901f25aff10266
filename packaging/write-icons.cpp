// Writes the window icon as PNG files for the desktop: DIR/16/ipnd-testgen.png
// and DIR/32/ipnd-testgen.png, from the same drawing as the window's icon.

#include "console/platform/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen"); // runs at build time, no display
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: write-icons DIR\n", stderr);
        return 2;
    }
    const QIcon icon = appIcon();
    for (const int size : {16, 32}) {
        const QString folder = QStringLiteral("%1/%2").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) || !icon.pixmap(size, size).save(folder + QStringLiteral("/ipnd-testgen.png"))) {
            std::fprintf(stderr, "write-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
