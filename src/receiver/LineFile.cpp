#include "receiver/LineFile.h"

#include "platform/OutputFile.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray errorText(int error)
{
    return error == EPIPE ? QByteArray("its reader has gone") : systemError(error).toLocal8Bit();
}

} // namespace

LineFile::LineFile() = default;

LineFile::~LineFile()
{
    close();
}

bool LineFile::open(const QString &path, bool append, QByteArray *reason)
{
    // Kept non-blocking: the descriptor is this file's own.
    const int fd = openWithoutWaiting(QFile::encodeName(path), O_CREAT | (append ? O_APPEND : O_TRUNC));
    if (fd < 0) {
        *reason = errno == ENXIO ? QByteArray("a pipe that nobody reads") : errorText(errno);
        return false;
    }
    return start(fd, true, reason);
}

bool LineFile::openStandardOutput(QByteArray *reason)
{
    // A terminal or file shares its flags with the shell: only a pipe or a
    // socket, which a reader may stop reading, is made non-blocking.
    struct stat info{};
    if (::fstat(STDOUT_FILENO, &info) != 0) {
        *reason = errorText(errno);
        return false;
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        m_restoreFlags = ::fcntl(STDOUT_FILENO, F_GETFL);
        if (m_restoreFlags >= 0)
            ::fcntl(STDOUT_FILENO, F_SETFL, m_restoreFlags | O_NONBLOCK);
    }
    return start(STDOUT_FILENO, false, reason);
}

bool LineFile::start(int fd, bool owned, QByteArray *reason)
{
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        *reason = errorText(errno);
        if (owned)
            ::close(fd);
        return false;
    }
    m_fd = fd;
    m_owned = owned;
    m_regular = S_ISREG(info.st_mode);
    return true;
}

bool LineFile::writeLine(const QByteArray &line, QByteArray *reason)
{
    if (!m_failure.isEmpty()) {
        ++m_lost;
        *reason = m_failure;
        return false;
    }
    if (!m_waiting.isEmpty()) {
        if (m_waitingBytes + line.size() + 1 > MostWaiting) {
            ++m_lost;
            *reason = "its reader has left " + QByteArray::number(m_waitingBytes) + " bytes unread";
            return false;
        }
        m_waiting.append(line + '\n');
        m_waitingBytes += line.size() + 1;
        return true;
    }

    const QByteArray whole = line + '\n';
    // Lines only ever go at the end, appended or not.
    const off_t before = m_regular ? ::lseek(m_fd, 0, SEEK_END) : -1;
    qsizetype done = 0;
    while (done < whole.size()) {
        const ssize_t n = ::write(m_fd, whole.constData() + done, size_t(whole.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        const int error = n == 0 ? ENOSPC : errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // The rest follows as the reader takes what came before.
            m_waiting.append(whole.mid(done));
            m_waitingBytes = whole.size() - done;
            m_written = 0;
            if (!m_writable) {
                m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
                QObject::connect(m_writable.get(), &QSocketNotifier::activated, m_writable.get(),
                                 [this] { writeWaiting(); });
            }
            m_writable->setEnabled(true);
            return true;
        }
        // Written in part: cut off again where the file can be cut, else
        // nothing more can follow the half line.
        if (done > 0 && !(m_regular && before >= 0 && ::ftruncate(m_fd, before) == 0 &&
                          ::lseek(m_fd, before, SEEK_SET) == before))
            m_failure = "a line was cut off: " + errorText(error);
        if (error == EPIPE)
            m_failure = errorText(error);
        ++m_lost;
        *reason = errorText(error);
        return false;
    }
    return true;
}

bool LineFile::writeWaiting()
{
    while (!m_waiting.isEmpty()) {
        const QByteArray &first = m_waiting.constFirst();
        const ssize_t n = ::write(m_fd, first.constData() + m_written, size_t(first.size() - m_written));
        if (n > 0) {
            m_written += n;
            if (m_written == first.size()) {
                m_waitingBytes -= first.size();
                m_waiting.removeFirst();
                m_written = 0;
            }
            continue;
        }
        const int error = n == 0 ? ENOSPC : errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return true;
        fail(errorText(error));
        return false;
    }
    m_writable->setEnabled(false);
    return true;
}

void LineFile::fail(const QByteArray &reason)
{
    // Whatever waited may follow part of a line: none of it can be written.
    m_failure = reason;
    m_lost += int(m_waiting.size());
    m_waiting.clear();
    m_waitingBytes = 0;
    m_written = 0;
    if (m_writable)
        m_writable->setEnabled(false);
}

void LineFile::finish(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!m_waiting.isEmpty() && writeWaiting() && !m_waiting.isEmpty()) {
        pollfd writable{m_fd, POLLOUT, 0};
        if (deadline.hasExpired() || ::poll(&writable, 1, int(deadline.remainingTime())) <= 0) {
            fail("its reader took no more before the end");
            return;
        }
    }
}

void LineFile::close()
{
    m_writable.reset();
    if (m_fd < 0)
        return;
    if (m_restoreFlags >= 0)
        ::fcntl(m_fd, F_SETFL, m_restoreFlags);
    if (m_owned)
        ::close(m_fd);
    m_fd = -1;
}
