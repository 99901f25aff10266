#pragma once

#include "link/Link.h"
#include "link/Misbehaviour.h"
#include "platform/Clock.h"
#include "platform/LazyTimeout.h"
#include "report/Outcome.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class TlsClient;

// A record on its way: handed to a connection, or waiting for one.
struct Exchange
{
    OutcomeRecord pending;
    QByteArray packet;
    QByteArray record;
    qint64 intendedNs = -1; // in an open loop: when it was due
    // The log line that says it was sent, logged once the packet is written.
    QByteArray sentLine;
    bool written = false;
};

// The connections of a sender, each one exchange at a time and none waiting
// for another's handshake or reply: a fresh connection per record, its
// packet written once it is up, its reply awaited up to a timeout, and the
// connection closed after. What becomes of each exchange is told to the
// pool's owner through Events.
class ConnectionPool
{
public:
    struct Settings
    {
        QString host;
        QString port;
        int connections = 1;
        int connectTimeoutMs = 0;
        int replyTimeoutMs = 0;
        int replyGapMs = -1;
        Misbehaviour misbehaviour;
    };

    class Events
    {
    public:
        virtual ~Events() = default;
        // A connection's link logged a line.
        virtual void linkLog(int connection, const QByteArray &line) = 0;
        // The packet went out; its reply is awaited.
        virtual void written(const Exchange &exchange) = 0;
        // Answered (round trip, latency and whole reply set) or unanswered.
        virtual void ended(OutcomeRecord &&record) = 0;
        // Never went out; `line` says why and is not logged yet.
        virtual void notSent(Exchange &&exchange, const QByteArray &line) = 0;
        // A connection failed to come up, or failed after; `line` is the
        // link's own line about it.
        virtual void connectFailed(const QByteArray &line) = 0;
    };

    ConnectionPool(const Settings &settings, const RunClock &clock, Events &events);
    ~ConnectionPool();

    int size() const { return int(m_connections.size()); }
    // A free connection's number (from 1), 0 when every one holds an exchange.
    int freeConnection() const;
    bool anyBusy() const;
    // Whether `number` holds the exchange `seq`, not yet ended.
    bool holds(int number, qint64 seq) const;
    Exchange &exchangeOf(int number);
    // Hands the exchange to free connection `number`: its packet goes when
    // the connection is up. False when the link would not start one. Throws
    // as Link::startSend does.
    bool start(int number, Exchange exchange);
    // Ends every exchange: those awaiting their reply as unanswered, those
    // whose connection is still coming up as not sent.
    void stopAll();
    void setTls(TlsClient *tls);

private:
    struct Connection;

    Connection &at(int number) const;
    void packetWritten(Connection &connection);
    void connectionFailed(Connection &connection);
    void replyTimedOut(Connection &connection);
    void settleConnecting(Connection &connection, const QByteArray &line);
    void endExchange(Connection &connection, Outcome outcome, const QByteArray &reply, const QByteArray &line);

    const Settings m_settings;
    const RunClock &m_clock;
    Events &m_events;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
