#pragma once

#include "testpackets/FieldTable.h"

#include <QByteArray>
#include <QList>

// What the receiver makes of the bytes that arrive on one connection: when
// they are a whole packet, and what is wrong with a packet.
//
// A packet is either FRAMED (a 3-digit packet code, the record length in at
// least 4 digits, then the record) or BARE (the record alone). A record is
// one line of 53 '|'-separated fields, and its first field, the record id,
// is at most 8 wide. Seven header digits in front of a record id make the
// first field too wide to be a record id, and that is what tells the two
// apart: a packet is framed when its first 7 bytes are digits and the text
// before its first '|' is wider than a record id may be. (The length field
// alone cannot tell: the fixed test records' ids happen to read as a header
// whose length matches the record.) A framed packet whose record id is one
// character or empty is therefore read as bare.
namespace PacketCheck {

// How long the connection must then stay quiet before the bytes count as the
// whole packet.
constexpr int CompleteNow = 0;
constexpr int QuietAfterRecord = 100; // a record that may have ended
constexpr int QuietForAnything = 500; // whatever arrived, malformed or not
constexpr int QuietForRest = 2000; // a framed packet shorter than it says: the rest may yet come

// 0 when `bytes` is a whole packet already; otherwise the milliseconds
// without a new byte after which it is taken as the whole packet. The
// verdict must not depend on how the bytes were cut on the way, so a packet
// is complete at once only when no byte more could belong to it.
//
// Framed: complete when the packet is exactly as long as its length field
// says and its record has its 52 '|'; with fewer, after 100 ms of quiet (more
// may come that make the length wrong). A 4-digit length of 1000 or more
// followed by a digit might be the first part of a 5-digit length, so at that
// size a record ending in '|' also waits 100 ms. Shorter than it says: 2 s,
// and then it is judged incomplete.
// Bare, or longer than its length field says: nothing tells where the last
// field ends, so after 100 ms of quiet once 52 '|' have arrived, else 500 ms.
int quietNeeded(const QByteArray &bytes);

// Whether the packet is read as framed (see above).
bool looksFramed(const QByteArray &packet);

// The kind of a framed packet whose code or length disagrees with its record
// (a record longer than its length field says).
inline constexpr char BadFraming[] = "bad-framing";
// A framed record shorter than its length field says, when no more came.
inline constexpr char Incomplete[] = "incomplete";
// The kind of a packet longer than the receiver takes.
inline constexpr char TooLarge[] = "too-large";

struct Result
{
    bool framed = false;
    QByteArray code;         // framed: the packet code as sent
    QByteArray lengthField;  // framed: the length digits as sent
    QByteArray record;       // the packet without its header
    QByteArray recordId;     // field 1, at most its width, empty when there is none
    qsizetype fields = 0;    // number of '|'-separated fields
    // What is wrong, in order: framing, then the record against the field
    // table (FieldTable::checkRecord).
    QList<FieldTable::Finding> findings;
    QList<QByteArray> items; // what the checks found, in order: framing, fields, findings, record id
    bool malformed = false;  // any check failed

    // "valid", or the kind of the first finding.
    QByteArray verdict() const;

    // The findings as one line of printable ASCII, "malformed: " in front of
    // a malformed packet's.
    QByteArray text() const;
};

Result check(const QByteArray &packet);
// A packet of more than `limit` bytes, of which `start` arrived first: judged
// too-large whatever else it holds; framed or bare and the record id are read
// from its start.
Result checkTooLarge(const QByteArray &start, qsizetype limit);

// Printable ASCII: bytes below 32, 127 and above, and '\' as \xHH.
QByteArray printable(const QByteArray &bytes);

} // namespace PacketCheck
