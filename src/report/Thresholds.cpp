#include "report/Thresholds.h"

namespace {
QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}
// A limit as it was given: "10", "2.5".
QString limit(double value)
{
    return QString::number(value, 'g', 15);
}

struct Percentile
{
    const std::optional<double> Thresholds::*limit;
    const char *option;
    const char *name;
    double RunFigures::RoundTrips::*value;
};

const Percentile Percentiles[] = {
    {&Thresholds::maxP50Ms, "--max-p50", "p50", &RunFigures::RoundTrips::p50},
    {&Thresholds::maxP90Ms, "--max-p90", "p90", &RunFigures::RoundTrips::p90},
    {&Thresholds::maxP95Ms, "--max-p95", "p95", &RunFigures::RoundTrips::p95},
    {&Thresholds::maxP99Ms, "--max-p99", "p99", &RunFigures::RoundTrips::p99},
    {&Thresholds::maxP99_9Ms, "--max-p99-9", "p99.9", &RunFigures::RoundTrips::p99_9},
};

ThresholdCheck percentileCheck(const Percentile &p, double limitMs, const RunFigures &figures)
{
    // Latency from the intended time, where the run had one, is what a
    // stalled receiver cannot hide.
    const bool latency = figures.latencyMs.has_value();
    const QString measure = latency ? QStringLiteral("latency") : QStringLiteral("round trip");
    const std::optional<RunFigures::RoundTrips> &times = latency ? figures.latencyMs : figures.rttMs;
    const QString option = QLatin1String(p.option);
    // A run without a single reply has no percentile to meet the limit with.
    if (!times)
        return {option, false, QStringLiteral("%1: no round trip measured, limit %2 ms").arg(option, limit(limitMs))};
    const double value = (*times).*p.value;
    return {option, value <= limitMs,
            QStringLiteral("%1: %2 %3 %4 ms, limit %5 ms")
                .arg(option, QLatin1String(p.name), measure, number(value, 3), limit(limitMs))};
}

ThresholdCheck failedCheck(double limitShare, const RunCounts &counts)
{
    const QString option = QStringLiteral("--max-failed");
    if (counts.read == 0)
        return {option, false, QStringLiteral("%1: no record read, limit %2").arg(option, limit(limitShare))};
    const qint64 failed = counts.unexpected + counts.unanswered + counts.notSent;
    const double share = double(failed) / double(counts.read);
    return {option, share <= limitShare,
            QStringLiteral("%1: %2 of records failed (%3 of %4), limit %5")
                .arg(option, number(share, 4), QString::number(failed), QString::number(counts.read),
                     limit(limitShare))};
}
} // namespace

QString ThresholdCheck::line() const
{
    return (met ? QStringLiteral("threshold met: ") : QStringLiteral("threshold missed: ")) + measure;
}

QByteArray ThresholdCheck::markedLine() const
{
    return (met ? QByteArray("\u2713 ") : QByteArray("\u2717 ")) + line().toLatin1();
}

QList<ThresholdCheck> checkThresholds(const Thresholds &thresholds, const RunFigures &figures)
{
    QList<ThresholdCheck> checks;
    for (const Percentile &p : Percentiles) {
        if (const std::optional<double> &limitMs = thresholds.*p.limit)
            checks << percentileCheck(p, *limitMs, figures);
    }
    if (thresholds.maxFailed)
        checks << failedCheck(*thresholds.maxFailed, figures.counts);
    if (thresholds.minRate) {
        const QString option = QStringLiteral("--min-rate");
        checks << ThresholdCheck{option, figures.rate() >= *thresholds.minRate,
                                 QStringLiteral("%1: %2 records per second, limit %3 records per second")
                                     .arg(option, number(figures.rate(), 2), limit(*thresholds.minRate))};
    }
    return checks;
}

QStringList thresholdLines(const QList<ThresholdCheck> &checks, bool met)
{
    QStringList lines;
    for (const ThresholdCheck &check : checks) {
        if (check.met == met)
            lines << check.line();
    }
    return lines;
}

QStringList missedThresholds(const Thresholds &thresholds, const RunFigures &figures)
{
    return thresholdLines(checkThresholds(thresholds, figures), false);
}
