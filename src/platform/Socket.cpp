#include "platform/Socket.h"

#include "platform/PlatformError.h"
#include "platform/Tls.h"

#include <QAbstractEventDispatcher>
#include <QAbstractSocket>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Bytes taken from the system per read; a longer reply arrives in pieces.
constexpr size_t ReadPiece = 16384;

ssize_t readPiece(int fd, char (&piece)[ReadPiece])
{
    ssize_t n;
    do {
        n = ::read(fd, piece, sizeof piece);
    } while (n < 0 && errno == EINTR);
    return n;
}
constexpr int ListenBacklog = 50;
// After the system refused to hand over an incoming connection for want of
// descriptors or memory, the listener rests this long before it tries again.
constexpr int AcceptRetryMs = 100;
// The longest a connection under way goes unwatched, or a finished one stays
// open, in an event loop that is kept busy and never sleeps.
constexpr int IdleWorkMs = 1;

QString systemText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString dottedAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

socklen_t toSystemAddress(const QHostAddress &address, quint16 port, sockaddr_storage &out)
{
    std::memset(&out, 0, sizeof out);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto &v4 = reinterpret_cast<sockaddr_in &>(out);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof v4;
    }
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(out);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&v6.sin6_addr, bytes.c, sizeof bytes.c);
    if (const QString scope = address.scopeId(); !scope.isEmpty()) {
        bool numeric = false;
        const uint index = scope.toUInt(&numeric);
        v6.sin6_scope_id = numeric ? index : uint(QNetworkInterface::interfaceIndexFromName(scope));
    }
    return sizeof v6;
}

quint16 portOf(const sockaddr_storage &address)
{
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

struct Failure
{
    int number;
    QString description;
};

// A connection attempt that the system failed, in the numbers and words
// that the error event has always used.
Failure connectFailure(int errorNumber)
{
    switch (errorNumber) {
    case ECONNREFUSED:
        return {QAbstractSocket::ConnectionRefusedError, QStringLiteral("Connection refused")};
    case ETIMEDOUT:
        return {QAbstractSocket::SocketTimeoutError, QStringLiteral("Connection timed out")};
    case ENETUNREACH:
        return {QAbstractSocket::NetworkError, QStringLiteral("Network unreachable")};
    case EHOSTUNREACH:
        return {QAbstractSocket::NetworkError, QStringLiteral("Host unreachable")};
    case EACCES:
    case EPERM:
        return {QAbstractSocket::SocketAccessError, QStringLiteral("Permission denied")};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return {QAbstractSocket::SocketResourceError, systemText(errorNumber)};
    default:
        return {QAbstractSocket::NetworkError, systemText(errorNumber)};
    }
}

} // namespace

Socket::Socket(QObject *parent)
    : QObject(parent)
    , m_readNotifier(new QSocketNotifier(QSocketNotifier::Read, this))
    , m_writeNotifier(new QSocketNotifier(QSocketNotifier::Write, this))
    , m_listenNotifier(new QSocketNotifier(QSocketNotifier::Read, this))
    , m_connectTimeout([this] { onConnectTimeout(); })
    , m_idleWorkTimeout([this] { doIdleWork(); })
{
    connect(m_readNotifier, &QSocketNotifier::activated, this, &Socket::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &Socket::onWritable);
    connect(m_listenNotifier, &QSocketNotifier::activated, this, &Socket::onListenerReadable);
}

Socket::~Socket()
{
    abortLookup();
    closeConnection();
    closeFinishedConnection();
    closeListener();
    dropPendingRequests();
}

void Socket::setRemotePort(qint32 port)
{
    if (port < 1 || port > 65535)
        throw PlatformError{ErrorNumber::InvalidPropertyValue,
                            QStringLiteral("Invalid port %1: a port is a number from 1 to 65535").arg(port)};
    m_remotePort = port;
}

void Socket::setLocalPort(qint32 port)
{
    if (port < 0 || port > 65535)
        throw PlatformError{ErrorNumber::InvalidPropertyValue,
                            QStringLiteral("Invalid port %1: a port is a number from 0 to 65535").arg(port)};
    m_localPort = port;
}

void Socket::setProtocol(int protocol)
{
    if (protocol != 0)
        throw PlatformError{ErrorNumber::InvalidPropertyValue,
                            QStringLiteral("Invalid protocol %1: only TCP (0) is supported").arg(protocol)};
}

void Socket::Connect()
{
    if (m_state != Closed)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is busy (state %1) and cannot connect").arg(m_state)};
    const QString host = m_remoteHost.trimmed();
    if (host.isEmpty())
        throw PlatformError{ErrorNumber::InvalidArgument, QStringLiteral("No server address given")};
    if (m_remotePort < 1 || m_remotePort > 65535)
        throw PlatformError{ErrorNumber::InvalidArgument, QStringLiteral("No server port given")};

    ++m_generation;
    m_connectTimeout.start(m_connectTimeoutMs);
    // A numeric address needs no lookup; the same one is sent to again and
    // again, so the parsed form is kept.
    if (host != m_parsedHost) {
        m_parsedHost = host;
        m_parsedAddress = QHostAddress();
        m_parsedAddress.setAddress(host);
    }
    if (!m_parsedAddress.isNull()) {
        m_addresses = {m_parsedAddress};
        connectToNextAddress(0);
        return;
    }

    // A name is looked up away from the event thread; the answer comes as an event.
    setState(ResolvingHost);
    const quint64 attempt = m_generation;
    m_lookupId = QHostInfo::lookupHost(host, this, [this, attempt](const QHostInfo &info) {
        if (attempt != m_generation || m_state != ResolvingHost)
            return;
        m_lookupId = -1;
        m_addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || m_addresses.isEmpty())
            failConnection(QAbstractSocket::HostNotFoundError, QStringLiteral("Host not found"));
        else
            connectToNextAddress(0);
    });
}

void Socket::connectToNextAddress(int lastError)
{
    closeConnection();
    while (!m_addresses.isEmpty()) {
        const QHostAddress address = m_addresses.takeFirst();
        m_targetLength = toSystemAddress(address, quint16(m_remotePort), m_target);
        const int fd = ::socket(m_target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&m_target), m_targetLength) == 0
            || errno == EINPROGRESS) {
            // Up or under way: the descriptor turns writable when the
            // handshake has ended, either way. It is watched from the time
            // the event loop next goes to sleep: a caller that asks at once
            // (pollConnect) finds a fast connection up without it.
            m_fd = fd;
            m_peer = address;
            m_writeNotifier->setSocket(fd);
            setState(Connecting);
            scheduleIdleWork();
            return;
        }
        lastError = errno;
        ::close(fd);
    }
    setState(Connecting);
    const Failure failure = connectFailure(lastError ? lastError : ECONNREFUSED);
    failConnectionLater(failure.number, failure.description);
}

void Socket::SendData(const QByteArray &data)
{
    if (m_state != Connected || m_fd < 0)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is not connected (state %1): nothing sent").arg(m_state)};
    // Bytes still waiting go first; the rest follows them.
    if (!m_outgoing.isEmpty()) {
        m_outgoing += data;
        return;
    }
    m_outgoing = data;
    sendOutgoing(true);
}

void Socket::sendOutgoing(bool inCall)
{
    if (m_ssl) {
        sendTlsOutgoing(inCall);
        return;
    }
    while (!m_outgoing.isEmpty()) {
        const ssize_t n = ::send(m_fd, m_outgoing.constData(), size_t(m_outgoing.size()), MSG_NOSIGNAL);
        const int failure = errno;
        if (n == m_outgoing.size()) {
            m_outgoing.clear();
        } else if (n > 0) {
            m_outgoing.remove(0, n);
        } else if (failure == EINTR) {
            continue;
        } else if (failure == EAGAIN || failure == EWOULDBLOCK) {
            // The rest goes out as the system takes it.
            m_writeNotifier->setEnabled(true);
            return;
        } else {
            // A peer that has gone shows as the end of the connection on the
            // reading side; anything else fails the connection, reported as
            // an event even when found inside a call.
            m_outgoing.clear();
            if (failure != EPIPE && failure != ECONNRESET) {
                m_writeNotifier->setEnabled(false);
                if (inCall)
                    failConnectionLater(QAbstractSocket::NetworkError, systemText(failure));
                else
                    failConnection(QAbstractSocket::NetworkError, systemText(failure));
                return;
            }
        }
    }
    m_writeNotifier->setEnabled(false);
    if (std::exchange(m_shutdownWhenSent, false) && m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

void Socket::ShutdownSend()
{
    if (m_state != Connected || m_fd < 0)
        return;
    m_shutdownWhenSent = true;
    if (m_outgoing.isEmpty())
        sendOutgoing(true);
}

void Socket::Reset()
{
    if (m_fd >= 0) {
        // No lingering: the close sends a reset.
        const linger now{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    Close();
}

QByteArray Socket::GetData()
{
    return std::exchange(m_incoming, QByteArray());
}

void Socket::Close()
{
    ++m_generation;
    m_connectTimeout.stop();
    abortLookup();
    m_addresses.clear();
    closeConnection();
    closeListener();
    setState(Closed);
}

void Socket::Listen()
{
    if (m_state != Closed)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is busy (state %1) and cannot listen").arg(m_state)};
    ++m_generation;
    dropPendingRequests();

    // Every interface, IPv6 and IPv4 on one socket where the system has
    // IPv6, IPv4 alone where it has not.
    int failure = 0;
    for (const int family : {AF_INET6, AF_INET}) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            failure = errno;
            continue;
        }
        const int one = 1, zero = 0;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (family == AF_INET6)
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        sockaddr_storage address;
        socklen_t length = toSystemAddress(family == AF_INET6 ? QHostAddress(QHostAddress::AnyIPv6)
                                                              : QHostAddress(QHostAddress::AnyIPv4),
                                           quint16(m_localPort), address);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, ListenBacklog) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            failure = errno;
            ::close(fd);
            // A port in use or not allowed is so for both families.
            if (failure == EADDRINUSE || failure == EACCES)
                break;
            continue;
        }
        m_listenFd = fd;
        m_listenPort = portOf(address);
        m_listenNotifier->setSocket(fd);
        m_listenNotifier->setEnabled(true);
        setState(Listening);
        return;
    }
    throw PlatformError{ErrorNumber::InvalidArgument,
                        QStringLiteral("Unable to listen on port %1: %2").arg(m_localPort).arg(systemText(failure))};
}

void Socket::Accept(qint32 requestId)
{
    if (m_state != Closed)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is busy (state %1) and cannot accept").arg(m_state)};
    const auto request = m_pendingRequests.constFind(requestId);
    if (request == m_pendingRequests.constEnd())
        throw PlatformError{ErrorNumber::InvalidArgument,
                            QStringLiteral("No connection request with id %1").arg(requestId)};
    ++m_generation;
    m_fd = request->fd;
    m_peer = request->peer;
    m_pendingRequests.erase(request);
    dropPendingRequests();
    m_readNotifier->setSocket(m_fd);
    m_writeNotifier->setSocket(m_fd);
    // Bytes that came with the request are announced like any later arrival.
    m_readNotifier->setEnabled(true);
    setState(Connected);
}

qint32 Socket::LocalPort() const
{
    if (m_listenFd >= 0)
        return m_listenPort;
    if (m_fd >= 0 && (m_state == Connected || m_state == Closing)) {
        sockaddr_storage address;
        socklen_t length = sizeof address;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            return portOf(address);
    }
    return m_localPort;
}

QString Socket::LocalIP() const
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    }
    return QStringLiteral("127.0.0.1");
}

QString Socket::RemoteHostIP() const
{
    if (m_fd < 0)
        return QString();
    if (m_peerText.isEmpty() || m_peerTextOf != m_peer) {
        m_peerText = dottedAddress(m_peer);
        m_peerTextOf = m_peer;
    }
    return m_peerText;
}

bool Socket::isConnecting() const
{
    return m_state == ResolvingHost || m_state == Connecting;
}

void Socket::pollConnect()
{
    if (m_state != Connecting || m_fd < 0)
        return;
    if (m_ssl) {
        continueTlsHandshake(true);
        return;
    }
    // Asked again, the system tells how the attempt stands.
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&m_target), m_targetLength) == 0 || errno == EISCONN) {
        connectionUp(true);
    } else if (errno != EALREADY && errno != EINPROGRESS && errno != EINTR) {
        m_writeNotifier->setEnabled(false);
        connectToNextAddress(errno);
    }
}

void Socket::connectionUp(bool inCall)
{
    m_writeNotifier->setEnabled(false);
    if (m_tls && !m_ssl) {
        // The connection is up once TLS is: the connect timeout bounds the
        // handshake too.
        m_ssl = m_tls->open(m_fd);
        if (!m_ssl) {
            if (inCall)
                failConnectionLater(QAbstractSocket::SslInternalError, QStringLiteral("TLS could not be set up"));
            else
                failConnection(QAbstractSocket::SslInternalError, QStringLiteral("TLS could not be set up"));
            return;
        }
        m_readNotifier->setSocket(m_fd);
        continueTlsHandshake(inCall);
        return;
    }
    m_connectTimeout.stop();
    m_readNotifier->setSocket(m_fd);
    m_readNotifier->setEnabled(true);
    setState(Connected);
    emit connected();
}

void Socket::onWritable()
{
    if (m_state == Connecting) {
        m_writeNotifier->setEnabled(false);
        int failure = 0;
        socklen_t length = sizeof failure;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
            failure = errno;
        if (failure != 0) {
            // The next address of the host, if any, gets its turn.
            connectToNextAddress(failure);
            return;
        }
        if (m_ssl)
            continueTlsHandshake(false);
        else
            connectionUp(false);
        return;
    }
    sendOutgoing(false);
}

void Socket::continueTlsHandshake(bool inCall)
{
    m_writeNotifier->setEnabled(false);
    QString failure;
    switch (m_tls->handshake(m_ssl, &failure)) {
    case TlsStep::Done:
        connectionUp(inCall);
        return;
    case TlsStep::WantRead:
        m_readNotifier->setEnabled(true);
        return;
    case TlsStep::WantWrite:
        m_writeNotifier->setEnabled(true);
        return;
    case TlsStep::Closed:
    case TlsStep::Failed:
        m_readNotifier->setEnabled(false);
        if (inCall)
            failConnectionLater(QAbstractSocket::SslHandshakeFailedError, failure);
        else
            failConnection(QAbstractSocket::SslHandshakeFailedError, failure);
        return;
    }
}

void Socket::onTlsReadable()
{
    if (m_state == Connecting) {
        continueTlsHandshake(false);
        return;
    }
    QString failure;
    const qsizetype before = m_incoming.size();
    const TlsStep step = tlsRead(m_ssl, m_incoming, &failure);
    const quint64 connection = m_generation;
    if (m_incoming.size() > before)
        emit dataArrival(qint32(std::min<qsizetype>(m_incoming.size(), std::numeric_limits<qint32>::max())));
    // The reply's handler may have closed the connection.
    if (connection != m_generation || !m_ssl || step == TlsStep::WantRead || step == TlsStep::WantWrite)
        return;
    m_readNotifier->setEnabled(false);
    if (step == TlsStep::Failed) {
        failConnection(QAbstractSocket::SslInternalError, failure);
    } else if (m_state == Connected) {
        setState(Closing);
        emit closed();
    }
}

void Socket::sendTlsOutgoing(bool inCall)
{
    QString failure;
    switch (tlsWrite(m_ssl, m_outgoing, &failure)) {
    case TlsStep::Done:
    case TlsStep::WantRead:
        m_writeNotifier->setEnabled(false);
        return;
    case TlsStep::WantWrite:
        m_writeNotifier->setEnabled(true);
        return;
    case TlsStep::Closed:
        // A peer that has gone shows as the end on the reading side.
        m_outgoing.clear();
        m_writeNotifier->setEnabled(false);
        return;
    case TlsStep::Failed:
        m_outgoing.clear();
        m_writeNotifier->setEnabled(false);
        if (inCall)
            failConnectionLater(QAbstractSocket::SslInternalError, failure);
        else
            failConnection(QAbstractSocket::SslInternalError, failure);
        return;
    }
}

void Socket::onReadable()
{
    if (m_ssl) {
        onTlsReadable();
        return;
    }
    char piece[ReadPiece];
    const quint64 connection = m_generation;
    ssize_t n = 0;
    // With read-ahead a second read follows one that emptied the socket,
    // while it is still the same connection and still wants what comes next.
    for (int pass = 0; pass < (m_readAhead ? 2 : 1); ++pass) {
        if (pass > 0 && (connection != m_generation || m_state != Connected || m_fd < 0))
            return;
        n = readPiece(m_fd, piece);
        if (n <= 0)
            break;
        m_incoming.append(piece, n);
        emit dataArrival(qint32(std::min<qsizetype>(m_incoming.size(), std::numeric_limits<qint32>::max())));
        if (size_t(n) == sizeof piece)
            return;
    }
    if (n > 0)
        return;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // The end of the stream stays readable: stop watching, or it would wake
    // the loop for ever.
    m_readNotifier->setEnabled(false);
    if (n == 0 || errno == ECONNRESET) {
        // The peer ended the connection: the Close event, not a failure.
        if (m_state == Connected) {
            setState(Closing);
            emit closed();
        }
        return;
    }
    failConnection(QAbstractSocket::NetworkError, systemText(errno));
}

void Socket::onListenerReadable()
{
    while (m_listenFd >= 0) {
        sockaddr_storage peer;
        socklen_t length = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The request stays queued and the listener readable: rest
                // rather than spin until descriptors are free again.
                m_listenNotifier->setEnabled(false);
                const quint64 listener = m_generation;
                QTimer::singleShot(AcceptRetryMs, this, [this, listener] {
                    if (listener == m_generation && m_listenFd >= 0)
                        m_listenNotifier->setEnabled(true);
                });
            }
            return;
        }
        const qint32 id = m_nextRequestId++;
        m_pendingRequests.insert(id, Request{fd, QHostAddress(reinterpret_cast<sockaddr *>(&peer))});
        emit connectionRequest(id);
    }
}

void Socket::onConnectTimeout()
{
    if (!isConnecting())
        return;
    failConnection(QAbstractSocket::SocketTimeoutError,
                   QString::fromLatin1(m_ssl ? "TLS handshake timed out after %1 ms" : "Connection timed out after %1 ms")
                       .arg(m_connectTimeoutMs));
}

void Socket::failConnection(int number, const QString &description)
{
    m_connectTimeout.stop();
    abortLookup();
    m_addresses.clear();
    closeConnection();
    setState(Error);
    emit error(number, description);
}

void Socket::failConnectionLater(int number, const QString &description)
{
    // Failures found inside a call are reported as events, after the call,
    // like every other failure.
    const quint64 attempt = m_generation;
    QMetaObject::invokeMethod(this, [this, attempt, number, description] {
        if (attempt == m_generation && (isConnecting() || m_state == Connected))
            failConnection(number, description);
    }, Qt::QueuedConnection);
}

void Socket::closeConnection()
{
    m_shutdownWhenSent = false;
    m_incoming.clear();
    m_outgoing.clear();
    if (m_fd < 0)
        return;
    // A notifier must never watch a closed descriptor: its number is reused.
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    tlsClose(std::exchange(m_ssl, nullptr));
    // At most one finished connection waits to be closed.
    closeFinishedConnection();
    m_finishedFd = std::exchange(m_fd, -1);
    m_peer.clear();
    if (!m_closeWhenIdle)
        closeFinishedConnection();
    else
        scheduleIdleWork();
}

void Socket::closeFinishedConnection()
{
    if (m_finishedFd < 0)
        return;
    ::close(m_finishedFd);
    m_finishedFd = -1;
}

void Socket::scheduleIdleWork()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(thread());
    if (dispatcher != m_sleepWatch) {
        if (m_sleepWatch)
            disconnect(m_sleepWatch, &QAbstractEventDispatcher::aboutToBlock, this, &Socket::doIdleWork);
        m_sleepWatch = dispatcher;
        if (dispatcher)
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &Socket::doIdleWork);
    }
    if (dispatcher)
        m_idleWorkTimeout.start(IdleWorkMs);
    else
        doIdleWork();
}

void Socket::doIdleWork()
{
    m_idleWorkTimeout.stop();
    closeFinishedConnection();
    if (m_state == Connecting && m_fd >= 0)
        m_writeNotifier->setEnabled(true);
}

void Socket::closeListener()
{
    if (m_listenFd < 0)
        return;
    m_listenNotifier->setEnabled(false);
    ::close(m_listenFd);
    m_listenFd = -1;
}

void Socket::dropPendingRequests()
{
    for (const Request &request : std::as_const(m_pendingRequests))
        ::close(request.fd);
    m_pendingRequests.clear();
}

void Socket::abortLookup()
{
    if (m_lookupId < 0)
        return;
    QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
}

void Socket::setState(int state)
{
    const bool nowClosed = state == Closed && m_state != Closed;
    m_state = state;
    if (nowClosed)
        emit becameClosed();
}
