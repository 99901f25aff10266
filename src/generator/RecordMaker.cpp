#include "generator/RecordMaker.h"

#include "testpackets/FieldTable.h"

#include <algorithm>
#include <string_view>

namespace {

using W = std::string_view;

// Made-up names and places: none of them belongs to anybody.
constexpr W GivenNames[] = {"Tavo", "Mirel", "Asha", "Borin", "Calla", "Dovan", "Elsbet", "Ferin", "Galen",
                            "Hesper", "Ivo", "Jorun", "Kesta", "Lenn", "Marlo", "Nessa", "Orrin", "Pella",
                            "Quill", "Rhosa", "Sefton", "Tamsin", "Ulla", "Wendel"};
constexpr W Surnames[] = {"Pelmarsh", "Quenderwick", "Tozeran", "Morvane", "Galderis", "Ashcombe",
                          "Brindlecott", "Corvath", "Dunmoral", "Elbrook", "Fenwold", "Harrowgate",
                          "Kilvane", "Larkspurn", "Merriden", "Norcottle", "Oswaldine", "Penrick"};
constexpr W Titles[] = {"Mr", "Ms", "Mrs", "Dr", "Mx"};
constexpr W Businesses[] = {"Hardware", "Dental Rooms", "Bakery", "Motors", "TV Station", "Pharmacy",
                            "Veterinary Clinic", "Surveyors", "Book Exchange", "Tyre Service"};
constexpr W BuildingTypes[] = {"RM", "UNIT", "SHOP", "SUITE", "FLAT"};
constexpr W FloorTypes[] = {"FL", "L", "B", "G"};
constexpr W Properties[] = {"Main Building", "North Wing", "Harbour House", "Civic Centre", "Arcade Court",
                            "Riverside Tower"};
constexpr W Streets[] = {"Corvanna", "Maplethorn", "Quarryman", "Windle", "Ashgrove", "Bellbird", "Cobblers",
                         "Drover", "Fernleigh", "Gullyview", "Kestrel", "Lantern"};
constexpr W StreetTypes[] = {"St", "Rd", "Ave", "Cres", "Pde", "Ct", "Pl", "Dr", "Lane"};
constexpr W Localities[] = {"MELLIS", "HOPEVALE EAST", "BRAMBLEDENE", "CORRAWONG", "DUNVALE", "EASTMERE",
                            "FARROWBY", "GLENTHORN", "KILLORAN FLATS", "WATTLE CREEK"};
constexpr W Districts[] = {"Central", "North Shore", "Riverlands", "Western Plains", "Highlands", "Coastal"};
constexpr W ServiceTypes[] = {"AAA", "BUS", "RES", "PAY"};
constexpr W Providers[] = {"TELSTR", "MNET", "PRVX", "NETQ", "LNKA"};
constexpr W MobileAreas[] = {"MELBOURNE", "SYDNEY", "REGIONAL", "METRO", "COUNTRY"};
constexpr W NoAddress = "*Address Not Available*";
constexpr W Filler = "QUENDERWICK LARKSPURN_FENWOLD-CORVATH:ASHCOMBE*";

struct StateInfo
{
    W name;
    W network;  // 17 wide at most
    int postcodeLow;
    int postcodeHigh;
    char area; // telephone area digit
};

// The states of three letters come first: FullWidth records take those.
constexpr StateInfo States[] = {
    {"VIC", "FIXED NETWORK VIC", 3000, 3999, '3'}, {"NSW", "FIXED NETWORK NSW", 2000, 2599, '2'},
    {"QLD", "FIXED NETWORK QLD", 4000, 4999, '7'}, {"TAS", "FIXED NETWORK TAS", 7000, 7799, '3'},
    {"ACT", "FIXED NETWORK ACT", 2600, 2618, '2'}, {"SA", "FIXED NETWORK SA", 5000, 5799, '8'},
    {"WA", "FIXED NETWORK WA", 6000, 6799, '8'},   {"NT", "FIXED NETWORK NT", 800, 899, '8'},
};
constexpr int ThreeLetterStates = 5;

constexpr int DaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

template <std::size_t N>
W pick(Prng &prng, const W (&list)[N])
{
    return list[prng.below(N)];
}

void put(QByteArray &out, W text)
{
    out.append(text.data(), qsizetype(text.size()));
}

void putDigits(QByteArray &out, quint64 value, int width)
{
    char buffer[24];
    for (int i = width - 1; i >= 0; --i) {
        buffer[i] = char('0' + value % 10);
        value /= 10;
    }
    out.append(buffer, width);
}

// Telephone numbers in the ranges set aside for fiction and drama.
void fixedNumber(QByteArray &out, Prng &prng, char area)
{
    out.append('0');
    out.append(area);
    out.append("55500", 5);
    putDigits(out, prng.below(1000), 3);
}

void mobileNumber(QByteArray &out, Prng &prng)
{
    out.append("049157", 6);
    putDigits(out, prng.below(10000), 4);
}

} // namespace

RecordMaker::Shape RecordMaker::pickShape()
{
    const quint64 n = m_prng.below(20);
    return n < 9 ? Shape::FullAddress : n < 13 ? Shape::NoAddress : n < 18 ? Shape::Mobile : Shape::FullWidth;
}

void RecordMaker::date(QByteArray &out)
{
    const int year = m_prng.between(1995, 2026);
    const int month = m_prng.between(1, 12);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = DaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    putDigits(out, quint64(year), 4);
    out.append('-');
    putDigits(out, quint64(month), 2);
    out.append('-');
    putDigits(out, quint64(m_prng.between(1, days)), 2);
}

void RecordMaker::time(QByteArray &out)
{
    const quint64 seconds = m_prng.below(86400);
    putDigits(out, seconds / 3600, 2);
    out.append(':');
    putDigits(out, seconds / 60 % 60, 2);
    out.append(':');
    putDigits(out, seconds % 60, 2);
}

void RecordMaker::digits(QByteArray &out, int count)
{
    for (int i = 0; i < count; ++i)
        out.append(char('0' + m_prng.below(10)));
}

void RecordMaker::anyNumber(QByteArray &out, int low, int high)
{
    const int value = m_prng.between(low, high);
    int width = 1;
    for (int rest = value / 10; rest > 0; rest /= 10)
        ++width;
    putDigits(out, quint64(value), width);
}

void RecordMaker::letter(QByteArray &out)
{
    out.append(char('A' + m_prng.below(26)));
}

// Exactly `width` text characters, ending in a letter.
void RecordMaker::text(QByteArray &out, int width)
{
    const qsizetype start = out.size();
    const W name = pick(m_prng, Surnames);
    while (out.size() - start < width) {
        put(out, name);
        out.append(' ');
        put(out, Filler);
    }
    out.truncate(start + width);
    if (out.back() < 'A')
        out.back() = 'Z';
}

void RecordMaker::append(QByteArray &out, quint32 id, Shape shape)
{
    m_state = int(m_prng.below(shape == Shape::FullWidth ? ThreeLetterStates : std::size(States)));
    for (int number = 1; number <= FieldTable::FieldCount; ++number) {
        if (number > 1)
            out.append('|');
        if (shape == Shape::FullWidth)
            fullWidth(out, number, id);
        else
            field(out, number, shape, id);
    }
}

void RecordMaker::field(QByteArray &out, int number, Shape shape, quint32 id)
{
    const StateInfo &state = States[m_state];
    // Fields every shape fills alike.
    switch (number) {
    case 1:
        putDigits(out, id, 8);
        return;
    case 2:
        anyNumber(out, 10000, 9999999);
        return;
    case 3:
        date(out);
        return;
    case 4:
        time(out);
        return;
    case 5:
        if (shape == Shape::Mobile)
            mobileNumber(out, m_prng);
        else
            fixedNumber(out, m_prng, state.area);
        return;
    case 25:
        out.append('0');
        return;
    case 26:
        out.append('1');
        return;
    case 49:
        putDigits(out, m_prng.below(1000), 3);
        return;
    case 50:
        put(out, shape == Shape::Mobile ? pick(m_prng, MobileAreas) : state.network);
        return;
    case 51:
        put(out, state.name);
        return;
    }

    if (shape == Shape::NoAddress) {
        if (number == 9 || number == 34)
            put(out, NoAddress);
        return;
    }
    if (shape == Shape::Mobile) {
        if (number == 40)
            out.append("MOBIL", 5);
        else if (number == 45)
            put(out, pick(m_prng, Providers));
        return;
    }

    // A fixed line with a full address; some parts of an address are there
    // only sometimes.
    switch (number) {
    case 6:
    case 27:
        letter(out);
        return;
    case 7:
        put(out, pick(m_prng, GivenNames));
        return;
    case 8:
        put(out, pick(m_prng, Surnames));
        return;
    case 9: // the name the number is listed under
        if (m_prng.chance(50)) {
            put(out, pick(m_prng, GivenNames));
            out.append(' ');
            put(out, pick(m_prng, Surnames));
        } else {
            out.append("The ", 4);
            put(out, pick(m_prng, Surnames));
            out.append(' ');
            put(out, pick(m_prng, Businesses));
        }
        return;
    case 10:
        put(out, pick(m_prng, Titles));
        return;
    case 11:
        if (m_prng.chance(40))
            put(out, pick(m_prng, BuildingTypes));
        return;
    case 12:
    case 14:
        if (!out.endsWith("||") && m_prng.chance(number == 12 ? 60 : 30))
            anyNumber(out, 1, 999);
        return;
    case 13:
    case 15:
    case 18:
        if (!out.endsWith("||") && m_prng.chance(30))
            out.append(char('A' + m_prng.below(6)));
        return;
    case 16:
        if (m_prng.chance(30))
            put(out, pick(m_prng, FloorTypes));
        return;
    case 17:
        if (!out.endsWith("||"))
            anyNumber(out, 1, 120);
        return;
    case 19:
        if (m_prng.chance(30))
            put(out, pick(m_prng, Properties));
        return;
    case 21:
        anyNumber(out, 1, 9999);
        return;
    case 22:
        if (m_prng.chance(15))
            out.append(char('A' + m_prng.below(4)));
        return;
    case 23:
        if (m_prng.chance(20))
            anyNumber(out, 1, 9999);
        return;
    case 28:
        put(out, pick(m_prng, Streets));
        return;
    case 29:
        put(out, pick(m_prng, StreetTypes));
        return;
    case 34:
        put(out, pick(m_prng, Localities));
        return;
    case 35:
        put(out, pick(m_prng, Districts));
        return;
    case 36:
        put(out, state.name);
        return;
    case 37:
        putDigits(out, quint64(m_prng.between(state.postcodeLow, state.postcodeHigh)), 4);
        return;
    case 38:
        letter(out);
        letter(out);
        return;
    case 39:
        if (m_prng.chance(30))
            out.append(m_prng.chance(50) ? 'T' : 'F');
        return;
    case 40:
        put(out, pick(m_prng, ServiceTypes));
        return;
    case 41:
        if (m_prng.chance(40)) {
            out.append("The ", 4);
            put(out, pick(m_prng, Surnames));
            out.append(' ');
            put(out, pick(m_prng, Businesses));
        }
        return;
    case 43:
        if (m_prng.chance(50))
            fixedNumber(out, m_prng, state.area);
        return;
    case 44:
        if (m_prng.chance(20))
            putDigits(out, m_prng.below(1000), 3);
        return;
    case 45:
        put(out, pick(m_prng, Providers));
        return;
    case 46:
    case 47:
        date(out);
        out.append(' ');
        time(out);
        return;
    case 48:
    case 52:
    case 53:
        out.append(m_prng.chance(50) ? 'T' : 'F');
        return;
    default: // 20, 24, 30 to 33, 42: empty, as in most real records
        return;
    }
}

void RecordMaker::fullWidth(QByteArray &out, int number, quint32 id)
{
    const FieldTable::Field &f = FieldTable::field(number);
    using C = FieldTable::Content;
    switch (f.content) {
    case C::EightDigits:
        putDigits(out, id, 8);
        return;
    case C::Digits:
    case C::ThreeDigits:
    case C::Postcode:
        digits(out, f.width);
        return;
    case C::Date:
        date(out);
        return;
    case C::Time:
        time(out);
        return;
    case C::DateTime:
        date(out);
        out.append(' ');
        time(out);
        return;
    case C::Letter:
        letter(out);
        return;
    case C::TwoLetters:
        letter(out);
        letter(out);
        return;
    case C::Flag:
        out.append(m_prng.chance(50) ? 'T' : 'F');
        return;
    case C::State:
        put(out, States[m_state].name);
        return;
    case C::Text:
        text(out, f.width);
        return;
    }
}

namespace {

// Bytes outside printable ASCII that still keep the line and the record
// whole: never CR, LF, TAB or '|'.
constexpr unsigned char BadBytes[] = {0x01, 0x02, 0x07, 0x08, 0x0b, 0x0c, 0x0e, 0x1b,
                                      0x1f, 0x7f, 0x80, 0xa0, 0xc3, 0xe9, 0xff};
constexpr W BadDates[] = {"2007-02-30", "2019-13-01", "2021-04-31", "2023-00-10", "1999-02-29"};
constexpr W BadTimes[] = {"24:00:00", "13:60:00", "07:15:61", "25:30:00", "9:30:00"};
constexpr W BadFlags[] = {"X", "Y", "N", "t", "1"};
constexpr W BadStates[] = {"VC", "NSA", "XYZ", "vic", "QL"};
constexpr W BadLetters[] = {"a", "7", "*", "-"};
constexpr W BadLetterPairs[] = {"A", "le", "4B", "L-"};

QByteArray bytes(W text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

void RecordMaker::breakRecord(QByteArray &record, GenKind kind)
{
    using C = FieldTable::Content;
    QList<QByteArray> fields = record.split('|');
    // Field 1, the record id, is never touched: the receiver names the
    // record by it.
    auto choose = [this](auto fits) {
        QList<int> numbers;
        for (int n = 2; n <= FieldTable::FieldCount; ++n) {
            if (fits(FieldTable::field(n)))
                numbers.append(n);
        }
        return numbers[qsizetype(m_prng.below(quint64(numbers.size())))];
    };
    auto any = [](const FieldTable::Field &) { return true; };
    auto of = [](std::initializer_list<C> contents) {
        return [contents](const FieldTable::Field &f) { return std::find(contents.begin(), contents.end(), f.content) != contents.end(); };
    };

    switch (kind) {
    case GenKind::FieldCount52:
        fields.removeAt(choose(any) - 1);
        break;
    case GenKind::FieldCount54:
        fields.insert(choose(any) - 1, QByteArray());
        break;
    case GenKind::TooWide: {
        const int n = choose(of({C::Text, C::Digits}));
        QByteArray value;
        if (FieldTable::field(n).content == C::Digits)
            digits(value, FieldTable::field(n).width + 1);
        else
            text(value, FieldTable::field(n).width + 1);
        fields[n - 1] = value;
        break;
    }
    case GenKind::BadChar: {
        QByteArray &value = fields[choose(any) - 1];
        const char bad = char(BadBytes[m_prng.below(std::size(BadBytes))]);
        if (value.isEmpty())
            value = QByteArray(1, bad);
        else
            value[qsizetype(m_prng.below(quint64(value.size())))] = bad;
        break;
    }
    case GenKind::NotDigits: {
        const int n = choose(of({C::Digits, C::ThreeDigits, C::Postcode}));
        const FieldTable::Field &f = FieldTable::field(n);
        QByteArray value;
        digits(value, f.content == C::Digits ? m_prng.between(1, f.width) : f.width);
        value[qsizetype(m_prng.below(quint64(value.size())))] = char('A' + m_prng.below(26));
        fields[n - 1] = value;
        break;
    }
    case GenKind::BadDate: {
        const int n = choose(of({C::Date, C::Time, C::DateTime}));
        const C content = FieldTable::field(n).content;
        QByteArray value;
        if (content == C::Time) {
            value = bytes(pick(m_prng, BadTimes));
        } else if (content == C::Date) {
            value = bytes(pick(m_prng, BadDates));
        } else if (m_prng.chance(50)) {
            value = bytes(pick(m_prng, BadDates)) + ' ';
            time(value);
        } else {
            date(value);
            value += ' ' + bytes(pick(m_prng, BadTimes)).left(8);
        }
        fields[n - 1] = value;
        break;
    }
    case GenKind::BadFlag:
        fields[choose(of({C::Flag})) - 1] = bytes(pick(m_prng, BadFlags));
        break;
    case GenKind::BadState:
        fields[choose(of({C::State})) - 1] = bytes(pick(m_prng, BadStates));
        break;
    case GenKind::BadCode: {
        const int n = choose(of({C::Letter, C::TwoLetters}));
        fields[n - 1] = bytes(FieldTable::field(n).content == C::Letter ? pick(m_prng, BadLetters)
                                                                        : pick(m_prng, BadLetterPairs));
        break;
    }
    default: // a line kind: the record stays valid
        return;
    }
    record = fields.join('|');
}
