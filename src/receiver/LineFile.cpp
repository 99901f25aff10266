#include "receiver/LineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace LineFile {

bool open(QFile &file, const QString &path, bool append, QByteArray *reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : O_TRUNC), 0666);
    if (fd < 0) {
        *reason = errno == ENXIO ? QByteArray("a pipe that nobody reads") : QByteArray(std::strerror(errno));
        return false;
    }
    // Once open, a slow reader of a pipe holds the writer back rather than
    // losing lines.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (file.open(fd, QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::OpenMode{}),
                  QFileDevice::AutoCloseHandle))
        return true;
    *reason = file.errorString().toLocal8Bit();
    ::close(fd);
    return false;
}

bool writeLine(QFile &file, const QByteArray &line)
{
    return file.write(line + '\n') == line.size() + 1 && file.flush();
}

} // namespace LineFile
