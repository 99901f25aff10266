#include "receiver/Capture.h"

#include "DataFile/Framing.h"
#include "receiver/LineFile.h"

#include <algorithm>

#include <unistd.h>

bool Capture::open(const QString &path, QByteArray *error)
{
    if (path == QLatin1String("-")) {
        if (m_file.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return true;
        *error = "--capture: cannot write to standard output: " + m_file.errorString().toLocal8Bit();
        return false;
    }
    QByteArray reason;
    if (LineFile::open(m_file, path, true, &reason))
        return true;
    *error = "--capture: cannot write \"" + path.toLocal8Bit() + "\": " + reason;
    return false;
}

QByteArray Capture::add(const PacketCheck::Result &result, const QByteArray &peer, const QDateTime &receivedAt)
{
    QByteArray why = whyNotCaptured(result);
    if (why.isEmpty() && !LineFile::writeLine(m_file, captureLine(receivedAt, peer, result.record)))
        why = "cannot write to the capture: " + m_file.errorString().toLocal8Bit();
    if (!why.isEmpty())
        ++m_notCaptured;
    return why;
}

QByteArray captureLine(const QDateTime &receivedAt, const QByteArray &peer, const QByteArray &record)
{
    return receivedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1() + "\tTCPIN\t" + peer + '\t' +
           record;
}

QByteArray whyNotCaptured(const PacketCheck::Result &result)
{
    if (result.verdict() == PacketCheck::TooLarge)
        return "too large: only its start was kept";
    if (result.record.contains('\n') || result.record.contains('\r'))
        return "the record holds CR or LF, which would end its line";
    // A header that agrees with its record is the one a replay gives it.
    const bool reframed = result.framed && (result.record.size() < Framing::MinimumRecordLength ||
                                            std::any_of(result.findings.cbegin(), result.findings.cend(),
                                                        [](const FieldTable::Finding &f) {
                                                            return f.kind == PacketCheck::BadFraming;
                                                        }));
    return reframed ? QByteArray("a replay would frame its record with another header") : QByteArray();
}
