#pragma once

#include "report/Outcome.h"

#include <QStringList>

#include <optional>

// --max-p99 MS and --min-rate RECORDS_PER_SECOND.
struct Thresholds
{
    std::optional<double> maxP99Ms;
    std::optional<double> minRate;
};

// One line for each threshold the run missed, naming it, the measured value
// and the limit; empty when the run met them all.
QStringList missedThresholds(const Thresholds &thresholds, const RunFigures &figures);
