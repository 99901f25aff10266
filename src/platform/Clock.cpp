#include "platform/Clock.h"

#include <QLocale>

QDateTime SystemClock::now() const
{
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const qint64 age = m_offsetCheckedAt.isValid() ? m_offsetCheckedAt.msecsTo(utc) : -1;
    if (age < 0 || age >= 1000) {
        m_offsetSeconds = utc.toLocalTime().offsetFromUtc();
        m_offsetCheckedAt = utc;
    }
    return utc.toOffsetFromUtc(m_offsetSeconds);
}

namespace {

// The regional long time format names the time zone ("t"); the log shows only
// hours, minutes and seconds, so the zone and the blanks around it go.
QString timeFormatWithoutZone()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

} // namespace

QString timeOfDayText(const QTime &time)
{
    static const QString format = timeFormatWithoutZone();
    // Every log line asks for the time, many within one second: the text of
    // the last time asked for is kept. A format that shows milliseconds
    // changes every millisecond.
    static const int unitMs = format.contains(QLatin1Char('z')) ? 1 : 1000;
    thread_local int lastUnit = -1;
    thread_local QString lastText;
    const int unit = time.isValid() ? time.msecsSinceStartOfDay() / unitMs : -1;
    if (unit < 0 || unit != lastUnit) {
        lastText = QLocale::system().toString(time, format);
        lastUnit = unit;
    }
    return lastText;
}

QString dateTimeText(const QDateTime &dateTime)
{
    return QLocale::system().toString(dateTime.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + timeOfDayText(dateTime.time());
}
