#include "testpackets/FieldTable.h"

#include "platform/Digits.h"

#include <QDate>

#include <algorithm>

namespace FieldTable {

namespace {

using C = Content;

constexpr std::array<Field, FieldCount> Table = {{
    {"RECORD_ID", 8, C::EightDigits},
    {"RECORD_REF", 7, C::Digits},
    {"RECORD_DATE", 10, C::Date},
    {"RECORD_TIME", 8, C::Time},
    {"PHONE_NR", 20, C::Digits},
    {"CODE_6", 1, C::Letter},
    {"CUST_NAME_1", 40, C::Text},
    {"CUST_NAME_2", 40, C::Text},
    {"LONG_NAME", 80, C::Text},
    {"CUST_TITLE", 12, C::Text},
    {"BLDG_TYPE", 6, C::Text},
    {"BLDG_NR_1", 5, C::Digits},
    {"BLDG_SF_1", 1, C::Text},
    {"BLDG_NR_2", 5, C::Digits},
    {"BLDG_SF_2", 1, C::Text},
    {"FLOOR_TYPE", 2, C::Text},
    {"FLOOR_NR", 4, C::Digits},
    {"FLOOR_SF", 1, C::Text},
    {"BLDG_PROPERTY", 40, C::Text},
    {"BLDG_LOCTN", 30, C::Text},
    {"HOUSE_NR_1", 5, C::Digits},
    {"HOUSE_SF_1", 3, C::Text},
    {"HOUSE_NR_2", 5, C::Digits},
    {"HOUSE_SF_2", 1, C::Text},
    {"CODE_25", 1, C::Text},
    {"CODE_26", 1, C::Text},
    {"CODE_27", 1, C::Letter},
    {"ST_NAME_1", 25, C::Text},
    {"ST_TYPE", 8, C::Text},
    {"ST_SF", 6, C::Text},
    {"ST_NAME_2", 25, C::Text},
    {"ST_TYPE_2", 4, C::Text},
    {"ST_SF_2", 2, C::Text},
    {"LOCALITY", 40, C::Text},
    {"DISTRICT", 25, C::Text},
    {"STATE", 3, C::State},
    {"POSTCODE", 4, C::Postcode},
    {"CODE_38", 2, C::TwoLetters},
    {"FLAG_39", 1, C::Flag},
    {"STYP", 5, C::Text},
    {"CUST_CONTACT_NAME_1", 40, C::Text},
    {"CUST_CONTACT_NAME_2", 40, C::Text},
    {"CONTACT_NR", 20, C::Digits},
    {"CODE_44", 3, C::ThreeDigits},
    {"PROVIDER_CODE", 6, C::Text},
    {"DATE_TIME_1", 19, C::DateTime},
    {"DATE_TIME_2", 19, C::DateTime},
    {"FLAG_48", 1, C::Flag},
    {"NETWORK_CODE", 3, C::ThreeDigits},
    {"NETWORK_NAME", 17, C::Text},
    {"NETWORK_STATE", 3, C::State},
    {"FLAG_52", 1, C::Flag},
    {"FLAG_53", 1, C::Flag},
}};

bool isCapital(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isTextChar(char c)
{
    return isDigit(c) || isCapital(c) || (c >= 'a' && c <= 'z') || c == ' ' || c == '_' || c == '*' || c == '-' ||
           c == ':';
}

// "yyyy-mm-dd" starting at `from`.
bool isDate(QByteArrayView v, qsizetype from)
{
    if (v.size() < from + 10 || v[from + 4] != '-' || v[from + 7] != '-')
        return false;
    const QByteArrayView year = v.sliced(from, 4), month = v.sliced(from + 5, 2), day = v.sliced(from + 8, 2);
    return allDigits(year) && allDigits(month) && allDigits(day) &&
           QDate::isValid(int(digitsValue(year)), int(digitsValue(month)), int(digitsValue(day)));
}

// "hh:mm:ss" starting at `from`.
bool isTime(QByteArrayView v, qsizetype from)
{
    if (v.size() < from + 8 || v[from + 2] != ':' || v[from + 5] != ':')
        return false;
    const QByteArrayView hour = v.sliced(from, 2), minute = v.sliced(from + 3, 2), second = v.sliced(from + 6, 2);
    return allDigits(hour) && allDigits(minute) && allDigits(second) &&
           digitsValue(hour) < 24 && digitsValue(minute) < 60 && digitsValue(second) < 60;
}

QByteArray hex(unsigned char byte)
{
    return "0x" + QByteArray::number(byte, 16).rightJustified(2, '0');
}

std::optional<Finding> content(int field, QByteArrayView v)
{
    auto finding = [field](const char *kind, const QByteArray &detail) {
        return std::optional<Finding>(Finding{kind, field, detail});
    };
    switch (Table[std::size_t(field - 1)].content) {
    case C::Text:
        for (qsizetype i = 0; i < v.size(); ++i) {
            if (!isTextChar(v[i]))
                return finding(Kind::BadChar, "'" + QByteArray(1, v[i]) + "' at " + QByteArray::number(i + 1));
        }
        return {};
    case C::Digits:
        return allDigits(v) ? std::nullopt : finding(Kind::NotDigits, "not all digits");
    case C::EightDigits:
    case C::ThreeDigits:
    case C::Postcode: {
        const qsizetype wanted = Table[std::size_t(field - 1)].width;
        if (allDigits(v) && v.size() == wanted)
            return {};
        return finding(Kind::NotDigits, "not exactly " + QByteArray::number(wanted) + " digits");
    }
    case C::Date:
        return v.size() == 10 && isDate(v, 0) ? std::nullopt : finding(Kind::BadDate, "not a date yyyy-mm-dd");
    case C::Time:
        return v.size() == 8 && isTime(v, 0) ? std::nullopt : finding(Kind::BadDate, "not a time hh:mm:ss");
    case C::DateTime:
        return v.size() == 19 && isDate(v, 0) && v[10] == ' ' && isTime(v, 11)
                   ? std::nullopt
                   : finding(Kind::BadDate, "not a date and time yyyy-mm-dd hh:mm:ss");
    case C::Letter:
        return v.size() == 1 && isCapital(v[0]) ? std::nullopt : finding(Kind::BadCode, "not one capital letter");
    case C::TwoLetters:
        return v.size() == 2 && isCapital(v[0]) && isCapital(v[1]) ? std::nullopt
                                                                   : finding(Kind::BadCode, "not two capital letters");
    case C::Flag:
        return v == "T" || v == "F" ? std::nullopt : finding(Kind::BadFlag, "not T or F");
    case C::State:
        return states().contains(v.toByteArray()) ? std::nullopt : finding(Kind::BadState, "not a state");
    }
    return {};
}

} // namespace

const std::array<Field, FieldCount> &fields()
{
    return Table;
}

const QList<QByteArray> &states()
{
    static const QList<QByteArray> list = {"ACT", "NSW", "NT", "QLD", "SA", "TAS", "VIC", "WA"};
    return list;
}

QByteArray Kind::fieldCount(qsizetype count)
{
    return "field-count-" + QByteArray::number(count);
}

QByteArray Finding::text() const
{
    QByteArray line = kind;
    if (field > 0)
        line += " in field " + QByteArray::number(field) + ' ' + FieldTable::field(field).name;
    return detail.isEmpty() ? line : line + ": " + detail;
}

std::optional<Finding> checkField(int number, QByteArrayView value)
{
    if (number < 1 || number > FieldCount || value.isEmpty())
        return {};
    // The bytes first: a control byte or a byte above 126 spoils whatever
    // else the field would be.
    for (qsizetype i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (byte < 32 || byte > 126)
            return Finding{Kind::BadChar, number, "byte " + hex(byte) + " at " + QByteArray::number(i + 1)};
    }
    const int width = Table[std::size_t(number - 1)].width;
    if (value.size() > width)
        return Finding{Kind::TooWide, number,
                       QByteArray::number(value.size()) + " wide, at most " + QByteArray::number(width)};
    return content(number, value);
}

QList<Finding> checkRecord(QByteArrayView record)
{
    QList<Finding> findings;
    const qsizetype count = record.count('|') + 1;
    if (count != FieldCount) {
        findings.append(Finding{Kind::fieldCount(count), 0,
                                QByteArray::number(count) + (count == 1 ? " field, " : " fields, ") + QByteArray::number(FieldCount) + " expected"});
        return findings;
    }
    qsizetype start = 0;
    for (int number = 1; number <= FieldCount; ++number) {
        qsizetype end = record.indexOf('|', start);
        if (end < 0)
            end = record.size();
        if (std::optional<Finding> f = checkField(number, record.sliced(start, end - start)))
            findings.append(std::move(*f));
        start = end + 1;
    }
    return findings;
}

QByteArray recordId(QByteArrayView record)
{
    const qsizetype firstSeparator = record.indexOf('|');
    const qsizetype width = field(1).width;
    return record.first(std::min(firstSeparator < 0 ? record.size() : firstSeparator, width)).toByteArray();
}

} // namespace FieldTable
