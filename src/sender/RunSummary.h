#pragma once

#include "report/Outcome.h"
#include "sender/RoundTripHistogram.h"

#include <QByteArray>

// The counts and round-trip times of one ipnd-send run, and the summary it
// prints at the end.
struct RunSummary
{
    qint64 recordsRead = 0;
    qint64 sent = 0;
    qint64 answered = 0;        // replies that matched --expect, when given
    qint64 unexpected = 0;      // replies that did not
    qint64 unanswered = 0;
    qint64 linesRejected = 0;
    qint64 tooShort = 0;        // read but too short to send: the data's fault, like a rejected line
    qint64 connectFailures = 0;
    qint64 unplannedRejections = 0; // with a manifest: lines rejected that no entry planned
    ExpectTable byExpect;           // with a manifest
    bool everConnected = false;
    RoundTripHistogram roundTrips; // one per answered record
    double elapsedSeconds = 0;  // from the first record to the end

    qint64 notSent() const { return recordsRead - sent; }

    // 0 every record sent was answered as expected and none failed to go
    // out; 1 some were not, or no record was sent at all; 3 no connection to the server
    // ever came up. Records too short to send do not count against the run.
    int exitStatus() const;

    // Three lines: the counts, the round-trip times, the rate; with a
    // manifest, the table of outcomes kind by kind after them.
    QByteArray text() const;
};

