#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;

// One TCP socket control: it holds at most one connection or one listener at a
// time and reports what happens to it through events (signals) delivered on
// the event thread. Operations that the socket refuses throw a PlatformError.
class Socket : public QObject
{
    Q_OBJECT

public:
    enum StateValue : int {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
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

    void setConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }

signals:
    void connected();
    void dataArrival(qint32 bytesTotal);
    void closed();
    void connectionRequest(qint32 requestId);
    void error(int number, const QString &description);
    // The socket went back to holding nothing, for whatever reason.
    void becameClosed();

private:
    void adoptConnection(QTcpSocket *socket);
    void dropConnection();
    void dropListener();
    void dropPendingRequests();
    void onSocketError();
    void onNewConnection();
    void onConnectTimeout();
    void setState(int state);

    int m_state = Closed;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    qint32 m_localPort = 0;
    quint64 m_generation = 0;
    int m_connectTimeoutMs = DefaultConnectTimeoutMs;
    qint32 m_nextRequestId = 1;

    QTcpSocket *m_connection = nullptr;
    QTcpServer *m_listener = nullptr;
    QTimer *m_connectTimer = nullptr;
    QHash<qint32, QTcpSocket *> m_pendingRequests;
};
