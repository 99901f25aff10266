#pragma once

#include <QByteArray>
#include <QtGlobal>

// What became of one line or record that ipnd-send read: the one place where
// a run's results can be taken record by record.
struct RecordOutcome
{
    enum class Kind {
        Answered,   // sent, and the server replied
        Unanswered, // sent, but no reply: timeout, server closed, or stopped
        NotSent,    // read, but it did not go out (no free link, no connection, too short)
        Rejected    // a line the reader refused
    };

    qint64 seq = 0;       // 1 for the first line or record read, in file order
    QByteArray recordId;  // the record's first field; empty for a rejected line
    Kind kind = Kind::NotSent;
    int connection = 0;   // 1 to N; 0 when it went to no connection
    double roundTripMs = 0; // answered: from the packet handed to the socket to the reply
    QByteArray reply;     // answered: the reply as received
    qint64 sentAtMs = 0;  // since the epoch; 0 when not sent
    QByteArray logLine;   // the log line that says why it was not answered, sent or taken
};
