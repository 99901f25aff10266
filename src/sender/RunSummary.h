#pragma once

#include "report/LogHistogram.h"
#include "report/Outcome.h"

#include <QByteArray>

#include <optional>

// The counts and round-trip times of one ipnd-send run, and the summary it
// prints at the end.
struct RunSummary
{
    RunCounts counts;
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

    // Every record read that did not go out: those settled as not sent, and
    // those never settled so (withheld by a manifest that did not fit, or
    // planned by it to be rejected). The summary and the reports give this.
    qint64 notSent() const { return counts.read - counts.sent; }

    // 0 every record sent was answered as expected and none failed to go
    // out; 1 some were not, or no record was sent at all; 3 no connection to the server
    // ever came up. Records too short to send do not count against the run.
    int exitStatus() const;

    // The counts, the table by kind, round trips and latencies as the
    // reports and thresholds take them.
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
    RunCounts counts; // the run's so far
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
    // The line at `nowNs` (since the start) with the run's counts so far:
    // its elapsed time, rate and p99; the next interval starts there.
    ProgressFigures next(qint64 nowNs, const RunCounts &counts);

private:
    qint64 m_startNs = 0;
    qint64 m_startSent = 0;
    LogHistogram m_times;
};

// min, p50, p90, p95, p99, max and p99.9 of the times; none when there are none.
std::optional<RunFigures::RoundTrips> percentiles(const LogHistogram &times);
