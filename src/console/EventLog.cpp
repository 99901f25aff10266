#include "console/EventLog.h"

#include <algorithm>

void EventLog::insert(const QString &timeOfDay, const QString &text)
{
    std::move(m_slots.begin() + 1, m_slots.end(), m_slots.begin());
    m_slots.back() = timeOfDay + QLatin1Char(' ') + text;
}

QString EventLog::render() const
{
    qsizetype size = 2 * Slots;
    for (const QString &line : m_slots)
        size += line.size();
    QString text;
    text.reserve(size);
    for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it) {
        text += *it;
        text += QLatin1String("\r\n");
    }
    return text;
}
