#include "platform/Socket.h"

#include "platform/PlatformError.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QString dottedAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

Socket::Socket(QObject *parent)
    : QObject(parent)
    , m_connectTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, &Socket::onConnectTimeout);
}

Socket::~Socket()
{
    dropConnection();
    dropListener();
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
    if (m_remoteHost.trimmed().isEmpty())
        throw PlatformError{ErrorNumber::InvalidArgument, QStringLiteral("No server address given")};
    if (m_remotePort < 1 || m_remotePort > 65535)
        throw PlatformError{ErrorNumber::InvalidArgument, QStringLiteral("No server port given")};

    ++m_generation;
    auto *socket = new QTcpSocket(this);
    adoptConnection(socket);
    connect(socket, &QTcpSocket::hostFound, this, [this] { setState(HostResolved); });
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        m_connectTimer->stop();
        setState(Connected);
        emit connected();
    });
    setState(ResolvingHost);
    m_connectTimer->start(m_connectTimeoutMs);
    socket->connectToHost(m_remoteHost, quint16(m_remotePort));
    if (m_connection == socket && socket->state() == QAbstractSocket::ConnectingState && m_state == ResolvingHost)
        setState(Connecting);
}

void Socket::SendData(const QByteArray &data)
{
    if (m_state != Connected || !m_connection)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is not connected (state %1): nothing sent").arg(m_state)};
    if (m_connection->write(data) != data.size())
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket refused the data: %1").arg(m_connection->errorString())};
}

QByteArray Socket::GetData()
{
    return m_connection ? m_connection->readAll() : QByteArray();
}

void Socket::Close()
{
    ++m_generation;
    m_connectTimer->stop();
    dropConnection();
    dropListener();
    setState(Closed);
}

void Socket::Listen()
{
    if (m_state != Closed)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is busy (state %1) and cannot listen").arg(m_state)};
    ++m_generation;
    dropPendingRequests();
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress::Any, quint16(m_localPort))) {
        const QString reason = server->errorString();
        delete server;
        throw PlatformError{ErrorNumber::InvalidArgument,
                            QStringLiteral("Unable to listen on port %1: %2").arg(m_localPort).arg(reason)};
    }
    m_listener = server;
    connect(server, &QTcpServer::newConnection, this, &Socket::onNewConnection);
    setState(Listening);
}

void Socket::Accept(qint32 requestId)
{
    if (m_state != Closed)
        throw PlatformError{ErrorNumber::WrongSocketState,
                            QStringLiteral("The socket is busy (state %1) and cannot accept").arg(m_state)};
    QTcpSocket *socket = m_pendingRequests.take(requestId);
    if (!socket)
        throw PlatformError{ErrorNumber::InvalidArgument,
                            QStringLiteral("No connection request with id %1").arg(requestId)};
    ++m_generation;
    dropPendingRequests();
    adoptConnection(socket);
    setState(Connected);
    // Bytes that came with the request are announced like any later arrival.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, [this, socket] {
            if (m_connection == socket && socket->bytesAvailable() > 0)
                emit dataArrival(qint32(socket->bytesAvailable()));
        }, Qt::QueuedConnection);
}

qint32 Socket::LocalPort() const
{
    if (m_listener)
        return m_listener->serverPort();
    if (m_connection && m_connection->state() == QAbstractSocket::ConnectedState)
        return m_connection->localPort();
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
    return m_connection ? dottedAddress(m_connection->peerAddress()) : QString();
}

bool Socket::isConnecting() const
{
    return m_state == ResolvingHost || m_state == HostResolved || m_state == Connecting;
}

void Socket::adoptConnection(QTcpSocket *socket)
{
    dropConnection();
    m_connection = socket;
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (m_connection == socket)
            emit dataArrival(qint32(socket->bytesAvailable()));
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        // Only a close by the peer arrives here: Close() disconnects first.
        if (m_connection == socket && m_state == Connected) {
            setState(Closing);
            emit closed();
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this, &Socket::onSocketError);
}

void Socket::dropConnection()
{
    if (!m_connection)
        return;
    QTcpSocket *socket = m_connection;
    m_connection = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void Socket::dropListener()
{
    if (!m_listener)
        return;
    m_listener->disconnect(this);
    m_listener->close();
    m_listener->deleteLater();
    m_listener = nullptr;
}

void Socket::dropPendingRequests()
{
    for (QTcpSocket *socket : std::as_const(m_pendingRequests)) {
        socket->abort();
        socket->deleteLater();
    }
    m_pendingRequests.clear();
}

void Socket::onSocketError()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_connection)
        return;
    // A peer that ends the connection is the Close event, not a failure.
    if (socket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    m_connectTimer->stop();
    setState(Error);
    emit error(int(socket->error()), socket->errorString());
}

void Socket::onNewConnection()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket *socket = m_listener->nextPendingConnection();
        socket->setParent(this);
        const qint32 id = m_nextRequestId++;
        m_pendingRequests.insert(id, socket);
        emit connectionRequest(id);
    }
}

void Socket::onConnectTimeout()
{
    if (!isConnecting() || !m_connection)
        return;
    m_connection->disconnect(this);
    m_connection->abort();
    setState(Error);
    emit error(int(QAbstractSocket::SocketTimeoutError),
               QStringLiteral("Connection timed out after %1 ms").arg(m_connectTimeoutMs));
}

void Socket::setState(int state)
{
    const bool nowClosed = state == Closed && m_state != Closed;
    m_state = state;
    if (nowClosed)
        emit becameClosed();
}
