#include "link/Link.h"

#include "platform/Convert.h"
#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"

#include <QTimer>

#include <limits>
#include <utility>

namespace {
constexpr qint16 Originate = 2;
constexpr qint16 ListenMode = 1;
} // namespace

QString sendFailureLine(const PlatformError &failure)
{
    return QStringLiteral("Send failed: %1 (error %2)").arg(failure.description).arg(failure.number);
}

Link::Link(LinkHost &host, QObject *parent)
    : QObject(parent)
    , wskMessage(new Socket(this))
    , m_host(host)
    , m_replyGap([this] {
        if (replyUnderWay())
            endReply();
    })
{
    wskMessage->setObjectName(QStringLiteral("wskMessage"));
    connect(wskMessage, &Socket::connected, this, &Link::wskMessage_Connect);
    connect(wskMessage, &Socket::dataArrival, this, &Link::wskMessage_DataArrival);
    connect(wskMessage, &Socket::closed, this, &Link::wskMessage_Close);
    connect(wskMessage, &Socket::connectionRequest, this, &Link::wskMessage_ConnectionRequest);
    connect(wskMessage, &Socket::error, this, &Link::wskMessage_Error);
    // A closed socket holds no connection: the flag must not outlive it, or
    // the next send would take it for its own connection.
    connect(wskMessage, &Socket::becameClosed, this, [this] { TCPConnected = 0; });
}

SendResult Link::SendTCPPacket(const QByteArray &source)
{
    // A busy socket drops the packet: the receiver is still answering the last
    // one, or the link waits for a peer.
    if (wskMessage->State() != Socket::Closed)
        return SendResult::Busy;

    OpenConnection(Originate);

    // Sleep in the event loop until this connection is up or has ended. Every
    // ending closes the socket or marks it failed, and the socket's own
    // connect timeout guarantees that one of them comes.
    const quint64 ownConnection = wskMessage->generation();
    if (serveEventsWhileConnecting)
        dispatchPendingEvents();
    // On a fast network the connection is up already: then no wait.
    wskMessage->pollConnect();
    while (!TCPConnected && wskMessage->generation() == ownConnection && wskMessage->isConnecting())
        waitAndDispatchEvents();

    // The wait may have ended for another reason than our own connection
    // coming up: refused, timed out, closed by the operator, or already
    // answered and closed. Then there is nothing to send on.
    if (!TCPConnected || wskMessage->generation() != ownConnection || wskMessage->State() != Socket::Connected)
        return SendResult::NoConnection;
    wskMessage->SendData(source);
    return SendResult::Sent;
}

bool Link::startSend(const QByteArray &source)
{
    if (wskMessage->State() != Socket::Closed)
        return false;
    OpenConnection(Originate);
    m_waitingPacket = source;
    m_waitingConnection = wskMessage->generation();
    // On a fast network the connection is up already, and the packet goes now.
    wskMessage->pollConnect();
    return true;
}

void Link::Close()
{
    m_gathered.clear();
    m_replyGap.stop();
    m_waitingPacket.clear();
    m_waitingConnection = 0;
    if (wskMessage->State() != Socket::Closed)
        wskMessage->Close();
}

void Link::OpenConnection(qint16 mode)
{
    if (mode == ListenMode) {
        wskMessage->setLocalPort(toInt32(m_host.serverPort()));
        wskMessage->Listen();
        m_host.InsertLog("TCP Remote Server: Local port <" + QByteArray::number(wskMessage->LocalPort())
                         + "> Local IP <" + wskMessage->LocalIP().toLatin1() + " > ");
        return;
    }
    wskMessage->setRemoteHost(m_host.serverAddress());
    wskMessage->setRemotePort(toInt32(m_host.serverPort()));
    wskMessage->setProtocol(0);
    wskMessage->Connect();
    // The labels say "Local" but the values are the server's port and address.
    // The same server is sent to again and again: the line is made once.
    if (wskMessage->RemotePort() != m_originatePort || wskMessage->RemoteHost() != m_originateHost
        || m_originateLine.isEmpty()) {
        m_originatePort = wskMessage->RemotePort();
        m_originateHost = wskMessage->RemoteHost();
        m_originateLine = QStringLiteral("TCP TCP Originate: Local port <%1> Local IP <%2 > ")
                              .arg(m_originatePort)
                              .arg(m_originateHost);
    }
    m_host.InsertLogText(m_originateLine);
}

void Link::wskMessage_Connect()
{
    skipFailure([&] { m_host.InsertLog(QByteArrayLiteral("Event: Connected")); });
    TCPConnected = -1;
    if (m_waitingConnection == 0)
        return;
    // Only the connection that startSend opened carries its packet.
    const bool own = m_waitingConnection == wskMessage->generation();
    const QByteArray packet = std::exchange(m_waitingPacket, QByteArray());
    m_waitingConnection = 0;
    if (!own)
        return;
    if (m_misbehaviour.mode != Misbehaviour::Mode::None) {
        misbehave(packet);
        return;
    }
    try {
        wskMessage->SendData(packet);
    } catch (const PlatformError &failure) {
        // Ends as a connection that failed: the packet never went out.
        skipFailure([&] { m_host.InsertLogText(sendFailureLine(failure)); });
        skipFailure([&] { wskMessage->Close(); });
        emit connectionFailed(failure.number, failure.description);
        return;
    }
    emit packetSent();
}

void Link::misbehave(const QByteArray &packet)
{
    m_pieces = m_misbehaviour.pieces(packet);
    writePiece(wskMessage->generation());
}

void Link::writePiece(quint64 connection)
{
    // The connection may have ended meanwhile: then the rest is dropped.
    if (wskMessage->generation() != connection || wskMessage->State() != Socket::Connected)
        return;
    if (m_pieces.isEmpty()) {
        if (m_misbehaviour.mode == Misbehaviour::Mode::HalfClose)
            wskMessage->ShutdownSend();
        emit packetSent();
        if (m_misbehaviour.mode == Misbehaviour::Mode::Reset)
            wskMessage->Reset();
        return;
    }
    const auto [delay, bytes] = m_pieces.takeFirst();
    QTimer::singleShot(delay, Qt::PreciseTimer, this, [this, connection, bytes = bytes] {
        if (wskMessage->generation() != connection || wskMessage->State() != Socket::Connected)
            return;
        try {
            if (!bytes.isEmpty())
                wskMessage->SendData(bytes);
        } catch (const PlatformError &failure) {
            skipFailure([&] { m_host.InsertLogText(sendFailureLine(failure)); });
            skipFailure([&] { wskMessage->Close(); });
            emit connectionFailed(failure.number, failure.description);
            return;
        }
        writePiece(connection);
    });
}

void Link::wskMessage_DataArrival(qint32 /*bytesTotal*/)
{
    QByteArray piece;
    skipFailure([&] { piece = wskMessage->GetData(); });
    if (replyGapMs < 0) {
        m_replyQuietNs = 0;
        replyArrived(piece);
        return;
    }
    m_gathered += piece;
    m_lastPiece.start();
    if (piece.contains('\n'))
        endReply();
    else
        m_replyGap.start(replyGapMs);
}

void Link::endReply()
{
    if (!replyUnderWay())
        return;
    m_replyGap.stop();
    m_replyQuietNs = m_lastPiece.isValid() ? m_lastPiece.nsecsElapsed() : 0;
    replyArrived(std::exchange(m_gathered, QByteArray()));
}

void Link::replyArrived(const QByteArray &reply)
{
    skipFailure([&] {
        // Made again only for another server.
        if (const QString peer = wskMessage->RemoteHostIP(); peer != m_arrivalPeer || m_arrivalLine.isEmpty()) {
            m_arrivalPeer = peer;
            m_arrivalLine = "Event: <" + peer.toLatin1() + "> Data Pkt Rxd";
        }
        m_host.InsertLog(m_arrivalLine);
    });
    skipFailure([&] { HandleReply(reply); });
    // The count stops at its maximum rather than wrapping.
    if (Processed < std::numeric_limits<qint32>::max())
        ++Processed;
    m_host.showProcessed(Processed);
    emit replyHandled(reply);
}

void Link::HandleReply(const QByteArray &reply)
{
    m_host.showReply(reply);
    TCPConnected = 0;
    skipFailure([&] { wskMessage->Close(); });
}

void Link::wskMessage_Close()
{
    // The peer's close ends a reply under way: it is an answer, not a close.
    if (replyUnderWay()) {
        endReply();
        return;
    }
    skipFailure([&] { m_host.InsertLog("Event: Port Closed"); });
    skipFailure([&] {
        if (wskMessage->State() != Socket::Closed)
            wskMessage->Close();
    });
    if (listenAfterPeerClose)
        skipFailure([&] { wskMessage->Listen(); });
    emit peerClosed();
}

void Link::wskMessage_ConnectionRequest(qint32 requestId)
{
    skipFailure([&] {
        if (wskMessage->State() != Socket::Closed)
            wskMessage->Close();
    });
    skipFailure([&] { wskMessage->Accept(requestId); });
    skipFailure([&] {
        m_host.InsertLog("Event: Connect request id = " + QByteArray::number(requestId) + " from <"
                         + wskMessage->RemoteHostIP().toLatin1() + ">");
    });
}

void Link::wskMessage_Error(int number, const QString &description)
{
    // A connection that failed is logged with the socket's own words and
    // closed, so the link is free for the next send; what came of a reply
    // goes with it.
    m_gathered.clear();
    m_replyGap.stop();
    skipFailure([&] {
        m_host.InsertLog("Event: Socket error " + QByteArray::number(number) + ": " + description.toLatin1());
    });
    skipFailure([&] { wskMessage->Close(); });
    emit connectionFailed(number, description);
}
