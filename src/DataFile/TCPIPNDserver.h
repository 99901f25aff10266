#pragma once

#include "DataFile/DataFormat.h"

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
    std::optional<DataFormat> InputMode; // fixed while running; none: a period reads nothing

    // One tick of the one-second timer while the cycle runs: counts the tick
    // and, at the end of a period with packets left, takes one packet off the
    // count and returns true: this tick reads and sends a record.
    bool endOfPeriod();
    // The period typed in the window; on a failure the period stays as it was
    // and the returned line says why.
    QString setPeriod(const QString &text);
};
