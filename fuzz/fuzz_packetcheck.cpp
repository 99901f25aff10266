// The receiver's packet check on arbitrary bytes: whatever arrives, the
// verdict is one of the three waits, the findings are one line of printable
// ASCII, the parts it names are the packet's own bytes, the id is no wider
// than its field, and a packet that a capture keeps is one a replay sends:
// framed, the one a replay frames from its record.

#include "FuzzCheck.h"

#include "DataFile/Framing.h"
#include "receiver/Capture.h"
#include "receiver/PacketCheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray packet(reinterpret_cast<const char *>(bytes), qsizetype(size));

    const int quiet = PacketCheck::quietNeeded(packet);
    FUZZ_CHECK(quiet == PacketCheck::CompleteNow || quiet == PacketCheck::QuietAfterRecord
               || quiet == PacketCheck::QuietForAnything || quiet == PacketCheck::QuietForRest);

    const PacketCheck::Result result = PacketCheck::check(packet);
    FUZZ_CHECK(result.framed == PacketCheck::looksFramed(packet));
    if (result.framed)
        FUZZ_CHECK(result.code + result.lengthField + result.record == packet);
    else
        FUZZ_CHECK(result.record == packet && result.code.isEmpty() && result.lengthField.isEmpty());
    FUZZ_CHECK(result.fields == result.record.count('|') + 1);
    FUZZ_CHECK(result.record.startsWith(result.recordId));
    FUZZ_CHECK(result.recordId.size() <= 8);
    if (whyNotCaptured(result).isEmpty())
        FUZZ_CHECK(result.framed ? Framing::framePacket(result.record) == packet
                                 : !Framing::framePacket(result.record).isEmpty());
    FUZZ_CHECK(result.verdict() == (result.findings.isEmpty() ? QByteArray("valid") : result.findings.first().kind));
    FUZZ_CHECK(result.malformed == !result.findings.isEmpty());
    FUZZ_CHECK(!result.items.isEmpty());
    const QByteArray text = result.text();
    FUZZ_CHECK(printableAscii(text));
    FUZZ_CHECK(text.startsWith("malformed: ") == result.malformed);

    const QByteArray shown = PacketCheck::printable(packet);
    FUZZ_CHECK(printableAscii(shown));
    FUZZ_CHECK(shown.size() >= packet.size());
    return 0;
}
