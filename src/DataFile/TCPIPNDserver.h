#pragma once

#include <QString>
#include <QtGlobal>

// The replay cycle's shared state. Truth values are -1 (true) and 0 (false);
// counters are signed 16-bit.
struct TCPIPNDserver
{
    qint16 Running = 0;
    qint16 TickCount = 0;    // position within the current period
    qint16 PeriodTicks = 0;  // ticks per period, from PktPer
    qint16 PacketsLeft = 0;  // periods that may still read and send
    QString InputMode;       // "RAWLOG" or "MULTIPKT"; fixed while running
};

inline constexpr char RawLogMode[] = "RAWLOG";
inline constexpr char MultiPacketMode[] = "MULTIPKT";
