#pragma once

#include <QByteArray>
#include <array>

// The last 100 log lines. Slot 100 holds the newest line, slot 1 the oldest
// still kept; a slot that never received a line is empty. Lines are kept as
// bytes, exactly as given.
class EventLog
{
public:
    static constexpr int Slots = 100;

    // Drops the oldest line and appends "<timeOfDay> <source>" as the newest.
    void insert(const QByteArray &timeOfDay, const QByteArray &source);

    // Slot 1 to 100.
    const QByteArray &slot(int number) const { return m_slots[number - 1]; }

    // Slots 100 down to 1, each followed by CR LF, empty slots included.
    QByteArray render() const;

private:
    std::array<QByteArray, Slots> m_slots;
};
