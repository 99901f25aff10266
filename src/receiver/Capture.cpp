#include "receiver/Capture.h"

#include "DataFile/Framing.h"
#include "DataFile/RecordTests.h"
#include "platform/OutputFile.h"
#include "platform/PlatformError.h"

#include <algorithm>


bool Capture::open(const QString &path, QByteArray *error)
{
    QByteArray reason;
    if (isStandardOutput(path)) {
        if (m_file.openStandardOutput(&reason))
            return true;
        *error = "--capture: cannot write to standard output: " + reason;
        return false;
    }
    if (m_file.open(path, true, &reason))
        return true;
    *error = "--capture: cannot write \"" + path.toLocal8Bit() + "\": " + reason;
    return false;
}

QByteArray Capture::add(const PacketCheck::Result &result, const QByteArray &peer, const QDateTime &receivedAt,
                        bool *lost)
{
    *lost = false;
    if (QByteArray why = whyNotCaptured(result); !why.isEmpty()) {
        ++m_leftOut;
        return why;
    }
    QByteArray reason;
    if (m_file.writeLine(captureLine(receivedAt, peer, result.record), &reason))
        return {};
    *lost = true;
    return "cannot write to the capture: " + reason;
}

QByteArray captureLine(const QDateTime &receivedAt, const QByteArray &peer, const QByteArray &record)
{
    return receivedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1() + "\tTCPIN\t" + peer + '\t' +
           record;
}

QByteArray whyNotCaptured(const PacketCheck::Result &result)
{
    const QByteArray &record = result.record;
    if (result.verdict() == PacketCheck::TooLarge)
        return "too large: only its start was kept";
    if (record.contains('\n') || record.contains('\r'))
        return "the record holds CR or LF, which would end its line";
    // What the data file reader and the framer would refuse never goes out
    // again, so a capture holding it would promise more than a replay sends.
    if (record.size() < Framing::MinimumRecordLength)
        return "a replay would not send it: " + QByteArray::number(Framing::MinimumRecordLength - 1) +
               " characters or fewer";
    if (!isNumberText(record.mid(2, 6)))
        return "a replay would not send it: its characters 3 to 8 are not a number";
    try {
        Framing::packetCode(record);
    } catch (const PlatformError &) {
        return "a replay would not send it: its characters 3 and 4 are not a number";
    }
    // A replay frames the record afresh: the header that came must be the one it gives.
    const bool reframed = result.framed && Framing::framePacket(record) != result.code + result.lengthField + record;
    return reframed ? QByteArray("a replay would frame its record with another header") : QByteArray();
}
