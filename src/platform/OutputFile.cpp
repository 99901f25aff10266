#include "platform/OutputFile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Flushes what is buffered. A flush that a filling disk cut short says
// nothing of why (Qt's "Unknown error"): the rest is flushed again, and that
// try fails with the system's reason.
bool flushAll(QFileDevice &file)
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

// A file written whole: into a new file beside it that commit() puts in its
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
            setErrorString(systemError(errno));
            m_temporary.clear();
            return;
        }
        if (!inPlace)
            ::fchmod(fd, replacedMode());
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
            setErrorString(systemError(errno));
            return false;
        }
        m_temporary.clear();
        close();
        return true;
    }

private:
    // The mode of the file it replaces, or of a new file.
    mode_t replacedMode() const
    {
        struct stat info = {};
        if (::stat(m_name.constData(), &info) == 0)
            return info.st_mode & 07777;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return 0666 & ~mask;
    }

    QByteArray m_name;
    QByteArray m_temporary;
};

// A file that could not be opened, and why.
class Unopened final : public QFile
{
public:
    explicit Unopened(const QString &why) { setErrorString(why); }
};

// A file open on a descriptor of its own; when there is none, why (the
// open's errno) in errorString(). Only an open without waiting meets ENXIO:
// the pipe has no reader.
std::unique_ptr<QFileDevice> onDescriptor(int fd, bool unbuffered)
{
    if (fd < 0)
        return std::make_unique<Unopened>(errno == ENXIO ? QStringLiteral("no process is reading the pipe")
                                                         : systemError(errno));
    auto file = std::make_unique<QFile>();
    const QIODevice::OpenMode mode = unbuffered ? QIODevice::WriteOnly | QIODevice::Unbuffered : QIODevice::WriteOnly;
    if (!file->open(fd, mode, QFileDevice::AutoCloseHandle))
        ::close(fd);
    return file;
}

std::unique_ptr<QFileDevice> open(const QByteArray &name, const QString *text, const OutputWay &way)
{
    const QIODevice::OpenMode mode = way.unbuffered ? QIODevice::WriteOnly | QIODevice::Unbuffered
                                                    : QIODevice::WriteOnly;
    if (way.standardOutput && isStandardOutput(name)) {
        auto file = std::make_unique<QFile>();
        file->open(STDOUT_FILENO, mode, QFileDevice::DontCloseHandle);
        return file;
    }
    struct stat info = {};
    const bool other = ::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode);
    if (other && way.other == OutputWay::Other::WithoutWaiting && !S_ISDIR(info.st_mode)) {
        return onDescriptor(openWithoutWaiting(name), true);
    }
    if (other && way.other == OutputWay::Other::InPlace)
        return std::make_unique<WholeFile>(name, true);
    if (way.file == OutputWay::File::Truncated)
        return onDescriptor(::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666), way.unbuffered);
    if (!text)
        return std::make_unique<WholeFile>(name, false);
    auto save = std::make_unique<QSaveFile>(*text);
    save->open(mode);
    return save;
}

} // namespace

bool isDeviceOrPipe(const QByteArray &name)
{
    struct stat info = {};
    return ::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool isDeviceOrPipe(const QString &name)
{
    return isDeviceOrPipe(QFile::encodeName(name));
}

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

std::unique_ptr<QFileDevice> openOutput(const QString &name, const OutputWay &way)
{
    return open(QFile::encodeName(name), &name, way);
}

std::unique_ptr<QFileDevice> openOutput(const QByteArray &name, const OutputWay &way)
{
    return open(name, nullptr, way);
}

int openWithoutWaiting(const QByteArray &name, int flags, mode_t mode)
{
    return ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | flags, mode);
}

bool writeAll(QIODevice &file, const QByteArray &bytes, QString *error)
{
    const auto *device = qobject_cast<QFileDevice *>(&file);
    for (qint64 done = 0; done < bytes.size();) {
        errno = 0;
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written > 0) {
            done += written;
            continue;
        }
        const bool full = errno == EAGAIN || errno == EWOULDBLOCK;
        const int fd = device ? device->handle() : -1;
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

bool commitWhole(QFileDevice &file)
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

bool saveWhole(const QString &name, const QByteArray &bytes, QString *error)
{
    const std::unique_ptr<QFileDevice> file = openOutput(name, {OutputWay::File::Replaced, OutputWay::Other::AsFile});
    if (file->isOpen() && writeAll(*file, bytes, error) && commitWhole(*file))
        return true;
    *error = file->errorString();
    return false;
}
