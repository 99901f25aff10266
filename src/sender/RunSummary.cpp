#include "sender/RunSummary.h"

int RunSummary::exitStatus() const
{
    if (connectFailures > 0 && !everConnected)
        return 3;
    // A run that sent nothing tested nothing, whatever the reason.
    const bool failed = counts.sent == 0 || counts.unexpected > 0 || counts.unanswered > 0
        || notSent() - counts.tooShort > 0 || unplannedRejections > 0;
    return failed ? 1 : 0;
}

std::optional<RunFigures::RoundTrips> percentiles(const LogHistogram &times)
{
    if (times.count() == 0)
        return std::nullopt;
    return RunFigures::RoundTrips{times.min(),          times.percentile(50), times.percentile(90),
                                  times.percentile(99), times.max(),            times.percentile(99.9),
                                  times.percentile(95)};
}

RunFigures RunSummary::figures() const
{
    RunFigures figures;
    figures.counts = counts;
    figures.counts.notSent = notSent();
    figures.byExpect = byExpect;
    figures.rttMs = percentiles(roundTrips);
    figures.latencyMs = percentiles(latencies);
    figures.elapsedSeconds = elapsedSeconds;
    figures.tlsHandshakes = tlsHandshakes;
    if (dueRecords && elapsedSeconds > 0)
        figures.targetRate = double(*dueRecords) / elapsedSeconds;
    return figures;
}

QByteArray RunSummary::text() const
{
    QByteArray out = "summary: records read " + QByteArray::number(counts.read) + ", sent "
        + QByteArray::number(counts.sent);
    for (const auto &[word, count] : replyCounts(counts, byExpect))
        out += ", " + word.toLatin1() + ' ' + QByteArray::number(count);
    out += ", unanswered " + QByteArray::number(counts.unanswered) + ", not sent " + QByteArray::number(notSent())
        + ", lines rejected " + QByteArray::number(counts.rejected) + '\n';
    if (roundTrips.count() == 0) {
        out += "round trip ms: none\n";
    } else {
        out += "round trip ms: min " + QByteArray::number(roundTrips.min(), 'f', 3) + ", median "
            + QByteArray::number(roundTrips.percentile(50), 'f', 3) + ", p99 "
            + QByteArray::number(roundTrips.percentile(99), 'f', 3) + ", max "
            + QByteArray::number(roundTrips.max(), 'f', 3) + '\n';
    }
    const double rate = elapsedSeconds > 0 ? double(counts.sent) / elapsedSeconds : 0;
    out += "rate: " + QByteArray::number(rate, 'f', 2) + " records per second (" + QByteArray::number(counts.sent)
        + " sent in " + QByteArray::number(elapsedSeconds, 'f', 3) + " s)"
        + (dueRecords ? ", target " + QByteArray::number(elapsedSeconds > 0 ? double(*dueRecords) / elapsedSeconds : 0, 'f', 2)
                            + " (" + QByteArray::number(*dueRecords) + " due)"
                      : QByteArray())
        + '\n';
    if (latencies.count() > 0) {
        out += "latency ms from the intended send time: min " + QByteArray::number(latencies.min(), 'f', 3)
            + ", median " + QByteArray::number(latencies.percentile(50), 'f', 3) + ", p90 "
            + QByteArray::number(latencies.percentile(90), 'f', 3) + ", p99 "
            + QByteArray::number(latencies.percentile(99), 'f', 3) + ", p99.9 "
            + QByteArray::number(latencies.percentile(99.9), 'f', 3) + ", max "
            + QByteArray::number(latencies.max(), 'f', 3) + '\n';
    }
    if (tlsHandshakes)
        out += "tls handshakes: full " + QByteArray::number(tlsHandshakes->full) + ", resumed "
            + QByteArray::number(tlsHandshakes->resumed) + '\n';
    if (!byExpect.isEmpty())
        out += byExpect.text();
    return out;
}

ProgressFigures ProgressIntervals::next(qint64 nowNs, const RunCounts &counts)
{
    ProgressFigures figures;
    figures.elapsedSeconds = double(nowNs) / 1e9;
    figures.counts = counts;
    const double interval = double(nowNs - m_startNs) / 1e9;
    figures.intervalRate = interval > 0 ? double(counts.sent - m_startSent) / interval : 0;
    if (m_times.count() > 0)
        figures.intervalP99Ms = m_times.percentile(99);
    m_startNs = nowNs;
    m_startSent = counts.sent;
    m_times = LogHistogram();
    return figures;
}

QByteArray progressLine(const ProgressFigures &f)
{
    const RunCounts &c = f.counts;
    return "progress: " + QByteArray::number(f.elapsedSeconds, 'f', 1) + " s, sent " + QByteArray::number(c.sent)
        + ", answered " + QByteArray::number(c.answered) + ", unexpected " + QByteArray::number(c.unexpected)
        + ", unanswered " + QByteArray::number(c.unanswered) + ", not sent " + QByteArray::number(c.notSent)
        + (f.targetRate ? ", backlog " + QByteArray::number(f.backlog) : QByteArray())
        + ", rate " + QByteArray::number(f.intervalRate, 'f', 1) + "/s"
        + (f.targetRate ? ", target " + QByteArray::number(*f.targetRate, 'f', 1) + "/s" : QByteArray()) + ", p99 "
        + (f.intervalP99Ms ? QByteArray::number(*f.intervalP99Ms, 'f', 3) : QByteArray("-")) + " ms\n";
}
