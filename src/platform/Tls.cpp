#include "platform/Tls.h"

#include <QHostAddress>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int ReadPiece = 16384;
constexpr unsigned char SessionContext[] = "ipnd-receiver";

// The library's own words for what went wrong last, and the queue emptied:
// a later call must not report this one's failure.
QByteArray libraryReason()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    if (const char *reason = ERR_reason_error_string(code))
        return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// Why a TLS call failed: the library's reason, with the verification's own
// when a certificate was refused ("certificate verify failed: unable to get
// local issuer certificate").
QByteArray failureText(ssl_st *ssl, int result)
{
    const int kind = SSL_get_error(ssl, result);
    const int systemError = errno;
    QByteArray reason = libraryReason();
    if (const long verify = SSL_get_verify_result(ssl); verify != X509_V_OK) {
        const QByteArray check = X509_verify_cert_error_string(verify);
        reason = reason.isEmpty() ? check : reason + ": " + check;
    }
    if (!reason.isEmpty())
        return reason;
    if (kind == SSL_ERROR_SYSCALL && systemError != 0)
        return std::strerror(systemError);
    return "the peer ended the connection during the TLS handshake";
}

// The step a call that did not finish stands at.
TlsStep stepAfter(ssl_st *ssl, int result, QByteArray *failure)
{
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
        return TlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TlsStep::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return TlsStep::Closed;
    case SSL_ERROR_SYSCALL:
        // A peer gone: the end of the connection, as it is without TLS.
        if (errno == 0 || errno == EPIPE || errno == ECONNRESET) {
            ERR_clear_error();
            return TlsStep::Closed;
        }
        [[fallthrough]];
    default:
        *failure = failureText(ssl, result);
        return TlsStep::Failed;
    }
}

// What a connection over memory has written and not yet handed on.
QByteArray written(ssl_st *ssl)
{
    if (!ssl)
        return {};
    BIO *out = SSL_get_wbio(ssl);
    QByteArray bytes(qsizetype(BIO_ctrl_pending(out)), Qt::Uninitialized);
    if (!bytes.isEmpty())
        bytes.truncate(std::max(0, BIO_read(out, bytes.data(), int(bytes.size()))));
    return bytes;
}

// What the library has decrypted for `ssl`; a failure's words into *failure.
QByteArray plainFrom(ssl_st *ssl, QByteArray *failure)
{
    QByteArray plain;
    QString why;
    if (tlsRead(ssl, plain, &why) == TlsStep::Failed)
        *failure = why.toLatin1();
    return plain;
}

// Hands `plain` to the library to encrypt; its bytes wait in the write BIO.
void encryptInto(ssl_st *ssl, const QByteArray &plain, QByteArray *failure)
{
    QByteArray rest = plain;
    QString why;
    if (tlsWrite(ssl, rest, &why) == TlsStep::Failed)
        *failure = why.toLatin1();
}

QByteArray fileName(const QString &name)
{
    return name.toLocal8Bit();
}

QString fileFailure(const char *option, const QString &name)
{
    return QStringLiteral("--%1: cannot use \"%2\": %3")
        .arg(QLatin1String(option), name, QString::fromLatin1(libraryReason()));
}

// Contexts both sides share: TLS 1.2 or later, and a peer that closes
// without close_notify ends the connection rather than failing it.
ssl_ctx_st *newContext(const SSL_METHOD *method)
{
    SSL_CTX *context = SSL_CTX_new(method);
    if (!context)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

// A list of TLS 1.3 suites is taken for those; any other for TLS 1.2,
// which the connection is then held to so that the list counts.
bool setCiphers(SSL_CTX *context, const QString &list)
{
    const QByteArray text = list.toLatin1();
    if (SSL_CTX_set_ciphersuites(context, text.constData()) == 1)
        return true;
    ERR_clear_error();
    if (SSL_CTX_set_cipher_list(context, text.constData()) != 1)
        return false;
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    return true;
}

} // namespace

std::unique_ptr<TlsClient> TlsClient::create(const TlsClientOptions &options, const QString &host, QString *error)
{
    std::unique_ptr<TlsClient> client(new TlsClient);
    client->m_context = newContext(TLS_client_method());
    SSL_CTX *context = client->m_context;
    if (!context) {
        *error = QStringLiteral("--tls: %1").arg(QString::fromLatin1(libraryReason()));
        return nullptr;
    }
    client->m_check = !options.insecure;
    client->m_resume = options.resume;
    const QString name = options.serverName.isEmpty() ? host : options.serverName;
    client->m_serverName = name.toUtf8();
    client->m_serverNameIsAddress = !QHostAddress(name).isNull();
    if (client->m_check) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        const bool loaded = options.caFile.isEmpty()
            ? SSL_CTX_set_default_verify_paths(context) == 1
            : SSL_CTX_load_verify_locations(context, fileName(options.caFile).constData(), nullptr) == 1;
        if (!loaded) {
            *error = fileFailure("ca", options.caFile);
            return nullptr;
        }
    }
    if (!options.certFile.isEmpty()) {
        if (SSL_CTX_use_certificate_chain_file(context, fileName(options.certFile).constData()) != 1) {
            *error = fileFailure("cert", options.certFile);
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(context, fileName(options.keyFile).constData(), SSL_FILETYPE_PEM) != 1
            || SSL_CTX_check_private_key(context) != 1) {
            *error = fileFailure("key", options.keyFile);
            return nullptr;
        }
    }
    if (!options.ciphers.isEmpty() && !setCiphers(context, options.ciphers)) {
        *error = QStringLiteral("--ciphers: \"%1\" names no cipher this library knows").arg(options.ciphers);
        ERR_clear_error();
        return nullptr;
    }
    if (client->m_resume) {
        // Sessions (TLS 1.2) and tickets (TLS 1.3) come to keepSession; the
        // library keeps none of its own.
        SSL_CTX_set_app_data(context, client.get());
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(context, &TlsClient::keepSession);
    } else {
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    }
    return client;
}

TlsClient::~TlsClient()
{
    if (m_session)
        SSL_SESSION_free(m_session);
    if (m_context)
        SSL_CTX_free(m_context);
}

int TlsClient::keepSession(ssl_st *ssl, ssl_session_st *session)
{
    auto *self = static_cast<TlsClient *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!self || !SSL_SESSION_is_resumable(session))
        return 0;
    if (self->m_session)
        SSL_SESSION_free(self->m_session);
    self->m_session = session;
    return 1; // the reference is ours now
}

ssl_st *TlsClient::open(int fd)
{
    SSL *ssl = SSL_new(m_context);
    if (!ssl)
        return nullptr;
    if (fd >= 0)
        SSL_set_fd(ssl, fd);
    SSL_set_connect_state(ssl);
    if (m_check) {
        const bool named = m_serverNameIsAddress
            ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), m_serverName.constData()) == 1
            : SSL_set1_host(ssl, m_serverName.constData()) == 1;
        if (!named) {
            SSL_free(ssl);
            return nullptr;
        }
    }
    // An address is never sent as a server name.
    if (!m_serverNameIsAddress)
        SSL_set_tlsext_host_name(ssl, m_serverName.constData());
    if (m_resume && m_session)
        SSL_set_session(ssl, m_session);
    return ssl;
}

TlsStep TlsClient::handshake(ssl_st *ssl, QString *failure)
{
    errno = 0;
    const int result = SSL_do_handshake(ssl);
    if (result == 1) {
        ++(SSL_session_reused(ssl) ? m_resumed : m_full);
        return TlsStep::Done;
    }
    QByteArray why;
    TlsStep step = stepAfter(ssl, result, &why);
    if (step == TlsStep::Closed) {
        // A handshake the peer broke off is a failure, not an end.
        why = "the server closed the connection during the TLS handshake";
        step = TlsStep::Failed;
    }
    if (step == TlsStep::Failed)
        *failure = QString::fromLatin1(why);
    return step;
}

void TlsStream::attach(ssl_st *ssl)
{
    m_ssl = ssl;
    if (!m_ssl) {
        m_failure = "out of memory for TLS";
        return;
    }
    BIO *in = BIO_new(BIO_s_mem());
    // An empty input is "more to come", not the end of the stream.
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(m_ssl, in, BIO_new(BIO_s_mem()));
}

QByteArray TlsStream::take(const QByteArray &bytes)
{
    if (failed() || bytes.isEmpty())
        return {};
    BIO_write(SSL_get_rbio(m_ssl), bytes.constData(), int(bytes.size()));
    if (!m_established)
        handshake();
    if (!m_established)
        return {};
    return plainFrom(m_ssl, &m_failure);
}

QByteArray TlsStream::encrypt(const QByteArray &plain)
{
    if (failed() || !m_established)
        return {};
    encryptInto(m_ssl, plain, &m_failure);
    return pending();
}

QByteArray TlsStream::pending()
{
    return written(m_ssl);
}

TlsClient::Stream::Stream(TlsClient &client) : m_client(client)
{
    attach(client.open(-1));
}

TlsClient::Stream::~Stream()
{
    // tlsClose's close_notify keeps a TLS 1.2 session resumable; its bytes
    // have nowhere to go, which is as good as a peer that missed them.
    tlsClose(m_ssl);
}

void TlsClient::Stream::start()
{
    if (!failed() && !m_established)
        handshake();
}

void TlsClient::Stream::handshake()
{
    QString why;
    switch (m_client.handshake(m_ssl, &why)) {
    case TlsStep::Done:
        m_established = true;
        break;
    case TlsStep::Failed:
        m_failure = why.toLatin1();
        break;
    default:
        break;
    }
}

TlsStep tlsRead(ssl_st *ssl, QByteArray &into, QString *failure)
{
    char piece[ReadPiece];
    for (;;) {
        errno = 0;
        const int n = SSL_read(ssl, piece, sizeof piece);
        if (n > 0) {
            into.append(piece, n);
            continue;
        }
        QByteArray why;
        const TlsStep step = stepAfter(ssl, n, &why);
        if (step == TlsStep::Failed)
            *failure = QString::fromLatin1(why);
        return step;
    }
}

TlsStep tlsWrite(ssl_st *ssl, QByteArray &outgoing, QString *failure)
{
    while (!outgoing.isEmpty()) {
        errno = 0;
        const int n = SSL_write(ssl, outgoing.constData(), int(std::min<qsizetype>(outgoing.size(), 1 << 30)));
        if (n > 0) {
            outgoing.remove(0, n);
            continue;
        }
        QByteArray why;
        const TlsStep step = stepAfter(ssl, n, &why);
        if (step == TlsStep::Failed)
            *failure = QString::fromLatin1(why);
        return step;
    }
    return TlsStep::Done;
}

void tlsClose(ssl_st *ssl)
{
    if (!ssl)
        return;
    // close_notify also keeps the session resumable: one freed without it
    // counts as broken.
    if (SSL_is_init_finished(ssl))
        SSL_shutdown(ssl);
    ERR_clear_error();
    SSL_free(ssl);
}

std::shared_ptr<TlsServer> TlsServer::create(const QString &certFile, const QString &keyFile,
                                             const QString &clientCaFile, QByteArray *error)
{
    std::shared_ptr<TlsServer> server(new TlsServer);
    server->m_context = newContext(TLS_server_method());
    SSL_CTX *context = server->m_context;
    const auto fail = [&](const char *option, const QString &name) {
        *error = fileFailure(option, name).toLocal8Bit();
        return nullptr;
    };
    if (!context)
        return fail("tls-cert", certFile);
    if (SSL_CTX_use_certificate_chain_file(context, fileName(certFile).constData()) != 1)
        return fail("tls-cert", certFile);
    if (SSL_CTX_use_PrivateKey_file(context, fileName(keyFile).constData(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_check_private_key(context) != 1)
        return fail("tls-key", keyFile);
    // The chain sent is the certificate file's: the client CAs loaded below
    // are for checking clients, not for completing it.
    SSL_CTX_set_mode(context, SSL_MODE_NO_AUTO_CHAIN);
    // Resumed sessions must be this server's, with or without a client certificate.
    SSL_CTX_set_session_id_context(context, SessionContext, sizeof SessionContext - 1);
    SSL_CTX_set_num_tickets(context, 1);
    if (!clientCaFile.isEmpty()) {
        STACK_OF(X509_NAME) *names = SSL_load_client_CA_file(fileName(clientCaFile).constData());
        if (!names || SSL_CTX_load_verify_locations(context, fileName(clientCaFile).constData(), nullptr) != 1)
            return fail("tls-client-ca", clientCaFile);
        SSL_CTX_set_client_CA_list(context, names);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    return server;
}

TlsServer::~TlsServer()
{
    if (m_context)
        SSL_CTX_free(m_context);
}

TlsServer::Stream::Stream(const std::shared_ptr<TlsServer> &server) : m_server(server)
{
    attach(SSL_new(server->m_context));
    if (m_ssl)
        SSL_set_accept_state(m_ssl);
}

TlsServer::Stream::~Stream()
{
    if (m_ssl)
        SSL_free(m_ssl);
}

void TlsServer::Stream::handshake()
{
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1) {
        m_established = true;
        return;
    }
    const int kind = SSL_get_error(m_ssl, result);
    if (kind != SSL_ERROR_WANT_READ && kind != SSL_ERROR_WANT_WRITE)
        m_failure = failureText(m_ssl, result);
}

QByteArray TlsServer::Stream::closing()
{
    if (m_established && !failed())
        SSL_shutdown(m_ssl);
    ERR_clear_error();
    return pending();
}

