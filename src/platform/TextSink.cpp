#include "platform/TextSink.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool DescriptorSink::write(QByteArrayView text)
{
    const char *data = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n >= 0) {
            data += n;
            left -= n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor left non-blocking by whoever shares it.
            pollfd waitFor{m_fd, POLLOUT, 0};
            if (::poll(&waitFor, 1, -1) >= 0 || errno == EINTR)
                continue;
        }
        m_error = errno;
        return false;
    }
    return true;
}
