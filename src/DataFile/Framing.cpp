#include "DataFile/Framing.h"

#include "DataFile/RecordTests.h"
#include "platform/Digits.h"
#include "platform/PlatformError.h"

#include <cmath>

namespace {

// Decimal digits with at least `width` digits, leading zeros added, a minus
// sign in front of negative numbers.
QByteArray padded(qint64 value, int width)
{
    // The usual field, a few digits, is written directly.
    if (value >= 0 && width <= 8) {
        char digits[8];
        qint64 rest = value;
        for (int i = width - 1; i >= 0; --i, rest /= 10)
            digits[i] = char('0' + rest % 10);
        if (rest == 0)
            return QByteArray(digits, width);
    }
    const QByteArray digits = QByteArray::number(value < 0 ? -value : value).rightJustified(width, '0');
    return value < 0 ? '-' + digits : digits;
}

} // namespace

namespace Framing {

QByteArray packetCode(const QByteArray &record)
{
    // Two digits, the usual code, need no number test.
    if (record.size() >= 4 && isDigit(record[2]) && isDigit(record[3]))
        return padded(digitsValue(QByteArrayView(record).sliced(2, 2)), 3);
    const QByteArray characters = record.mid(2, 2);
    if (!isNumberText(characters))
        throw PlatformError{ErrorNumber::TypeMismatch,
                            QStringLiteral("Type mismatch: packet code \"%1\" (characters 3 and 4 of the record) "
                                           "is not a number")
                                .arg(QString::fromLatin1(characters))};
    // A fraction such as "1." or ".5" rounds half to even.
    return padded(qint64(std::nearbyint(characters.trimmed().toDouble())), 3);
}

QByteArray recordLength(const QByteArray &record)
{
    return padded(record.size(), 4);
}

QByteArray framePacket(const QByteArray &record)
{
    if (record.size() < MinimumRecordLength)
        return {};
    const QByteArray code = packetCode(record);
    const QByteArray length = recordLength(record);
    QByteArray packet;
    packet.reserve(code.size() + length.size() + record.size());
    packet += code;
    packet += length;
    packet += record;
    return packet;
}

} // namespace Framing
