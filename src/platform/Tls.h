#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// TLS through OpenSSL: a client side for the sender's own sockets, and a
// server side that works on bytes, for a receiver whose sockets are Qt's.
// The library's headers stay in Tls.cpp.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

// One connection's TLS over memory, for a socket of Qt's: the bytes that
// came go in, the plain bytes they complete come out, and what is to be
// sent waits in pending(). A client's and a server's differ in their
// handshake only.
class TlsStream
{
public:
    TlsStream() = default;
    virtual ~TlsStream() = default;
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    // Takes bytes from the peer; returns the plain bytes they completed.
    // Failed (see failure()) when the handshake or the record is bad.
    QByteArray take(const QByteArray &bytes);
    QByteArray encrypt(const QByteArray &plain);
    // Bytes waiting to go to the peer: handshake messages, alerts.
    QByteArray pending();
    bool established() const { return m_established; }
    bool failed() const { return !m_failure.isEmpty(); }
    QByteArray failure() const { return m_failure; }

protected:
    // Gives `ssl` memory to read from and write to; failed when there is no `ssl`.
    void attach(ssl_st *ssl);
    // One step of the handshake, which sets m_established or m_failure.
    virtual void handshake() = 0;

    ssl_st *m_ssl = nullptr;
    bool m_established = false;
    QByteArray m_failure;
};

// What a client asks of TLS.
struct TlsClientOptions
{
    bool enabled = false;
    QString caFile;      // PEM; empty: the system's trust store
    bool insecure = false; // no check of the server's certificate at all
    QString serverName;  // checked against the certificate and sent as SNI; empty: the host
    QString certFile;    // a client certificate (PEM), with keyFile
    QString keyFile;
    QString ciphers;     // a cipher list for TLS 1.2, or TLS 1.3 suite names
    bool resume = true;  // resume the last session on the next connection
};

// How far a TLS call got.
enum class TlsStep { Done, WantRead, WantWrite, Closed, Failed };

// The client side for every connection of a run: one context, the session
// the last handshake left to resume, and the count of handshakes.
class TlsClient
{
public:
    // Null, with one line in *error, when a file or the cipher list cannot
    // be used. `host` is the name checked when no server name is given.
    static std::unique_ptr<TlsClient> create(const TlsClientOptions &options, const QString &host, QString *error);
    ~TlsClient();
    TlsClient(const TlsClient &) = delete;
    TlsClient &operator=(const TlsClient &) = delete;

    // A TLS connection over the connected descriptor `fd` (-1: none, for a
    // Stream), to be driven by handshake(); null when the library has no
    // memory for it.
    ssl_st *open(int fd);
    // One step of the handshake; counts it once done. *failure says why
    // one failed, in the library's words.
    TlsStep handshake(ssl_st *ssl, QString *failure);

    qint64 fullHandshakes() const { return m_full; }
    qint64 resumedHandshakes() const { return m_resumed; }

    // One connection's TLS over bytes, for a client whose socket is Qt's:
    // the handshake's bytes to send, then plain bytes in and out.
    class Stream final : public TlsStream
    {
    public:
        explicit Stream(TlsClient &client);
        ~Stream() override;

        // Starts the handshake; its first bytes are then pending().
        void start();

    private:
        void handshake() override;

        TlsClient &m_client;
    };

private:
    TlsClient() = default;
    static int keepSession(ssl_st *ssl, ssl_session_st *session);

    ssl_ctx_st *m_context = nullptr;
    ssl_session_st *m_session = nullptr; // to resume; owned
    QByteArray m_serverName;
    bool m_serverNameIsAddress = false;
    bool m_check = true;
    bool m_resume = true;
    qint64 m_full = 0;
    qint64 m_resumed = 0;
};

// Reads what the library has for `ssl` into `into` until it wants more.
TlsStep tlsRead(ssl_st *ssl, QByteArray &into, QString *failure);
// Writes the front of `outgoing`, removing what went; WantWrite when the
// rest must wait for the descriptor.
TlsStep tlsWrite(ssl_st *ssl, QByteArray &outgoing, QString *failure);
// Says close_notify if it can without waiting, and frees the connection.
void tlsClose(ssl_st *ssl);

// The server side: one context for every connection, so that a client can
// resume its session on the next one.
class TlsServer
{
public:
    // Null, with one line in *error, when a file cannot be used. With a
    // client CA file, a client certificate from it is required.
    static std::shared_ptr<TlsServer> create(const QString &certFile, const QString &keyFile,
                                             const QString &clientCaFile, QByteArray *error);
    ~TlsServer();
    TlsServer(const TlsServer &) = delete;
    TlsServer &operator=(const TlsServer &) = delete;

    // One connection's TLS, fed the bytes that came and handing back the
    // bytes to send.
    class Stream final : public TlsStream
    {
    public:
        explicit Stream(const std::shared_ptr<TlsServer> &server);
        ~Stream() override;

        // close_notify, to send before closing.
        QByteArray closing();

    private:
        void handshake() override;

        std::shared_ptr<TlsServer> m_server;
    };

private:
    TlsServer() = default;
    ssl_ctx_st *m_context = nullptr;
};
