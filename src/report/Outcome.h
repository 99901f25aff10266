#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <QList>
#include <QMap>

#include <optional>
#include <utility>

// What became of one line of a run's input.
enum class Outcome {
    Answered,   // a reply came (and matched --expect, if given)
    Unexpected, // a reply came that did not match --expect
    Unmatched,  // a reply came that the pattern engine gave up on: no verdict
    Unanswered, // sent, but no reply: timeout, peer closed, or the run stopped
    NotSent,    // read, but it never went out
    Rejected,   // the reader refused the line
    // With a manifest, a reply is judged against the record's kind.
    Accepted,    // valid, the reply matched --accept
    Refused,     // broken, the reply matched --refuse
    FalseAccept, // broken, the reply matched --accept
    FalseRefuse, // valid, the reply matched --refuse
};

// "answered", "unexpected", "unmatched", "unanswered", "not-sent", "rejected",
// "accepted", "refused", "false-accept", "false-refuse".
QString outcomeName(Outcome outcome);
// The outcomes that fail a run (a rejected line fails only when no manifest
// entry planned it: see the record's overload).
bool isFailure(Outcome outcome);
// The outcomes of a record that went out.
bool wasSent(Outcome outcome);
// A reply came, whether or not it was the one hoped for.
bool wasAnswered(Outcome outcome);

// One record of the run as the reports show it.
struct OutcomeRecord
{
    qint64 seq = 0; // 1 for the first line read, rejected lines included
    Outcome outcome = Outcome::NotSent;
    QByteArray id;                   // the record's first field
    std::optional<double> rttMs;     // answered and unexpected only: from the write to the reply
    std::optional<QByteArray> reply; // answered and unexpected only; at most ReplyKeptBytes of it
    QDateTime sentAt;                // UTC; invalid when it was not sent
    int connection = 0;              // 1 for the run's first connection; 0 when not sent
    QByteArray reason;               // the log line that said why it failed or was rejected
    QByteArray expect;               // the manifest's kind ("valid", "too-wide", ...); empty without one
    bool unplanned = false;          // rejected, and no manifest entry planned it
    // With --rate, answered and unexpected only: from the time the record
    // was due to the reply, so that time spent waiting for a link counts.
    std::optional<double> latencyMs;
    std::optional<double> connectMs; // from asking for the connection to its coming up
    bool dataFault = false;          // not sent for a fault of the data (too short): does not fail the run
    qint64 replyBytes = 0;           // the whole reply's length

    // What of a reply the reports keep: a run's memory and reports stay
    // bounded whatever the receiver sends.
    static constexpr qsizetype ReplyKeptBytes = 4096;
    // Keeps the reply, cut to ReplyKeptBytes, and notes its whole length.
    void keepReply(const QByteArray &whole);
};

bool isFailure(const OutcomeRecord &record);

// A run with a manifest, kind by kind: what became of the records of each
// kind the manifest names.
struct ExpectCounts
{
    qint64 sent = 0;
    qint64 accepted = 0;
    qint64 refused = 0;
    qint64 falseAccept = 0;
    qint64 falseRefuse = 0;
    qint64 unexpected = 0;
    qint64 unanswered = 0;
    qint64 notSent = 0;
    qint64 rejected = 0;

    // The outcome columns in table order, each named by outcomeName() in the
    // table, the JSON keys and JUnit alike.
    struct Column
    {
        Outcome outcome;
        qint64 ExpectCounts::*count;
    };
    static const QList<Column> &columns();
};

// "valid" first, then the kinds of break by name. Fixed size: one row a kind.
class ExpectTable
{
public:
    void count(const OutcomeRecord &record);
    bool isEmpty() const { return m_rows.isEmpty(); }
    QList<std::pair<QByteArray, ExpectCounts>> rows() const;
    // The table as the summary on standard output prints it, a line a kind.
    QByteArray text() const;

private:
    QMap<QByteArray, ExpectCounts> m_rows;
};

// ISO 8601 in UTC with milliseconds: "2026-12-08T21:40:01.123Z". Reports
// give times in UTC: unambiguous across zones and clock changes, and cheap
// to write (no zone look-up per record).
QString isoTime(const QDateTime &time);

// The first field of a record: everything before the first '|'.
QByteArray recordId(const QByteArray &record);

// The bytes as printable ASCII: a backslash as \\, CR, LF and tab as \r, \n,
// \t, any other byte outside 0x20-0x7e as \xNN.
QByteArray printable(const QByteArray &bytes);

// What became of a run's lines, as the summary, the live and --progress
// lines and every report give it. A report tallies them from the records
// (count()); ipnd-send counts them as the run goes: read, rejected and too
// short as its reader tells, sent as each record is written, and the rest
// as each record is settled.
struct RunCounts
{
    qint64 read = 0; // records read; rejected lines not included
    qint64 sent = 0;
    qint64 answered = 0;   // replies that matched --expect, when given; with a manifest, accepted or refused
    qint64 unexpected = 0; // replies that did not
    qint64 unanswered = 0;
    qint64 notSent = 0;    // records settled as not sent
    qint64 rejected = 0;   // lines the reader refused
    qint64 tooShort = 0;   // ipnd-send's: read but too short to send, the data's fault like a rejected line

    // A record that has ended, counted by its outcome as answered,
    // unexpected, unanswered or not sent; a rejected line in none of them.
    void settled(Outcome outcome);
    // The record whole: a rejected line, or a record read, sent if it went
    // out, and settled.
    void count(const OutcomeRecord &record);
};

// A run's replies counted by outcome, in the words every report uses:
// answered and unexpected, or with a manifest the table's accepted, refused,
// false-accept, false-refuse and unexpected (a reply neither pattern takes).
QList<std::pair<QString, qint64>> replyCounts(const RunCounts &counts, const ExpectTable &byExpect);

// The figures of a whole run, as its summary gives them.
struct RunFigures
{
    RunCounts counts;

    struct RoundTrips
    {
        double min = 0;
        double p50 = 0;
        double p90 = 0;
        double p99 = 0;
        double max = 0;
        double p99_9 = 0;
        double p95 = 0;
    };
    std::optional<RoundTrips> rttMs; // none when no reply came
    // From each record's intended send time: with --rate only.
    std::optional<RoundTrips> latencyMs;
    double elapsedSeconds = 0;       // from the first record to the end
    // An open loop's: the records its schedule made due per second, beside
    // rate() of those that went out.
    std::optional<double> targetRate;
    struct TlsHandshakes
    {
        qint64 full = 0;
        qint64 resumed = 0;
    };
    std::optional<TlsHandshakes> tlsHandshakes; // with TLS only

    ExpectTable byExpect; // with a manifest only
    bool conformance = false; // the run had a manifest
    // Ended by a signal or by its standard output going away: never a pass.
    bool interrupted = false;
    // The thresholds the run met, as their lines say: the reports list them
    // beside the missed ones.
    QStringList thresholdsMet;
    qint64 handled = 0;               // records (manifest entries, with one) the run got to
    std::optional<qint64> planned;    // of how many, when known

    // Sent records per second.
    double rate() const { return elapsedSeconds > 0 ? double(counts.sent) / elapsedSeconds : 0; }
    // The record in the counts and, with a kind, in the table.
    void count(const OutcomeRecord &record);
    // "Interrupted after N of M records", or "after N records" when M is not known.
    QString interruptedText() const;
};
