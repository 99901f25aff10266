#include "receiver/PacketCheck.h"

#include "DataFile/Framing.h"
#include "platform/Digits.h"
#include "platform/PlatformError.h"
#include "testpackets/FieldTable.h"

namespace {

constexpr qsizetype CodeDigits = 3;
constexpr qsizetype ShortestLengthField = 4;
// Longest length field read: lengths up to 999,999,999 bytes.
constexpr qsizetype LongestLengthField = 9;
constexpr qsizetype Separators = FieldTable::FieldCount - 1;

// A length field wider than 4 digits never starts with 0: records are framed
// with their length padded to 4 digits only.
bool mayBeLonger(const QByteArray &bytes, qsizetype width)
{
    return width < LongestLengthField && bytes[CodeDigits] != '0' && CodeDigits + width < bytes.size() &&
           isDigit(bytes[CodeDigits + width]);
}

// The packet size a length field of `width` digits asks for; -1 when the
// packet has no such field.
qint64 framedSize(const QByteArray &bytes, qsizetype width)
{
    if (CodeDigits + width > bytes.size())
        return -1;
    const QByteArrayView field = QByteArrayView(bytes).sliced(CodeDigits, width);
    if (!allDigits(field) || (width > ShortestLengthField && field[0] == '0'))
        return -1;
    return CodeDigits + width + digitsValue(field);
}

// The width of the length field that makes the packet exactly as long as it
// says; 4 when none does.
qsizetype lengthFieldWidth(const QByteArray &packet)
{
    for (qsizetype width = ShortestLengthField; width <= LongestLengthField; ++width) {
        const qint64 size = framedSize(packet, width);
        if (size < 0)
            break;
        if (size == packet.size())
            return width;
    }
    return ShortestLengthField;
}

// Bare, or past its length: a last field may always go on.
int openEndedRule(const QByteArray &bytes)
{
    return bytes.count('|') >= Separators ? PacketCheck::QuietAfterRecord : PacketCheck::QuietForAnything;
}

QByteArray recordIdItem(const QByteArray &id)
{
    return id.isEmpty() ? QByteArray("no record id") : "record id " + PacketCheck::printable(id);
}

QByteArray fieldsText(qsizetype fields)
{
    return QByteArray::number(fields) + (fields == 1 ? " field" : " fields");
}

} // namespace

namespace PacketCheck {

bool looksFramed(const QByteArray &packet)
{
    constexpr qsizetype HeaderDigits = CodeDigits + ShortestLengthField;
    if (packet.size() < HeaderDigits || !allDigits(QByteArrayView(packet).first(HeaderDigits)))
        return false;
    const qsizetype idWidth = FieldTable::field(1).width;
    const qsizetype firstSeparator = packet.indexOf('|');
    return firstSeparator < 0 ? packet.size() > idWidth : firstSeparator > idWidth;
}

int quietNeeded(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QuietForAnything;
    if (!looksFramed(bytes))
        return openEndedRule(bytes);

    for (qsizetype width = ShortestLengthField; width <= LongestLengthField; ++width) {
        const qint64 size = framedSize(bytes, width);
        if (size < 0)
            break;
        if (bytes.size() < size)
            return QuietForRest;
        // Too few fields for the length: the length may be short. A 4-digit
        // length of 1000 or more followed by a digit may be the start of a
        // longer one, unless a last field has begun.
        if (bytes.size() == size) {
            const bool whole = bytes.count('|') >= Separators && !(mayBeLonger(bytes, width) && bytes.endsWith('|'));
            return whole ? CompleteNow : QuietAfterRecord;
        }
    }
    // More bytes than any length field asks for.
    return openEndedRule(bytes);
}

QByteArray Result::text() const
{
    QByteArray line = malformed ? "malformed: " : "";
    for (qsizetype i = 0; i < items.size(); ++i)
        line += (i ? "; " : "") + items[i];
    return line;
}

Result check(const QByteArray &packet)
{
    Result result;
    result.framed = looksFramed(packet);
    result.record = packet;

    if (result.framed) {
        const qsizetype width = lengthFieldWidth(packet);
        result.code = packet.left(CodeDigits);
        result.lengthField = packet.mid(CodeDigits, width);
        result.record = packet.mid(CodeDigits + width);

        QList<std::pair<const char *, QByteArray>> faults;
        try {
            const QByteArray recordCode = Framing::packetCode(result.record);
            if (recordCode != result.code)
                faults.append({BadFraming, "framed code " + result.code + " but record code " + printable(recordCode)});
        } catch (const PlatformError &) {
            faults.append({BadFraming, "framed code " + result.code + " but record characters 3 and 4 \"" +
                                           printable(result.record.mid(2, 2)) + "\" are not a number"});
        }
        if (const qint64 declared = digitsValue(result.lengthField); declared != result.record.size())
            faults.append({declared > result.record.size() ? Incomplete : BadFraming,
                           "framed length " + result.lengthField + " but " + QByteArray::number(result.record.size())
                               + " record bytes"});
        if (faults.isEmpty())
            result.items.append("framed code " + result.code + " length " + result.lengthField + " ok");
        for (const auto &[kind, fault] : faults) {
            result.items.append(fault);
            result.findings.append(FieldTable::Finding{kind, 0, fault});
        }
    } else {
        result.items.append("bare");
    }

    result.fields = result.record.count('|') + 1;
    result.items.append(fieldsText(result.fields));

    const QList<FieldTable::Finding> fieldFindings = FieldTable::checkRecord(result.record);
    for (const FieldTable::Finding &finding : fieldFindings)
        result.items.append(finding.text());
    if (fieldFindings.isEmpty())
        result.items.append("fields ok");
    result.findings += fieldFindings;
    result.malformed = !result.findings.isEmpty();

    result.recordId = FieldTable::recordId(result.record);
    result.items.append(recordIdItem(result.recordId));
    return result;
}

Result checkTooLarge(const QByteArray &start, qsizetype limit)
{
    Result result;
    result.framed = looksFramed(start);
    result.record = result.framed ? start.mid(CodeDigits + lengthFieldWidth(start)) : start;
    result.fields = result.record.count('|') + 1;
    result.recordId = FieldTable::recordId(result.record);
    const FieldTable::Finding finding{TooLarge, 0, "more than " + QByteArray::number(limit) + " bytes"};
    result.findings.append(finding);
    result.items = {result.framed ? QByteArray("framed") : QByteArray("bare"), finding.text(),
                    recordIdItem(result.recordId)};
    result.malformed = true;
    return result;
}

QByteArray Result::verdict() const
{
    return findings.isEmpty() ? QByteArray("valid") : findings.constFirst().kind;
}

QByteArray printable(const QByteArray &bytes)
{
    QByteArray text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte >= 127 || c == '\\')
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            text += c;
    }
    return text;
}

} // namespace PacketCheck
