#pragma once

#include "report/LogHistogram.h"
#include "report/Outcome.h"

#include <QByteArray>

#include <optional>

// The counts and round-trip times of one ipnd-send run, and the summary it
// prints at the end.
struct RunSummary
{
    qint64 recordsRead = 0;
    qint64 sent = 0;
    qint64 answered = 0;        // replies that matched --expect, when given
    qint64 unexpected = 0;      // replies that did not
    qint64 unanswered = 0;
    qint64 linesRejected = 0;
    qint64 tooShort = 0;        // read but too short to send: the data's fault, like a rejected line
    qint64 connectFailures = 0;
    qint64 unplannedRejections = 0; // with a manifest: lines rejected that no entry planned
    ExpectTable byExpect;           // with a manifest
    bool everConnected = false;
    LogHistogram roundTrips; // one per answered record
    // With --rate, one per answered record from its intended send time.
    LogHistogram latencies;
    double elapsedSeconds = 0;  // from the first record to the end
    std::optional<qint64> dueRecords; // an open loop's: records its schedule made due
    std::optional<RunFigures::TlsHandshakes> tlsHandshakes; // with --tls

    qint64 notSent() const { return recordsRead - sent; }

    // 0 every record sent was answered as expected and none failed to go
    // out; 1 some were not, or no record was sent at all; 3 no connection to the server
    // ever came up. Records too short to send do not count against the run.
    int exitStatus() const;

    // The counts, round trips and latencies as the reports and thresholds take them.
    RunFigures figures() const;

    // Three lines: the counts, the round-trip times, the rate; with --rate
    // a fourth, the latency from the intended send time; with --tls, the
    // handshakes, full and resumed; with a manifest,
    // the table of outcomes kind by kind after them.
    QByteArray text() const;
};

// One --progress line, for a CI log to follow.
struct ProgressFigures
{
    double elapsedSeconds = 0;
    qint64 sent = 0;
    qint64 answered = 0;
    qint64 unexpected = 0;
    qint64 unanswered = 0;
    qint64 notSent = 0;
    double intervalRate = 0;             // records sent per second since the last line
    std::optional<double> intervalP99Ms; // none: no reply since the last line
    // An open loop's: the rate its schedule means now, and the records
    // waiting for a free connection.
    std::optional<double> targetRate;
    qint64 backlog = 0;
};

// "progress: 12.0 s, sent N, answered N, unexpected N, unanswered N, not sent
// N, rate R/s, p99 X ms" and a line feed; "p99 - ms" when there is none. An
// open loop's line has ", backlog N" after "not sent N" and ", target T/s"
// after the rate.
QByteArray progressLine(const ProgressFigures &figures);

// The intervals of the --progress lines: each line's rate and p99 cover the
// time since the line before, not the run so far.
class ProgressIntervals
{
public:
    // A reply's time (latency with --rate, the round trip otherwise).
    void replied(double ms) { m_times.add(ms); }
    // The sent count, elapsed time, rate and p99 of the line at `nowNs`
    // (since the start); the next interval starts there.
    ProgressFigures next(qint64 nowNs, qint64 sent);

private:
    qint64 m_startNs = 0;
    qint64 m_startSent = 0;
    LogHistogram m_times;
};

// min, p50, p90, p95, p99, max and p99.9 of the times; none when there are none.
std::optional<RunFigures::RoundTrips> percentiles(const LogHistogram &times);
