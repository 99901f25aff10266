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
    return QLocale::system().toString(time, format);
}

QString dateTimeText(const QDateTime &dateTime)
{
    return QLocale::system().toString(dateTime.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + timeOfDayText(dateTime.time());
}
