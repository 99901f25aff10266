#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
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

// Something under the name that is neither a regular file nor a directory:
// a device, a pipe or a socket.
inline bool isDeviceOrPipe(const QByteArray &name)
{
    struct stat info = {};
    return ::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

inline bool isDeviceOrPipe(const QString &name)
{
    return isDeviceOrPipe(QFile::encodeName(name));
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

// Flushes what is buffered. A flush that a filling disk cut short says
// nothing of why (Qt's "Unknown error"): the rest is flushed again, and that
// try fails with the system's reason.
inline bool flushAll(QFileDevice &file)
{
    qint64 left = file.bytesToWrite();
    while (!file.flush()) {
        const qint64 now = file.bytesToWrite();
        if (now == 0 || now >= left)
            return false;
        left = now;
    }
    return true;
}

// A file named by its bytes (not valid UTF-8, perhaps, which a save cannot be
// given), written whole: into a new file beside it that commit() puts in its
// place, so that dropped before that it leaves the file as it was; or,
// `inPlace`, straight into what is under the name (a device, a pipe).
class WholeFile final : public QFile
{
public:
    WholeFile(const QByteArray &name, bool inPlace) : m_name(name)
    {
        if (!inPlace)
            m_temporary = m_name + ".XXXXXX";
        const int fd = inPlace ? ::open(m_name.constData(), O_WRONLY | O_CLOEXEC)
                               : ::mkostemp(m_temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
            m_temporary.clear();
            return;
        }
        if (!inPlace) {
            // The mode of the file it replaces, or of a new file.
            struct stat info = {};
            mode_t mode = 0;
            if (::stat(m_name.constData(), &info) == 0) {
                mode = info.st_mode & 07777;
            } else {
                mode = ::umask(0);
                ::umask(mode);
                mode = 0666 & ~mode;
            }
            ::fchmod(fd, mode);
        }
        QFile::open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    }
    ~WholeFile() override
    {
        if (m_temporary.isEmpty())
            return;
        close();
        ::unlink(m_temporary.constData());
    }
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    bool commit()
    {
        if (!isOpen() || !flushAll(*this) || error() != QFileDevice::NoError)
            return false;
        // On the disk before the name points at it, as a save does.
        if (!m_temporary.isEmpty()
            && (::fdatasync(handle()) != 0 || ::rename(m_temporary.constData(), m_name.constData()) != 0)) {
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_temporary.clear();
        close();
        return true;
    }

private:
    QByteArray m_name;
    QByteArray m_temporary;
};

// As openWhole() above, for a name given as bytes.
inline std::unique_ptr<QFileDevice> openWhole(const QByteArray &name, bool inPlace)
{
    return std::make_unique<WholeFile>(name, inPlace);
}

// Opens what is under the name, a device or a pipe, for writing without
// waiting: the open of a pipe nobody reads would block for ever. The file
// stays non-blocking; writeAll() waits for the reader in a way a signal ends.
// False, with the reason in `error`, when it cannot be opened or no process
// reads the pipe.
inline bool openWithoutWaiting(QFile &file, const QString &name, QString *error)
{
    const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENXIO ? QStringLiteral("no process is reading the pipe")
                                : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file.errorString();
        return false;
    }
    return true;
}

// All of `bytes`, or false with the reason in `error`. What one write left
// over is written again: a disk that filled up then says so ("No space left
// on device") instead of leaving a short count and no reason. A full pipe
// opened by openWithoutWaiting() is waited for; a signal ends the wait (a
// poll is never restarted), so a reader that stopped reading cannot hold up
// a stop.
inline bool writeAll(QFileDevice &file, const QByteArray &bytes, QString *error)
{
    for (qint64 done = 0; done < bytes.size();) {
        errno = 0;
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written > 0) {
            done += written;
            continue;
        }
        const bool full = errno == EAGAIN || errno == EWOULDBLOCK;
        const int fd = file.handle();
        pollfd wait{fd, POLLOUT, 0};
        if (!full || fd < 0) {
            *error = file.errorString();
            return false;
        }
        if (::poll(&wait, 1, -1) != 1 || (wait.revents & (POLLERR | POLLHUP))) {
            *error = errno == EINTR ? QStringLiteral("stopped while the pipe's reader was not reading")
                                    : QStringLiteral("the pipe's reader has gone");
            return false;
        }
    }
    return true;
}

// The save put in place, or what was written flushed and the file closed.
// False, with the reason in errorString(), when it could not be written.
inline bool commitWhole(QFileDevice &file)
{
    if (auto *save = qobject_cast<QSaveFile *>(&file))
        return save->commit();
    if (auto *whole = dynamic_cast<WholeFile *>(&file))
        return whole->commit();
    if (!flushAll(file) || file.error() != QFileDevice::NoError)
        return false;
    file.close();
    return true;
}
