#include "conform/Exchange.h"

#include <QTcpSocket>

#include <sys/socket.h>

namespace {
// A reset waits this long after its bytes went out, so that the receiver
// has them before the reset throws away what it has not read.
constexpr int ResetAfterWriteMs = 50;
} // namespace

QByteArray replyClassName(ReplyClass replyClass)
{
    switch (replyClass) {
    case ReplyClass::Accepted:
        return "accepted";
    case ReplyClass::Refused:
        return "refused";
    case ReplyClass::Closed:
        return "closed";
    case ReplyClass::Timeout:
        return "timeout";
    case ReplyClass::Unexpected:
        return "unexpected";
    case ReplyClass::NoConnection:
        break;
    }
    return "no-connection";
}

QByteArray ExchangePlan::bytes() const
{
    QByteArray all;
    for (const Piece &piece : pieces)
        all += piece.bytes;
    return all;
}

std::optional<ReplyPatterns> ReplyPatterns::make(const QByteArray &accept, const QByteArray &refuse, QString *error)
{
    // Where the receiver cannot know the id, any run of non-blank bytes
    // stands in its place.
    const auto anyId = [](QByteArray pattern) { return pattern.replace("{id}", "\\S+"); };
    const auto a = ReplyExpectation::fromPattern(accept, error, QStringLiteral("--accept"));
    const auto r = ReplyExpectation::fromPattern(refuse, error, QStringLiteral("--refuse"));
    if (!a || !r)
        return std::nullopt;
    const auto aa = ReplyExpectation::fromPattern(anyId(accept), error, QStringLiteral("--accept"));
    const auto ra = ReplyExpectation::fromPattern(anyId(refuse), error, QStringLiteral("--refuse"));
    if (!aa || !ra)
        return std::nullopt;
    return ReplyPatterns{*a, *r, *aa, *ra};
}

std::optional<ReplyClass> ReplyPatterns::match(const QByteArray &reply, const QByteArray &id) const
{
    const bool any = id.isEmpty();
    if ((any ? acceptAny : accept).matches(reply, id))
        return ReplyClass::Accepted;
    if ((any ? refuseAny : refuse).matches(reply, id))
        return ReplyClass::Refused;
    return std::nullopt;
}

Exchange::Exchange(const QString &host, quint16 port, int timeoutMs, const ReplyPatterns &patterns, ExchangePlan plan,
                   QObject *parent)
    : QObject(parent), m_host(host), m_port(port), m_timeoutMs(timeoutMs), m_patterns(patterns),
      m_plan(std::move(plan)), m_socket(new QTcpSocket(this))
{
    m_timer.setSingleShot(true);
    m_pieceTimer.setSingleShot(true);
    m_pieceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Exchange::timedOut);
    connect(&m_pieceTimer, &QTimer::timeout, this, &Exchange::writeNext);
    connect(m_socket, &QTcpSocket::connected, this, &Exchange::connected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Exchange::readReply);
    connect(m_socket, &QTcpSocket::disconnected, this, &Exchange::peerClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        // A TLS connection that ends before its handshake is done still says why.
        if (m_up || m_stream)
            peerClosed();
        else
            finish(ReplyClass::NoConnection);
    });
}

Exchange::~Exchange()
{
    m_socket->disconnect(this);
}

void Exchange::start()
{
    m_clock.start();
    m_timer.start(m_timeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void Exchange::close()
{
    if (m_finished)
        return;
    classifyAtEnd(ReplyClass::Timeout);
}

void Exchange::connected()
{
    // Each write its own segment: a trickle must reach the receiver as one.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!m_tls) {
        up();
        return;
    }
    // The timeout bounds the handshake as it does the connection.
    m_stream = std::make_unique<TlsClient::Stream>(*m_tls);
    m_stream->start();
    m_socket->write(m_stream->pending());
    m_socket->flush();
}

void Exchange::up()
{
    m_up = true;
    m_timer.stop();
    m_holding = m_plan.end == ExchangePlan::End::Hold;
    if (m_plan.pieces.isEmpty()) {
        afterLastPiece();
        return;
    }
    m_pieceTimer.start(m_plan.pieces.constFirst().delayMs);
}

void Exchange::writeNext()
{
    if (m_finished)
        return;
    const ExchangePlan::Piece &piece = m_plan.pieces.at(m_nextPiece++);
    write(piece.bytes);
    m_result.sent += piece.bytes;
    if (m_nextPiece < m_plan.pieces.size())
        m_pieceTimer.start(m_plan.pieces.at(m_nextPiece).delayMs);
    else
        afterLastPiece();
}

void Exchange::write(const QByteArray &plain)
{
    // Over TLS each piece goes as its own records, at the piece's time.
    m_socket->write(m_stream ? m_stream->encrypt(plain) : plain);
    m_socket->flush();
}

void Exchange::afterLastPiece()
{
    switch (m_plan.end) {
    case ExchangePlan::End::Hold:
        return;
    case ExchangePlan::End::Close:
        finish(ReplyClass::Closed);
        return;
    case ExchangePlan::End::HalfClose:
        ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
        break;
    case ExchangePlan::End::Reset:
        QTimer::singleShot(ResetAfterWriteMs, this, [this] {
            if (m_finished)
                return;
            // No lingering: the close sends a reset instead of a FIN.
            const linger now{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            finish(ReplyClass::Closed);
        });
        return;
    case ExchangePlan::End::AwaitReply:
        break;
    }
    m_timer.start(m_timeoutMs);
}

void Exchange::readReply()
{
    QByteArray bytes = m_socket->readAll();
    if (m_finished)
        return;
    if (m_stream) {
        const bool wasUp = m_stream->established();
        bytes = m_stream->take(bytes);
        // Handshake messages, alerts, and what the session's end asks for.
        if (const QByteArray answer = m_stream->pending(); !answer.isEmpty()) {
            m_socket->write(answer);
            m_socket->flush();
        }
        if (m_stream->failed() && !m_up) {
            m_result.reply = m_stream->failure();
            finish(ReplyClass::NoConnection);
            return;
        }
        if (!wasUp && m_stream->established())
            up();
        if (m_finished)
            return;
    }
    if (m_result.reply.size() < ExchangeResult::ReplyKeptBytes)
        m_result.reply += bytes.left(ExchangeResult::ReplyKeptBytes - m_result.reply.size());
    if (m_holding)
        return;
    // A reply that is whole by the patterns ends the wait; anything else may
    // still grow into one until the receiver closes or the time is up.
    if (const std::optional<ReplyClass> matched = m_patterns.match(m_result.reply, m_plan.id))
        finish(*matched);
}

void Exchange::peerClosed()
{
    if (m_finished)
        return;
    readReply();
    if (m_finished)
        return;
    if (!m_up) {
        m_result.reply = "the server closed the connection during the TLS handshake";
        finish(ReplyClass::NoConnection);
        return;
    }
    if (m_holding) {
        m_result.closedAtMs = double(m_clock.nsecsElapsed()) / 1e6;
        m_pieceTimer.stop();
        finish(ReplyClass::Closed);
        return;
    }
    classifyAtEnd(ReplyClass::Closed);
}

void Exchange::timedOut()
{
    if (!m_up) {
        finish(ReplyClass::NoConnection);
        return;
    }
    classifyAtEnd(ReplyClass::Timeout);
}

void Exchange::classifyAtEnd(ReplyClass whenEmpty)
{
    if (m_result.reply.isEmpty() || m_holding) {
        finish(whenEmpty);
        return;
    }
    finish(m_patterns.match(m_result.reply, m_plan.id).value_or(ReplyClass::Unexpected));
}

void Exchange::finish(ReplyClass replyClass)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    m_pieceTimer.stop();
    m_result.replyClass = replyClass;
    m_result.ms = double(m_clock.nsecsElapsed()) / 1e6;
    m_socket->disconnect(this);
    m_socket->abort();
    emit finished();
}
