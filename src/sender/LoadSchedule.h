#pragma once

#include "platform/Clock.h"

#include <QtGlobal>

#include <deque>
#include <optional>
#include <utility>

// The intended send times of an open-loop run: record i is due i / rate
// seconds after the start, or, during a ramp-up, as a rate that rises
// linearly from 0 makes it. Sending ends at the duration, if any, or after
// `count` records. The times are kept whatever the receiver does: a record
// that goes out late is measured from the time it was meant to go.
class LoadSchedule
{
public:
    struct Settings
    {
        double rate = 1;            // records per second, once the ramp is over
        double rampUpSeconds = 0;
        double durationSeconds = 0; // 0: no end in time
        qint64 count = -1;          // records; -1: no end in number
    };

    LoadSchedule(const Settings &settings, const RunClock &clock);

    // The intended time (ns after the start) of record `index`, from 0.
    qint64 intendedNs(qint64 index) const;
    // The intended time of the next record if it has come due, and then the
    // one after it is next; nothing while it is not due, or once no record
    // is left before the end.
    std::optional<qint64> takeDue();
    // When the next record comes due, or when the duration is over if that
    // is sooner; -1 when neither is ahead.
    qint64 wakeNs() const;
    // No record will come due any more: `count` records have, the next
    // would be due at or after the duration's end, or the end has passed.
    bool ended() const;
    // The duration has passed: records still waiting go unsent.
    bool durationOver() const;

private:
    // `count` records have come due, or the next is due at or after the end.
    bool noneLeft() const;

    const Settings m_settings;
    const RunClock &m_clock;
    const qint64 m_durationNs;
    qint64 m_next = 0;
};

// Records that came due while every link was busy, oldest first, at most
// `bound` of them: one more is refused and goes unsent.
template <typename T>
class Backlog
{
public:
    explicit Backlog(qint64 bound) : m_bound(bound) {}

    bool push(T item)
    {
        if (qint64(m_items.size()) >= m_bound)
            return false;
        m_items.push_back(std::move(item));
        return true;
    }
    std::optional<T> pop()
    {
        if (m_items.empty())
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }
    qint64 size() const { return qint64(m_items.size()); }

private:
    qint64 m_bound;
    std::deque<T> m_items;
};
