#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "platform/LazyTimeout.h"

#include <sys/socket.h>

class QAbstractEventDispatcher;
class QSocketNotifier;
class TlsClient;
struct ssl_st;

// One TCP socket control: it holds at most one connection or one listener at a
// time and reports what happens to it through events (signals) delivered on
// the event thread. Operations that the socket refuses throw a PlatformError.
//
// It sits directly on non-blocking system sockets watched by socket notifiers:
// an exchange costs the system calls it needs and no posted events, and a
// closed connection or listener leaves nothing behind, whether or not the
// program ever runs an event loop of its own.
class Socket : public QObject
{
    Q_OBJECT

public:
    // What the socket holds. The numbers are stable; gaps are values that
    // this socket never takes.
    enum StateValue : int {
        Closed = 0,        // nothing
        Listening = 2,     // a listener, with or without requests waiting
        ResolvingHost = 4, // a connection asked for by host name, name lookup under way
        Connecting = 6,    // a connection in its TCP handshake
        Connected = 7,     // an established connection
        Closing = 8,       // a connection that the peer has closed
        Error = 9,         // a connection attempt or connection that failed
    };

    // A connection attempt that has not come up within this time fails with a
    // timeout error event, so nobody waits for it for ever.
    static constexpr int DefaultConnectTimeoutMs = 10000;

    explicit Socket(QObject *parent = nullptr);
    ~Socket() override;

    int State() const { return m_state; }

    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    QString RemoteHost() const { return m_remoteHost; }
    void setRemotePort(qint32 port);
    qint32 RemotePort() const { return m_remotePort; }
    void setLocalPort(qint32 port);
    // The port of the listener or connection held; otherwise the port set.
    qint32 LocalPort() const;
    void setProtocol(int protocol);

    void Connect();
    void SendData(const QByteArray &data);
    QByteArray GetData();
    void Close();
    // Listens on the local port set (0, the default, lets the system pick a
    // free one; LocalPort then tells which).
    void Listen();
    void Accept(qint32 requestId);

    QString LocalIP() const;
    QString RemoteHostIP() const;

    // Grows at every Connect, Accept, Listen and Close: a waiter that noted it
    // can tell whether the socket still holds the connection it waits for.
    quint64 generation() const { return m_generation; }
    bool isConnecting() const;
    // A caller about to wait for the Connect event asks first: a connection
    // whose handshake has already ended (on a fast network it usually has)
    // is reported now, by the Connect event, and one that has failed goes on
    // as a failure does. Saves the wait a turn of the event loop.
    void pollConnect();

    // Shuts the sending side of the connection once what waits has gone
    // out; the connection still reads.
    void ShutdownSend();
    // Closes the connection with a reset (RST) instead of a FIN.
    void Reset();

    void setConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }
    // Whether a finished connection is closed only when the event loop next
    // goes to sleep (within a millisecond in a loop that never sleeps). A
    // sender in a closed loop has sent its next packet by then, and the close,
    // which costs the system about as much as a connect, overlaps the
    // server's work on it. The state says Closed at once either way. Off by
    // default: a program that stops running its event loop would keep the
    // connection open.
    void setCloseWhenIdle(bool on) { m_closeWhenIdle = on; }
    // After a read that emptied the socket, reads once more at once: a peer
    // that answers and closes is then seen to close without another turn
    // of the event loop. For a client whose every reply ends the connection.
    void setReadAhead(bool on) { m_readAhead = on; }
    // Connections go over TLS from `tls` (not owned; null: plain TCP). The
    // Connect event comes once the TLS handshake is done, within the
    // connect timeout; a handshake that fails is an error event with the
    // library's reason.
    void setTls(TlsClient *tls) { m_tls = tls; }

signals:
    void connected();
    void dataArrival(qint32 bytesTotal);
    void closed();
    void connectionRequest(qint32 requestId);
    void error(int number, const QString &description);
    // The socket went back to holding nothing, for whatever reason.
    void becameClosed();

private:
    // Tries the addresses left, one after the other; lastError is what ended
    // the attempt before.
    void connectToNextAddress(int lastError);
    void connectionUp(bool inCall);
    // Hands what waits in m_outgoing to the system, as much as it takes now.
    void sendOutgoing(bool inCall);
    void onReadable();
    void onWritable();
    void onListenerReadable();
    void onConnectTimeout();
    void failConnection(int number, const QString &description);
    void failConnectionLater(int number, const QString &description);
    void closeConnection();
    void closeFinishedConnection();
    // What waits for the event loop to go to sleep: watching a connection
    // under way, closing a finished one.
    void scheduleIdleWork();
    void doIdleWork();
    void closeListener();
    void dropPendingRequests();
    void abortLookup();
    void setState(int state);
    // TLS: the handshake's next step once the TCP connection is up, and
    // what the read side has for the connection.
    void continueTlsHandshake(bool inCall);
    void onTlsReadable();
    void sendTlsOutgoing(bool inCall);

    int m_state = Closed;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    qint32 m_localPort = 0;
    quint64 m_generation = 0;
    int m_connectTimeoutMs = DefaultConnectTimeoutMs;
    qint32 m_nextRequestId = 1;

    // The connection: its descriptor, the peer, bytes read and not yet taken,
    // bytes the system has not taken yet.
    int m_fd = -1;
    TlsClient *m_tls = nullptr;
    ssl_st *m_ssl = nullptr; // the connection's TLS, once its TCP is up
    // A connection that is over, closed when the event loop next goes to
    // sleep, or soon after in a loop that never sleeps.
    int m_finishedFd = -1;
    bool m_closeWhenIdle = false;
    bool m_readAhead = false;
    bool m_shutdownWhenSent = false;
    QPointer<QAbstractEventDispatcher> m_sleepWatch;
    QHostAddress m_peer;
    sockaddr_storage m_target;
    socklen_t m_targetLength = 0;
    // A peer as text, made when first asked for and kept while the peer is
    // the same: one exchange after another goes to the same server.
    mutable QHostAddress m_peerTextOf;
    mutable QString m_peerText;
    QByteArray m_incoming;
    QByteArray m_outgoing;
    // Addresses of the host still to try, and the last numeric host parsed.
    QList<QHostAddress> m_addresses;
    QString m_parsedHost;
    QHostAddress m_parsedAddress;
    int m_lookupId = -1;

    int m_listenFd = -1;
    qint32 m_listenPort = 0;
    struct Request
    {
        int fd = -1;
        QHostAddress peer;
    };
    QHash<qint32, Request> m_pendingRequests;

    // One of each, pointed at whichever descriptor is current.
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    QSocketNotifier *m_listenNotifier;
    LazyTimeout m_connectTimeout;
    LazyTimeout m_idleWorkTimeout;
};
