#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

// The present local date and time. The program uses SystemClock; a test sets
// the time itself.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override;

private:
    // Asking for local time reads the zone settings each time; the offset
    // from UTC is looked up again once it is a second old.
    mutable QDateTime m_offsetCheckedAt;
    mutable int m_offsetSeconds = 0;
};

// Nanoseconds since a run's start, on a clock that never jumps. Programs use
// ElapsedClock; a test moves the time itself.
class RunClock
{
public:
    virtual ~RunClock() = default;
    virtual qint64 nsecsElapsed() const = 0;
};

class ElapsedClock final : public RunClock
{
public:
    void start() { m_timer.start(); }
    qint64 nsecsElapsed() const override { return m_timer.nsecsElapsed(); }

private:
    QElapsedTimer m_timer;
};

// Hours, minutes and seconds in the regional time format, no date.
QString timeOfDayText(const QTime &time);
// The regional date, one blank, the regional time.
QString dateTimeText(const QDateTime &dateTime);
