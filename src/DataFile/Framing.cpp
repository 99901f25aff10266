#include "DataFile/Framing.h"

#include "DataFile/RecordTests.h"
#include "platform/PlatformError.h"

#include <cmath>

namespace {

// Decimal digits with at least `width` digits, leading zeros added, a minus
// sign in front of negative numbers.
QByteArray padded(qint64 value, int width)
{
    const QByteArray digits = QByteArray::number(value < 0 ? -value : value).rightJustified(width, '0');
    return value < 0 ? '-' + digits : digits;
}

} // namespace

namespace Framing {

QByteArray packetCode(const QByteArray &record)
{
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
    return packetCode(record) + recordLength(record) + record;
}

} // namespace Framing
