#pragma once

#include <QByteArray>
#include <QList>

// The five fixed IPND customer records sent by the "Single Test Packets"
// buttons: one line of 53 '|'-separated fields each, no line end. They are
// sent exactly as they stand here, without a header.
namespace TestRecords {

extern const QByteArray Standard; // 311 bytes
extern const QByteArray NoAdd;    // 164 bytes
extern const QByteArray Long;     // 695 bytes
extern const QByteArray Min;      // 120 bytes
extern const QByteArray Max;      // 713 bytes

constexpr int FieldCount = 53;

// Maximum width of each of the 53 fields, field 1 first.
const QList<int> &fieldWidths();

} // namespace TestRecords
