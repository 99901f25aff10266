#pragma once

// A listener on 127.0.0.1 whose accept queue is full: further connection
// requests are dropped, so a connection to it stays pending until the client
// gives up. Nothing is ever accepted.

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class PendingListener
{
public:
    PendingListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // One connection fills a queue of length 0.
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        if (!m_filler.waitForConnected(5000))
            m_port = 0;
    }
    ~PendingListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PendingListener(const PendingListener &) = delete;
    PendingListener &operator=(const PendingListener &) = delete;

    // 0 when the listener could not be set up.
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
};

// A loopback port that no one listens on: a connection to it is refused.
inline quint16 closedPort()
{
    QTcpServer closed;
    return closed.listen(QHostAddress::LocalHost, 0) ? closed.serverPort() : 0;
}
