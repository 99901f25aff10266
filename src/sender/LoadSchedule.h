#pragma once

#include "platform/Clock.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <deque>
#include <optional>
#include <utility>
#include <vector>

// One stage of a load shape: the rate goes linearly from where the stage
// before left it (0 at the start) to `rate` over `seconds`.
struct LoadStage
{
    double seconds = 0;
    double rate = 0;
};

// The intended send times of an open-loop run: record i is due i / rate
// seconds after the start, or, during a ramp-up or a stage, as a rate that
// changes linearly makes it. Sending ends at the duration, if any, at the
// end of the last stage, or after `count` records. The times are kept whatever the receiver does: a record
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
        // Given, they take the place of the rate and the ramp-up.
        std::vector<LoadStage> stages;
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
    // The rate the schedule means to send at, `ns` after the start: 0 once
    // the duration is over.
    double rateAt(qint64 ns) const;
    // Records that have come due so far.
    qint64 due() const { return m_next; }

private:
    // `count` records have come due, or the next is due at or after the end.
    bool noneLeft() const;

    const Settings m_settings;
    const RunClock &m_clock;
    struct Segment
    {
        double start = 0;   // seconds after the start
        double seconds = 0; // infinite for a rate held to the end
        double fromRate = 0;
        double toRate = 0;
        double before = 0;  // records due before the segment
    };

    const qint64 m_durationNs;
    std::vector<Segment> m_segments;
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

// The time stamp a RAWLOG line's log fields begin with, "2026-12-09
// 15:00:00" or with a fraction of a second (".123"), in milliseconds on a
// clock of the file's own (no time zone: only the differences matter); none
// when the fields do not begin so.
std::optional<qint64> recordedTimeMs(QByteArrayView logFields);
