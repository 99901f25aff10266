#pragma once

#include "receiver/LineFile.h"
#include "receiver/PacketCheck.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The --capture file: what a data source sent, as RAWLOG lines that a replay
// (ipnd-send or the window) frames back into the same packets, in the order
// they came:
//   2026-12-09 03:30:00<TAB>TCPIN<TAB>127.0.0.1:40312<TAB>record
// A bare packet's record is framed on replay. A record that a replay cannot
// give back byte for byte is left out and counted, with the reason; so is a
// line the file could not take (lost).
class Capture
{
public:
    // Appends to `path`, or writes to standard output for "-". False, with a
    // line in *error, when it cannot be written.
    bool open(const QString &path, QByteArray *error);
    bool isOpen() const { return m_file.isOpen(); }

    // Appends the packet's line. Empty when it was written; otherwise why it
    // is not in the capture (a record left out is counted). *lost: whether
    // the line was meant for the capture but could not be written.
    QByteArray add(const PacketCheck::Result &result, const QByteArray &peer, const QDateTime &receivedAt,
                   bool *lost);
    // Writes what waits for a slow reader, for at most `ms` milliseconds.
    void finish(int ms) { m_file.finish(ms); }

    // Every record not in the capture, left out or lost.
    int notCaptured() const { return m_leftOut + m_file.lost(); }
    int lost() const { return m_file.lost(); }

private:
    LineFile m_file;
    int m_leftOut = 0;
};

// The RAWLOG line for a record received from `peer`, without its line end.
QByteArray captureLine(const QDateTime &receivedAt, const QByteArray &peer, const QByteArray &record);

// Why the packet's record cannot be captured so that a replay gives it back;
// empty when it can.
QByteArray whyNotCaptured(const PacketCheck::Result &result);
