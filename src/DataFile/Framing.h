#pragma once

#include <QByteArray>

// A replayed record travels as a FramedPacket: a three-digit packet code
// (characters 3 and 4 of the record as a number, "000"), the record's length
// in at least four digits ("0000"), then the record itself. Records of 10
// characters or fewer are not sent at all.
namespace Framing {

constexpr qsizetype MinimumRecordLength = 11;

// The packet code; throws PlatformError when characters 3 and 4 are not a
// number.
QByteArray packetCode(const QByteArray &record);
QByteArray recordLength(const QByteArray &record);
// Empty for a record that is too short to send.
QByteArray framePacket(const QByteArray &record);

} // namespace Framing
