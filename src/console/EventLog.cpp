#include "console/EventLog.h"

void EventLog::insert(const QString &timeOfDay, const QString &text)
{
    QString &line = m_slots[size_t(m_oldest)];
    line.clear();
    line.reserve(timeOfDay.size() + 1 + text.size());
    line += timeOfDay;
    line += QLatin1Char(' ');
    line += text;
    m_oldest = (m_oldest + 1) % Slots;
}

QString EventLog::render() const
{
    qsizetype size = 2 * Slots;
    for (const QString &line : m_slots)
        size += line.size();
    QString text;
    text.reserve(size);
    for (int number = Slots; number >= 1; --number) {
        text += slot(number);
        text += QLatin1String("\r\n");
    }
    return text;
}
