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
} // namespace

QStringList missedThresholds(const Thresholds &thresholds, const RunFigures &figures)
{
    QStringList missed;
    if (thresholds.maxP99Ms) {
        // Latency from the intended time, where the run had one, is what a
        // stalled receiver cannot hide.
        const bool latency = figures.latencyMs.has_value();
        const QString measure = latency ? QStringLiteral("latency") : QStringLiteral("round trip");
        const std::optional<RunFigures::RoundTrips> &times = latency ? figures.latencyMs : figures.rttMs;
        // A run without a single reply has no p99 to meet the limit with.
        if (!times)
            missed << QStringLiteral("threshold missed: --max-p99: no round trip measured, limit %1 ms")
                          .arg(limit(*thresholds.maxP99Ms));
        else if (times->p99 > *thresholds.maxP99Ms)
            missed << QStringLiteral("threshold missed: --max-p99: p99 %1 %2 ms, limit %3 ms")
                          .arg(measure, number(times->p99, 3), limit(*thresholds.maxP99Ms));
    }
    if (thresholds.minRate && figures.rate() < *thresholds.minRate)
        missed << QStringLiteral("threshold missed: --min-rate: %1 records per second, limit %2 records per second")
                      .arg(number(figures.rate(), 2), limit(*thresholds.minRate));
    return missed;
}
