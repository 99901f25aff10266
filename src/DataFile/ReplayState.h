#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// What the data-file readers leave behind for the sender: the record to frame
// and send, a count of accepted lines or parts, and the multi-packet sequence
// being collected. Truth values are -1 (true) and 0 (false).
struct ReplayState
{
    static constexpr int Slots = 11; // part numbers 0 to 10; 0 is never freed or used
    static constexpr int Received = 1;
    static constexpr int Terminal = 2;

    QByteArray CurrentRecord;
    qint16 RecordCount = 0;
    qint16 TerminalId = 0;
    qint16 PartTotal = 0;
    qint16 PartNumber = 0;
    qint16 ExpectedPart = 0;
    std::array<std::array<qint16, 3>, Slots> PartState{}; // column 0 unused
    std::array<QByteArray, Slots> PartText;
    qint16 SequenceComplete = 0;

    bool isHeld(int slot) const { return PartState[slot][Received] == -1; }

    // Clears the count and the sequence; the record, the part texts, the last
    // part number, SequenceComplete and slot 0 stay as they are.
    void ResetSequence();
    // Frees slots 1 to 10.
    void freeSlots();
};

// Counters stop at their maximum instead of wrapping into negative numbers.
inline void increment(qint16 &counter)
{
    if (counter < 32767)
        ++counter;
}
