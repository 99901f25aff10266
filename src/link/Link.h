#pragma once

#include "link/Misbehaviour.h"
#include "link/SendResult.h"

#include "platform/LazyTimeout.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class Socket;
struct PlatformError;

// The one log line for a failure that left a send: a port or address that
// cannot be used, or a socket that refused the packet.
QString sendFailureLine(const PlatformError &failure);

// What the link needs of whoever owns it: the event log, the server named by
// the operator, and somewhere to show the reply and the count of replies.
class LinkHost
{
public:
    virtual ~LinkHost() = default;

    virtual void InsertLog(const QByteArray &source) = 0;
    // A line that holds text the operator typed, such as the server's name.
    virtual void InsertLogText(const QString &text) { InsertLog(text.toLatin1()); }
    // Read at every connection set-up, as typed.
    virtual QString serverAddress() const = 0;
    virtual QString serverPort() const = 0;
    virtual void showReply(const QByteArray &reply) = 0;
    virtual void showProcessed(qint32 processed) = 0;
};

// The test link: one packet per connection to the server, the server's reply
// (its first piece, or gathered: see replyGapMs), and every way in which a
// connection ends.
// It owns the one socket; its handlers are named after the socket's events.
class Link : public QObject
{
    Q_OBJECT

public:
    explicit Link(LinkHost &host, QObject *parent = nullptr);

    // Opens a connection when the socket is closed, waits (serving events)
    // until it is up or has failed, and hands the packet to it. Throws
    // PlatformError for a port or address that cannot be used.
    SendResult SendTCPPacket(const QByteArray &source);
    // Opens a connection and returns at once: the packet goes out when the
    // connection is up (packetSent), or is dropped when it fails
    // (connectionFailed) or the link is closed first. False when the socket
    // is busy. Throws as SendTCPPacket does. For a sender whose links work
    // side by side: one link's handshake holds up no other.
    bool startSend(const QByteArray &source);
    // Closes whatever the socket holds; nothing is logged.
    void Close();
    // How startSend's packets are written from now on; packetSent comes
    // after the last byte (and the half-close), a reset after it.
    void setMisbehaviour(const Misbehaviour &misbehaviour) { m_misbehaviour = misbehaviour; }

    Socket *const wskMessage;
    // -1 while the connection that a send asked for is up, 0 otherwise.
    qint16 TCPConnected = 0;
    // Replies handled since the link was made; stops at its maximum.
    qint32 Processed = 0;
    // Whether the socket goes on to listen for the server after the server
    // closed a connection. The window does; a headless sender must not open a
    // listening port.
    bool listenAfterPeerClose = true;
    // Whether a send serves the pending events at least once while its
    // connection comes up, even one that is up at once. The window does, so
    // that what the operator did meanwhile is served there. A headless sender
    // sends on a connection that is up at once without that turn of the
    // event loop.
    bool serveEventsWhileConnecting = true;
    // How a reply ends. Below 0 (the window) the first piece that arrives is
    // the whole reply. Otherwise the pieces are gathered until the peer
    // closes, a piece holds a line end, or none has come for this many
    // milliseconds, so that a reply cut up on the way is judged whole.
    int replyGapMs = -1;

    // Whether pieces of a reply have come and it has not ended yet.
    bool replyUnderWay() const { return !m_gathered.isEmpty(); }
    // Ends the reply under way with what has come (the owner's reply
    // timeout bounds a reply that keeps trickling in).
    void endReply();
    // From the last reply's last byte to its being handled: the quiet gap
    // that ended it, which is no part of its round trip.
    qint64 replyQuietNs() const { return m_replyQuietNs; }

    void wskMessage_Connect();
    void wskMessage_DataArrival(qint32 bytesTotal);
    void wskMessage_Close();
    void wskMessage_ConnectionRequest(qint32 requestId);
    void wskMessage_Error(int number, const QString &description);

signals:
    // After a reply has been handled (shown, counted, connection closed).
    void replyHandled(const QByteArray &reply);
    // After the peer closed a connection (and the socket went on to listen,
    // if it does).
    void peerClosed();
    // After a failed connection was logged and closed.
    void connectionFailed(int number, const QString &description);
    // startSend's packet was handed to its connection.
    void packetSent();

private:
    void OpenConnection(qint16 mode);
    void misbehave(const QByteArray &packet);
    void writePiece(quint64 connection);
    void HandleReply(const QByteArray &reply);
    // Logs, shows and counts the whole reply, and closes the connection.
    void replyArrived(const QByteArray &reply);

    LinkHost &m_host;
    // startSend's packet, until its connection is up.
    QByteArray m_waitingPacket;
    quint64 m_waitingConnection = 0;
    Misbehaviour m_misbehaviour;
    // What a misbehaving write still has to write: the wait before each part.
    QList<std::pair<int, QByteArray>> m_pieces;
    // The last connection's log line and the server it names.
    qint32 m_originatePort = 0;
    QString m_originateHost;
    QString m_originateLine;
    // The last reply's log line and the peer it names.
    QString m_arrivalPeer;
    QByteArray m_arrivalLine;
    // The pieces of the reply under way, and when the last one came.
    QByteArray m_gathered;
    QElapsedTimer m_lastPiece;
    qint64 m_replyQuietNs = 0;
    LazyTimeout m_replyGap;
};
