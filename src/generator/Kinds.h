#pragma once

#include "DataFile/DataFormat.h"

#include <QByteArray>
#include <QList>

#include <optional>

// The ways ipnd-gen breaks a record on purpose. Record kinds change the
// record itself (it still reaches the receiver, its id and characters 3 to 8
// intact); line kinds change the data-file line around it so that the
// sender's reader rejects it.
enum class GenKind {
    FieldCount52,
    FieldCount54,
    TooWide,
    BadChar,
    NotDigits,
    BadDate,
    BadFlag,
    BadState,
    BadCode,
    BadTimestamp,   // RAWLOG
    BadHeader,      // RAWLOG and MULTIPKT
    PartOutOfRange, // MULTIPKT from here on
    DuplicatePart,
    MissingPart,
    TerminalChange,
};

// "field-count-52", "bad-header", ...: the names the receiver's findings use.
QByteArray kindName(GenKind kind);
std::optional<GenKind> kindFromName(const QByteArray &name);
bool isRecordKind(GenKind kind);
bool fitsFormat(GenKind kind, DataFormat format);
// Every kind that fits the format, in the order above.
QList<GenKind> kindsFor(DataFormat format);
