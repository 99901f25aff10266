#include "sender/ConnectionPool.h"

#include "platform/Socket.h"

#include <QDateTime>

#include <algorithm>

namespace {

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

} // namespace

struct ConnectionPool::Connection final : public LinkHost
{
    Connection(ConnectionPool &pool, int number)
        : pool(pool), number(number), link(*this), replyTimeout([this] { this->pool.replyTimedOut(*this); })
    {
        // A headless sender never opens a listening port.
        link.listenAfterPeerClose = false;
        link.serveEventsWhileConnecting = false;
        link.wskMessage->setCloseWhenIdle(true);
        link.wskMessage->setReadAhead(true);
        link.wskMessage->setConnectTimeout(pool.m_settings.connectTimeoutMs);
        link.replyGapMs = pool.m_settings.replyGapMs;
        link.setMisbehaviour(pool.m_settings.misbehaviour);
    }

    void InsertLog(const QByteArray &source) override
    {
        lastLine = source;
        pool.m_events.linkLog(number, source);
    }
    QString serverAddress() const override { return pool.m_settings.host; }
    QString serverPort() const override { return pool.m_settings.port; }
    void showReply(const QByteArray &) override {}
    void showProcessed(qint32) override {}

    enum class State { Free, Connecting, AwaitingReply };

    ConnectionPool &pool;
    const int number; // from 1
    Link link;
    LazyTimeout replyTimeout;
    State state = State::Free;
    Exchange exchange;
    qint64 connectStartNs = 0;
    qint64 writtenNs = 0;
    // The link's last line: why a connection failed or closed.
    QByteArray lastLine;
};

ConnectionPool::ConnectionPool(const Settings &settings, const RunClock &clock, Events &events)
    : m_settings(settings), m_clock(clock), m_events(events)
{
    for (int number = 1; number <= std::max(1, settings.connections); ++number) {
        Connection *c = m_connections.emplace_back(std::make_unique<Connection>(*this, number)).get();
        QObject::connect(&c->link, &Link::packetSent, &c->link, [this, c] { packetWritten(*c); });
        QObject::connect(&c->link, &Link::replyHandled, &c->link, [this, c](const QByteArray &reply) {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Answered, reply, {});
        });
        QObject::connect(&c->link, &Link::peerClosed, &c->link, [this, c] {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Unanswered, {}, c->lastLine);
        });
        QObject::connect(&c->link, &Link::connectionFailed, &c->link, [this, c] { connectionFailed(*c); });
    }
}

ConnectionPool::~ConnectionPool() = default;

ConnectionPool::Connection &ConnectionPool::at(int number) const
{
    return *m_connections[size_t(number - 1)];
}

Exchange &ConnectionPool::exchangeOf(int number)
{
    return at(number).exchange;
}

int ConnectionPool::freeConnection() const
{
    // A link whose socket still held something would answer "busy" rather
    // than leave the run waiting for it.
    for (const auto &c : m_connections) {
        if (c->state == Connection::State::Free)
            return c->number;
    }
    return 0;
}

bool ConnectionPool::anyBusy() const
{
    return std::any_of(m_connections.begin(), m_connections.end(),
                       [](const auto &c) { return c->state != Connection::State::Free; });
}

bool ConnectionPool::holds(int number, qint64 seq) const
{
    const Connection &c = at(number);
    return c.state != Connection::State::Free && c.exchange.pending.seq == seq;
}

void ConnectionPool::setTls(TlsClient *tls)
{
    for (const auto &c : m_connections)
        c->link.wskMessage->setTls(tls);
}

bool ConnectionPool::start(int number, Exchange exchange)
{
    Connection &c = at(number);
    c.exchange = std::move(exchange);
    c.exchange.pending.connection = c.number;
    c.state = Connection::State::Connecting;
    c.connectStartNs = m_clock.nsecsElapsed();
    bool started = false;
    try {
        started = c.link.startSend(c.exchange.packet);
    } catch (...) {
        c.state = Connection::State::Free;
        throw;
    }
    if (!started)
        c.state = Connection::State::Free;
    return started;
}

void ConnectionPool::stopAll()
{
    for (const auto &c : m_connections) {
        if (c->state == Connection::State::AwaitingReply) {
            const QByteArray line = "Event: Stopped before the reply: connection closed";
            m_events.linkLog(c->number, line);
            endExchange(*c, Outcome::Unanswered, {}, line);
        } else if (c->state == Connection::State::Connecting) {
            settleConnecting(*c, "RSFP: Stopped before the connection came up, not sent: " + c->exchange.record);
        }
        // Also ends a wait for a connection at once, as the window's Close
        // button does.
        c->link.Close();
    }
}

void ConnectionPool::packetWritten(Connection &c)
{
    if (c.state != Connection::State::Connecting)
        return;
    const qint64 now = m_clock.nsecsElapsed();
    Exchange &exchange = c.exchange;
    exchange.written = true;
    exchange.pending.sentAt = QDateTime::currentDateTimeUtc();
    exchange.pending.connectMs = msBetween(c.connectStartNs, now);
    c.writtenNs = now;
    c.state = Connection::State::AwaitingReply;
    m_events.written(exchange);
    c.replyTimeout.start(m_settings.replyTimeoutMs);
}

void ConnectionPool::connectionFailed(Connection &c)
{
    m_events.connectFailed(c.lastLine);
    if (c.state == Connection::State::Connecting) {
        settleConnecting(c, "RSFP: No connection, not sent: " + c.exchange.record);
    } else if (c.state == Connection::State::AwaitingReply) {
        // A connection that failed after the send can bring no reply.
        endExchange(c, Outcome::Unanswered, {}, c.lastLine);
    }
}

void ConnectionPool::replyTimedOut(Connection &c)
{
    if (c.state != Connection::State::AwaitingReply)
        return;
    // A reply still coming in pieces is what came within the timeout.
    if (c.link.replyUnderWay()) {
        c.link.endReply();
        return;
    }
    const QByteArray line =
        "Event: No reply within " + QByteArray::number(m_settings.replyTimeoutMs) + " ms: connection closed";
    m_events.linkLog(c.number, line);
    endExchange(c, Outcome::Unanswered, {}, line);
}

void ConnectionPool::settleConnecting(Connection &c, const QByteArray &line)
{
    c.state = Connection::State::Free;
    m_events.notSent(std::move(c.exchange), line);
}

void ConnectionPool::endExchange(Connection &c, Outcome outcome, const QByteArray &reply, const QByteArray &line)
{
    // A reply is timed at its last byte, not at the quiet gap that ended it.
    const qint64 now = m_clock.nsecsElapsed() - (outcome == Outcome::Answered ? c.link.replyQuietNs() : 0);
    c.replyTimeout.stop();
    c.state = Connection::State::Free;
    OutcomeRecord record = std::move(c.exchange.pending);
    record.outcome = outcome;
    record.reason = line;
    if (outcome == Outcome::Answered) {
        record.rttMs = msBetween(c.writtenNs, now);
        if (c.exchange.intendedNs >= 0)
            record.latencyMs = msBetween(c.exchange.intendedNs, now);
        record.reply = reply;
    }
    // Whatever the socket still holds (an unanswered connection) goes: the
    // next record needs a closed socket.
    c.link.Close();
    m_events.ended(std::move(record));
}
