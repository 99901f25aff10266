#pragma once

#include "platform/Tls.h"
#include "report/ReplyExpectation.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QTcpSocket;

// How the reply to one connection is classed.
enum class ReplyClass { Accepted, Refused, Closed, Timeout, Unexpected, NoConnection };
constexpr int ReplyClassCount = 6;
// "accepted", "refused", "closed", "timeout", "unexpected", "no-connection".
QByteArray replyClassName(ReplyClass replyClass);

// What one connection does from the source's side.
struct ExchangePlan
{
    struct Piece
    {
        int delayMs = 0; // after the connection is up, or after the piece before
        QByteArray bytes;
    };
    enum class End {
        AwaitReply, // wait for the reply
        HalfClose,  // shut the sending side after the last piece, then wait for the reply
        Reset,      // a reset (RST) once the pieces are out
        Hold,       // stay open and silent until closed; note when the receiver closes
        Close,      // close at once, without waiting for anything
    };

    QList<Piece> pieces;
    End end = End::AwaitReply;
    QByteArray id;      // the record's id in the reply; empty: any run of non-blank bytes
    QByteArray probeOf; // what the bytes are, for the report when they are not shown whole

    static ExchangePlan whole(const QByteArray &packet, const QByteArray &id)
    {
        return ExchangePlan{{{0, packet}}, End::AwaitReply, id, {}};
    }
    QByteArray bytes() const;
};

// What became of one connection.
struct ExchangeResult
{
    QByteArray sent;
    QByteArray reply; // at most ReplyKeptBytes of it
    ReplyClass replyClass = ReplyClass::NoConnection;
    double ms = 0;         // from asking for the connection to its end
    double closedAtMs = -1; // Hold: when the receiver closed it, from the connection's start

    static constexpr qsizetype ReplyKeptBytes = 65536;
};

// The patterns that class a reply, with {id} the record's id or, where the
// receiver cannot find one, any run of non-blank bytes.
struct ReplyPatterns
{
    ReplyExpectation accept;
    ReplyExpectation refuse;
    ReplyExpectation acceptAny;
    ReplyExpectation refuseAny;

    // None, with the reason in *error, when a pattern is not valid.
    static std::optional<ReplyPatterns> make(const QByteArray &accept, const QByteArray &refuse, QString *error);
    // None while the reply matches neither.
    std::optional<ReplyClass> match(const QByteArray &reply, const QByteArray &id) const;
};

// One connection to the receiver, carried out in the event loop: every wait
// in it is bounded by the timeout. finished() comes once, also after close().
class Exchange : public QObject
{
    Q_OBJECT

public:
    Exchange(const QString &host, quint16 port, int timeoutMs, const ReplyPatterns &patterns, ExchangePlan plan,
             QObject *parent = nullptr);
    ~Exchange() override;

    // Speaks TLS from `tls` (not owned): the connection is up once the
    // handshake is done, and one that fails is no connection, the reason in
    // the reply. Before start().
    void setTls(TlsClient *tls) { m_tls = tls; }
    void start();
    // Ends it now: a connection still waiting counts as a timeout; a held
    // one, as it stands.
    void close();
    bool isFinished() const { return m_finished; }
    bool isUp() const { return m_up; }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    const ExchangeResult &result() const { return m_result; }
    const ExchangePlan &plan() const { return m_plan; }

signals:
    void finished();

private:
    void connected();
    void up();
    void write(const QByteArray &plain);
    void writeNext();
    void afterLastPiece();
    void readReply();
    void peerClosed();
    void timedOut();
    void finish(ReplyClass replyClass);
    void classifyAtEnd(ReplyClass whenEmpty);

    const QString m_host;
    const quint16 m_port;
    const int m_timeoutMs;
    const ReplyPatterns &m_patterns;
    const ExchangePlan m_plan;
    QTcpSocket *m_socket;
    TlsClient *m_tls = nullptr;
    std::unique_ptr<TlsClient::Stream> m_stream;
    QTimer m_timer;    // the bound of the wait under way
    QTimer m_pieceTimer;
    qsizetype m_nextPiece = 0;
    bool m_up = false;
    bool m_finished = false;
    bool m_holding = false;
    QElapsedTimer m_clock;
    ExchangeResult m_result;
};
