// The MULTIPKT reassembler and the sending of its records, period by period
// to the end of the data file. Over-long lines are each rejected once, in
// file order, with their length; every record sent is framed as logged and
// is no longer than ten part texts; the slots stay within their bounds.

#include "FuzzReplay.h"

#include "DataFile/Framing.h"
#include "DataFile/TCPIPNDserver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    fuzz::Replay replay(bytes, size);
    const QList<QByteArray> lines = fuzz::referenceLines(replay.contents);
    const qsizetype limit = replay.knobs.maxLineLength;
    QList<QByteArray> tooLong;
    for (const QByteArray &line : lines) {
        if (line.size() > limit)
            tooLong.append(replay.tooLongLine("SFIP:", line.size()));
    }

    QList<QByteArray> log;
    const QByteArray sent = "RSFP: Data Sent: ";
    // Every period reads at least one line, so the file ends within one
    // period per line, and the next one finds the end.
    for (qsizetype period = 0;; ++period) {
        FUZZ_CHECK(period <= lines.size());
        replay.period([](DataFile &data) { data.ReadMultiPacketPeriod([] { return true; }); });
        const bool end = replay.data->takeEndOfData();
        FUZZ_CHECK(replay.host.packets.size() <= 1);
        if (!replay.host.packets.isEmpty()) {
            FUZZ_CHECK(replay.host.logLines.constLast().startsWith(sent));
            const QByteArray record = replay.host.logLines.constLast().mid(sent.size());
            FUZZ_CHECK(record.size() <= 10 * (limit - 7));
            FUZZ_CHECK(replay.host.packets.constFirst() == Framing::framePacket(record));
        }
        const ReplayState &s = replay.data->state();
        FUZZ_CHECK(s.RecordCount >= 0 && s.ExpectedPart >= 0);
        for (int slot = 0; slot < ReplayState::Slots; ++slot) {
            FUZZ_CHECK(s.PartState[slot][ReplayState::Received] == 0 || s.isHeld(slot));
            FUZZ_CHECK(!s.isHeld(slot) || s.PartText[slot].size() <= limit - 7);
        }
        log += replay.host.logLines;
        if (end) {
            FUZZ_CHECK(replay.host.logLines.constLast() == "SFIP: End of data file");
            break;
        }
    }
    QList<QByteArray> tooLongLogged;
    for (const QByteArray &line : log) {
        if (line.startsWith("SFIP: Line too long: "))
            tooLongLogged.append(line);
    }
    FUZZ_CHECK(tooLongLogged == tooLong);
    return 0;
}
