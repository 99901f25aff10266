// The RAWLOG reader and the sending of its records, period by period to the
// end of the data file. Each period reads exactly one line: an over-long one
// is rejected with its length and sends nothing; a record sent is framed
// from a tail of the line it was read from.

#include "FuzzReplay.h"

#include "DataFile/Framing.h"
#include "DataFile/TCPIPNDserver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    fuzz::Replay replay(bytes, size);
    const QList<QByteArray> lines = fuzz::referenceLines(replay.contents);

    for (qsizetype period = 0;; ++period) {
        FUZZ_CHECK(period <= lines.size());
        replay.period([&](DataFile &data) { data.ReadAndSendPeriod(DataFormat::RawLog, [] { return true; }); });
        if (replay.data->takeEndOfData()) {
            FUZZ_CHECK(period == lines.size());
            FUZZ_CHECK(replay.host.logLines == QList<QByteArray>{"SRLP: End of data file"});
            break;
        }
        const QByteArray &line = lines.at(period);
        if (line.size() > replay.knobs.maxLineLength) {
            FUZZ_CHECK(replay.host.logLines == QList<QByteArray>{replay.tooLongLine("SRLP:", line.size())});
            FUZZ_CHECK(replay.host.packets.isEmpty());
            continue;
        }
        for (const QByteArray &logLine : replay.host.logLines)
            FUZZ_CHECK(!logLine.startsWith("SRLP: Line too long"));
        FUZZ_CHECK(replay.host.packets.size() <= 1);
        if (!replay.host.packets.isEmpty()) {
            const QByteArray &record = replay.data->state().CurrentRecord;
            FUZZ_CHECK(line.endsWith(record));
            FUZZ_CHECK(replay.host.packets.constFirst() == Framing::framePacket(record));
            FUZZ_CHECK(replay.host.logLines == QList<QByteArray>{"RSFP: Data Sent: " + record});
        }
    }
    const DataFile::Counts &counts = replay.data->counts();
    FUZZ_CHECK(counts.recordsRead + counts.linesRejected == lines.size());
    return 0;
}
