#include "console/EventLog.h"

#include <algorithm>

void EventLog::insert(const QByteArray &timeOfDay, const QByteArray &source)
{
    std::move(m_slots.begin() + 1, m_slots.end(), m_slots.begin());
    QByteArray line;
    line.reserve(timeOfDay.size() + 1 + source.size());
    line += timeOfDay;
    line += ' ';
    line += source;
    m_slots.back() = std::move(line);
}

QByteArray EventLog::render() const
{
    qsizetype size = 2 * Slots;
    for (const QByteArray &line : m_slots)
        size += line.size();
    QByteArray text;
    text.reserve(size);
    for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it) {
        text += *it;
        text += "\r\n";
    }
    return text;
}
