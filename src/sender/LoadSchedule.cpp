#include "sender/LoadSchedule.h"

#include <algorithm>
#include <cmath>

LoadSchedule::LoadSchedule(const Settings &settings, const RunClock &clock)
    : m_settings(settings)
    , m_clock(clock)
    , m_durationNs(settings.durationSeconds > 0 ? std::llround(settings.durationSeconds * 1e9) : -1)
{
}

qint64 LoadSchedule::intendedNs(qint64 index) const
{
    const double rate = m_settings.rate;
    const double ramp = m_settings.rampUpSeconds;
    // Over a ramp from 0 to `rate` in `ramp` seconds, rate * t² / (2 ramp)
    // records have come due by time t: rate * ramp / 2 by its end.
    const double duringRamp = rate * ramp / 2;
    const double i = double(index);
    const double seconds = i < duringRamp ? std::sqrt(2 * ramp * i / rate) : ramp + (i - duringRamp) / rate;
    return std::llround(seconds * 1e9);
}

bool LoadSchedule::durationOver() const
{
    return m_durationNs >= 0 && m_clock.nsecsElapsed() >= m_durationNs;
}

bool LoadSchedule::noneLeft() const
{
    return (m_settings.count >= 0 && m_next >= m_settings.count)
        || (m_durationNs >= 0 && intendedNs(m_next) >= m_durationNs);
}

bool LoadSchedule::ended() const
{
    return noneLeft() || durationOver();
}

std::optional<qint64> LoadSchedule::takeDue()
{
    // A record due before the end is taken even by a run that comes to it
    // only after the end: it was due, and is counted one way or the other.
    if (noneLeft())
        return std::nullopt;
    const qint64 due = intendedNs(m_next);
    if (due > m_clock.nsecsElapsed())
        return std::nullopt;
    ++m_next;
    return due;
}

qint64 LoadSchedule::wakeNs() const
{
    if (!ended())
        return m_durationNs >= 0 ? std::min(intendedNs(m_next), m_durationNs) : intendedNs(m_next);
    // Records still waiting may go out until the duration is over.
    return m_durationNs >= 0 && !durationOver() ? m_durationNs : -1;
}
