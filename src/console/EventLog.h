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
    const QString &slot(int number) const { return m_slots[size_t((m_oldest + number - 1) % Slots)]; }

    // Slots 100 down to 1, each followed by CR LF, empty slots included.
    QString render() const;

private:
    // A ring: a new line takes the place of the oldest, nothing else moves.
    std::array<QString, Slots> m_slots;
    int m_oldest = 0; // where slot 1 is
};
