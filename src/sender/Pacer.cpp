#include "sender/Pacer.h"

#include <cmath>

Pacer::Pacer(const Settings &settings, const RunClock &clock)
    : m_settings(settings), m_clock(clock), m_periodSchedule(settings.periodSeconds * 1e9)
{
    if (settings.mode == Mode::Rate)
        m_schedule.emplace(settings.load, clock);
}

Pacer::Step Pacer::next(bool linkFree, qint64 backlog, bool dataOver, bool timeOver)
{
    using Kind = Step::Kind;
    if (m_settings.mode == Mode::Rate)
        return nextAtRate(backlog, dataOver);
    const bool periodsOver = m_settings.count >= 0 && m_periods >= m_settings.count;
    if (timeOver)
        return {Kind::End};
    switch (m_settings.mode) {
    case Mode::Period:
        if (periodsOver || dataOver)
            return {Kind::End};
        if (m_periods > 0 && !m_waited) {
            m_waited = true;
            m_periodStartNs = m_periodSchedule.next(m_clock.nsecsElapsed());
        }
        if (m_periods > 0 && m_clock.nsecsElapsed() < m_periodStartNs)
            return {Kind::Wait, m_periodStartNs};
        return {Kind::Read};
    case Mode::ClosedLoop:
        if (periodsOver || dataOver)
            return {Kind::End};
        return linkFree ? Step{Kind::Read} : Step{Kind::Wait};
    case Mode::RecordedPace:
        if (periodsOver || dataOver)
            return backlog > 0 ? Step{Kind::Wait} : Step{Kind::End};
        return {Kind::Read, RecordedPace};
    case Mode::Rate:
        break;
    }
    return {Kind::End};
}

Pacer::Step Pacer::nextAtRate(qint64 backlog, bool dataOver)
{
    using Kind = Step::Kind;
    LoadSchedule &schedule = *m_schedule;
    if (!dataOver) {
        if (const std::optional<qint64> due = schedule.takeDue())
            return {Kind::Read, *due};
    }
    if (schedule.durationOver() || ((dataOver || schedule.ended()) && backlog == 0))
        return {Kind::End};
    return {Kind::Wait, schedule.wakeNs()};
}

bool Pacer::behind() const
{
    if (!m_schedule)
        return false;
    const qint64 next = m_schedule->wakeNs();
    return next >= 0 && next <= m_clock.nsecsElapsed();
}

qint64 Pacer::recordedNs(std::optional<qint64> recordedMs)
{
    if (recordedMs) {
        if (!m_firstRecordedMs)
            m_firstRecordedMs = *recordedMs;
        const qint64 offset = std::llround(double(*recordedMs - *m_firstRecordedMs) * 1e6 / m_settings.speed);
        m_pacedNs = std::max(m_pacedNs, offset);
    }
    return m_pacedNs;
}
