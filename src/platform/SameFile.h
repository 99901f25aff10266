#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <memory>

#include <sys/stat.h>

// One file under two names: a link, a hard link, "./a" and "a", or /dev/stdout
// and the pipe it stands for. A name not given is no file. Names of files not
// made yet are compared as absolute paths.
inline bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat statA = {};
    struct stat statB = {};
    const bool aExists = ::stat(QFile::encodeName(a).constData(), &statA) == 0;
    const bool bExists = ::stat(QFile::encodeName(b).constData(), &statB) == 0;
    if (aExists || bExists)
        return aExists && bExists && statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// Something under the name that is neither a regular file nor a directory:
// a device, a pipe or a socket.
inline bool isDeviceOrPipe(const QString &name)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(name).constData(), &info) == 0 && !S_ISREG(info.st_mode)
        && !S_ISDIR(info.st_mode);
}

// A file written whole: through a save, so that no reader ever sees half of
// it, or, `inPlace`, straight into what is under the name (a device, a pipe).
// isOpen() or errorString() tells how the open went; commitWhole() ends it.
inline std::unique_ptr<QFileDevice> openWhole(const QString &name, bool inPlace)
{
    std::unique_ptr<QFileDevice> file;
    if (inPlace)
        file = std::make_unique<QFile>(name);
    else
        file = std::make_unique<QSaveFile>(name);
    file->open(QIODevice::WriteOnly);
    return file;
}

// The save put in place, or what was written flushed and the file closed.
// False, with the reason in errorString(), when it could not be written.
inline bool commitWhole(QFileDevice &file)
{
    if (auto *save = qobject_cast<QSaveFile *>(&file))
        return save->commit();
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return false;
    file.close();
    return true;
}
