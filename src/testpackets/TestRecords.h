#pragma once

#include <QByteArray>

// The five fixed IPND customer records sent by the "Single Test Packets"
// buttons: one line of 53 '|'-separated fields each, no line end. They are
// sent exactly as they stand here, without a header. Their fields are those
// of FieldTable.
namespace TestRecords {

extern const QByteArray Standard; // 311 bytes
extern const QByteArray NoAdd;    // 164 bytes
extern const QByteArray Long;     // 695 bytes
extern const QByteArray Min;      // 120 bytes
extern const QByteArray Max;      // 713 bytes

} // namespace TestRecords
