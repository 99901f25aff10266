#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

// One file under two names: a link, a hard link, "./a" and "a", or /dev/stdout
// and the pipe it stands for. A name not given is no file. Names of files not
// made yet are compared as absolute paths. Names are the bytes the system
// takes, which need not be valid UTF-8.
inline bool sameFile(const QByteArray &a, const QByteArray &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat statA = {};
    struct stat statB = {};
    const bool aExists = ::stat(a.constData(), &statA) == 0;
    const bool bExists = ::stat(b.constData(), &statB) == 0;
    if (aExists || bExists)
        return aExists && bExists && statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    // One character per byte: the bytes compare as they are. The current
    // folder is taken as bytes too: decoded as text, a folder whose name is
    // not ASCII would not match the absolute spelling of the same name.
    const auto absolute = [](const QByteArray &name) {
        QByteArray path = name;
        if (char *folder = path.startsWith('/') ? nullptr : ::getcwd(nullptr, 0)) {
            path = QByteArray(folder) + '/' + path;
            std::free(folder);
        }
        return QDir::cleanPath(QString::fromLatin1(path));
    };
    return absolute(a) == absolute(b);
}

inline bool sameFile(const QString &a, const QString &b)
{
    return sameFile(QFile::encodeName(a), QFile::encodeName(b));
}
