#pragma once

#include "platform/Clock.h"
#include "sender/LoadSchedule.h"
#include "sender/PeriodSchedule.h"

#include <optional>

// When a replay reads its next record: one a period on an absolute
// schedule; as soon as a connection is free (a closed loop); at a rate that
// may ramp up or follow stages (an open loop, whose records wait in a
// backlog while every connection is busy); or at the pace a capture
// recorded. The run asks for the next step and does it.
class Pacer
{
public:
    enum class Mode { Period, ClosedLoop, Rate, RecordedPace };
    struct Settings
    {
        Mode mode = Mode::ClosedLoop;
        double periodSeconds = 0;
        qint64 count = -1; // periods to read (every mode but Rate); -1: no end
        LoadSchedule::Settings load; // Rate
        double speed = 1;            // RecordedPace: 2 replays twice as fast
    };

    struct Step
    {
        enum class Kind { Read, Wait, End };
        Kind kind = Kind::End;
        // Read: when the record is due (ns after the start; -1 for none,
        // RecordedPace for the time its own line gives). Wait: until when
        // (-1: the next event).
        qint64 atNs = -1;
    };
    // The intended time of a record paced by its line, known once it is read.
    static constexpr qint64 RecordedPace = -2;

    Pacer(const Settings &settings, const RunClock &clock);

    // `linkFree`: a connection is free; `backlog`: records waiting for one;
    // `dataOver`: the reader has come to the end; `timeOver`: --duration has
    // passed (an open loop goes by its own schedule).
    Step next(bool linkFree, qint64 backlog, bool dataOver, bool timeOver);
    // After a Read step.
    void readDone()
    {
        ++m_periods;
        m_waited = false;
    }
    // A Read step in an open loop was taken later than the next record's
    // time: the replies that free its links must be served before it reads on.
    bool behind() const;
    // RecordedPace: when a record whose line was stamped `recordedMs` is
    // due. A line with no time of its own, or one earlier than the last,
    // goes right after the one before: the pace never runs backwards.
    qint64 recordedNs(std::optional<qint64> recordedMs);

    const LoadSchedule *schedule() const { return m_schedule ? &*m_schedule : nullptr; }

private:
    Step nextAtRate(qint64 backlog, bool dataOver);

    const Settings m_settings;
    const RunClock &m_clock;
    PeriodSchedule m_periodSchedule;
    std::optional<LoadSchedule> m_schedule;
    qint64 m_periods = 0;
    bool m_waited = false;  // Period: the wait for this period's start is under way
    qint64 m_periodStartNs = 0;
    std::optional<qint64> m_firstRecordedMs;
    qint64 m_pacedNs = 0;
};
