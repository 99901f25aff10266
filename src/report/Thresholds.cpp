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
        // A run without a single reply has no p99 to meet the limit with.
        if (!figures.rttMs)
            missed << QStringLiteral("threshold missed: --max-p99: no round trip measured, limit %1 ms")
                          .arg(limit(*thresholds.maxP99Ms));
        else if (figures.rttMs->p99 > *thresholds.maxP99Ms)
            missed << QStringLiteral("threshold missed: --max-p99: p99 round trip %1 ms, limit %2 ms")
                          .arg(number(figures.rttMs->p99, 3), limit(*thresholds.maxP99Ms));
    }
    if (thresholds.minRate && figures.rate() < *thresholds.minRate)
        missed << QStringLiteral("threshold missed: --min-rate: %1 records per second, limit %2 records per second")
                      .arg(number(figures.rate(), 2), limit(*thresholds.minRate));
    return missed;
}
