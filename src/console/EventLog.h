#pragma once

#include <QString>
#include <array>

// The last 100 log lines. Slot 100 holds the newest line, slot 1 the oldest
// still kept; a slot that never received a line is empty. Bytes from the
// wire reach it one character per byte, so nothing is lost on the way in.
class EventLog
{
public:
    static constexpr int Slots = 100;

    // Drops the oldest line and appends "<timeOfDay> <text>" as the newest.
    void insert(const QString &timeOfDay, const QString &text);

    // Slot 1 to 100.
    const QString &slot(int number) const { return m_slots[number - 1]; }

    // Slots 100 down to 1, each followed by CR LF, empty slots included.
    QString render() const;

private:
    std::array<QString, Slots> m_slots;
};
