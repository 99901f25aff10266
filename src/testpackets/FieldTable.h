#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>
#include <optional>

// The 53 fields of an IPND record: name, maximum width and what a non-empty
// field may hold. The generator builds records from it, the receiver checks
// them against it. Any field may be empty.
namespace FieldTable {

enum class Content : unsigned char {
    Text,        // letters, digits, blanks, '_', '*', '-', ':'
    Digits,      // one or more digits
    EightDigits, // exactly 8 digits
    ThreeDigits, // exactly 3 digits
    Postcode,    // exactly 4 digits
    Date,        // a real calendar date, yyyy-mm-dd
    Time,        // hh:mm:ss, 24-hour
    DateTime,    // yyyy-mm-dd hh:mm:ss
    Letter,      // one capital letter
    TwoLetters,  // two capital letters
    Flag,        // T or F
    State,       // ACT NSW NT QLD SA TAS VIC WA
};

struct Field
{
    const char *name;
    int width;
    Content content;
};

inline constexpr int FieldCount = 53;

// Field 1 first.
const std::array<Field, FieldCount> &fields();
// Field `number`, counted from 1.
inline const Field &field(int number) { return fields()[std::size_t(number - 1)]; }

// The states a State field may hold.
const QList<QByteArray> &states();

// The kinds of fault a record can have. A wrong field count is named
// "field-count-N" after the count found.
namespace Kind {
inline constexpr char TooWide[] = "too-wide";
inline constexpr char BadChar[] = "bad-char";   // a byte outside printable ASCII, or a text field's disallowed character
inline constexpr char NotDigits[] = "not-digits";
inline constexpr char BadDate[] = "bad-date";   // date, time, or date and time
inline constexpr char BadFlag[] = "bad-flag";
inline constexpr char BadState[] = "bad-state";
inline constexpr char BadCode[] = "bad-code";   // a letter-code field
QByteArray fieldCount(qsizetype count);          // "field-count-52"
} // namespace Kind

struct Finding
{
    QByteArray kind;
    int field = 0;      // from 1; 0 for the record as a whole
    QByteArray detail;  // printable ASCII

    // "too-wide in field 7 CUST_NAME_1: 41 wide, at most 40"
    QByteArray text() const;
    bool operator==(const Finding &) const = default;
};

// What is wrong with one field's value, if anything: the first of its bytes,
// its width and its content that fails.
std::optional<Finding> checkField(int number, QByteArrayView value);

// Every finding for a record (no header, no line end), fields in order. A
// record without exactly 53 fields gets only the field-count finding: its
// fields cannot be matched to the table.
QList<Finding> checkRecord(QByteArrayView record);

// The record id as a reply names it: field 1, cut to its width. A wider
// first field is too wide to be an id, and a server echoing it whole would
// echo any amount.
QByteArray recordId(QByteArrayView record);

} // namespace FieldTable
