#pragma once

#include "report/Outcome.h"

#include <QList>
#include <QStringList>

#include <optional>

// --max-p50, --max-p90, --max-p95, --max-p99 and --max-p99-9 MS,
// --max-failed FRACTION and --min-rate RECORDS_PER_SECOND.
struct Thresholds
{
    std::optional<double> maxP50Ms;
    std::optional<double> maxP90Ms;
    std::optional<double> maxP95Ms;
    std::optional<double> maxP99Ms;
    std::optional<double> maxP99_9Ms;
    std::optional<double> maxFailed; // the share of records read that failed, 0 to 1
    std::optional<double> minRate;
};

// One threshold given, measured against the run.
struct ThresholdCheck
{
    QString option; // "--max-p99"
    bool met = false;
    QString measure; // "--max-p99: p99 latency 1.234 ms, limit 10 ms"

    // "threshold met: <measure>" or "threshold missed: <measure>".
    QString line() const;
    // The line marked ✓ or ✗, as the summary prints it.
    QByteArray markedLine() const;
};

// Every threshold given, in the order of the options above.
QList<ThresholdCheck> checkThresholds(const Thresholds &thresholds, const RunFigures &figures);

// line() of each check that was met, or of each that was missed.
QStringList thresholdLines(const QList<ThresholdCheck> &checks, bool met);

// One line for each threshold the run missed, naming it, the measured value
// and the limit; empty when the run met them all.
QStringList missedThresholds(const Thresholds &thresholds, const RunFigures &figures);
