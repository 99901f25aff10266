#pragma once

#include <QDateTime>
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

// Hours, minutes and seconds in the regional time format, no date.
QString timeOfDayText(const QTime &time);
// The regional date, one blank, the regional time.
QString dateTimeText(const QDateTime &dateTime);
