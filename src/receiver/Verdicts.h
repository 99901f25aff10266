#pragma once

#include "receiver/LineFile.h"
#include "receiver/PacketCheck.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The receiver's judgement of every packet: one JSON object per packet,
//   {"packet": 1, "framed": true, "id": "08903043", "verdict": "valid", "findings": []}
// each finding {"kind": ..., "field": n (0: the whole packet), "detail": ...},
// and the number of packets per verdict.
class Verdicts
{
public:
    // False, with a line in *error, when the file cannot be written.
    bool open(const QString &path, QByteArray *error);
    bool isOpen() const { return m_file.isOpen(); }

    // Counts the packet; writes its line when a file is open. False, with
    // why in *reason, when the line could not be written.
    bool add(int packet, const PacketCheck::Result &result, QByteArray *reason);
    // Writes what waits for a slow reader, for at most `ms` milliseconds.
    void finish(int ms) { m_file.finish(ms); }
    int lost() const { return m_file.lost(); }

    // "verdicts: valid 3, bad-flag 1, too-wide 2": "valid" first, then the
    // kinds by name.
    QByteArray summaryLine() const;

private:
    LineFile m_file;
    int m_valid = 0;
    QMap<QByteArray, int> m_kinds;
};

// A JSON line for one packet, without its line end.
QByteArray verdictLine(int packet, const PacketCheck::Result &result);
