#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// What became of one line of a run's input.
enum class Outcome {
    Answered,   // a reply came (and matched --expect, if given)
    Unexpected, // a reply came that did not match --expect
    Unmatched,  // a reply came that the pattern engine gave up on: no verdict
    Unanswered, // sent, but no reply: timeout, peer closed, or the run stopped
    NotSent,    // read, but it never went out
    Rejected,   // the reader refused the line
};

// "answered", "unexpected", "unmatched", "unanswered", "not-sent", "rejected".
QString outcomeName(Outcome outcome);
// The outcomes that fail a run.
bool isFailure(Outcome outcome);
// The outcomes of a record that went out.
bool wasSent(Outcome outcome);

// One record of the run as the reports show it.
struct OutcomeRecord
{
    qint64 seq = 0; // 1 for the first line read, rejected lines included
    Outcome outcome = Outcome::NotSent;
    QByteArray id;                   // the record's first field
    std::optional<double> rttMs;     // answered and unexpected only
    std::optional<QByteArray> reply; // answered and unexpected only; at most ReplyKeptBytes of it
    QDateTime sentAt;                // UTC; invalid when it was not sent
    int connection = 0;              // 1 for the run's first connection; 0 when not sent
    QByteArray reason;               // the log line that said why it failed or was rejected
    bool dataFault = false;          // not sent for a fault of the data (too short): does not fail the run
    qint64 replyBytes = 0;           // the whole reply's length

    // What of a reply the reports keep: a run's memory and reports stay
    // bounded whatever the receiver sends.
    static constexpr qsizetype ReplyKeptBytes = 4096;
    // Keeps the reply, cut to ReplyKeptBytes, and notes its whole length.
    void keepReply(const QByteArray &whole);
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

// The figures of a whole run, as its summary gives them.
struct RunFigures
{
    qint64 read = 0; // records read; rejected lines not included
    qint64 sent = 0;
    qint64 answered = 0;
    qint64 unexpected = 0;
    qint64 unanswered = 0;
    qint64 notSent = 0;
    qint64 rejected = 0;

    struct RoundTrips
    {
        double min = 0;
        double p50 = 0;
        double p90 = 0;
        double p99 = 0;
        double max = 0;
    };
    std::optional<RoundTrips> rttMs; // none when no reply came
    double elapsedSeconds = 0;       // from the first record to the end

    // Sent records per second.
    double rate() const { return elapsedSeconds > 0 ? double(sent) / elapsedSeconds : 0; }
    void count(Outcome outcome);
};
