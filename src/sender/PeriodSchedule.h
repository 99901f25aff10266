#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cmath>

// The absolute schedule of a paced run: period k starts k periods after the
// start, so late exchanges neither drift nor bunch up.
class PeriodSchedule
{
public:
    explicit PeriodSchedule(double periodNs) : m_periodNs(periodNs) {}

    // The start (ns after the run's start) of the period after the one under
    // way: the first point of the schedule that has not passed and comes
    // after the last one. A start rounded down to the nanosecond, or a clock
    // that has hardly moved since, would otherwise give a quick exchange a
    // second turn in its own slot.
    qint64 next(qint64 nowNs)
    {
        m_slot = std::max(m_slot + 1, qint64(std::ceil(double(nowNs) / m_periodNs)));
        return qint64(std::llround(double(m_slot) * m_periodNs));
    }

private:
    double m_periodNs;
    qint64 m_slot = 0;
};
