#include "generator/RecordMaker.h"

#include "testpackets/FieldTable.h"

#include <algorithm>
#include <cstring>
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
// Mobile numbers set aside for fiction and drama. Unlike the fixed-line range
// used below, only single numbers are set aside, so they are listed.
constexpr W MobileNumbers[] = {"0491570006", "0491570110", "0491570156", "0491570157",
                               "0491570158", "0491570159", "0491570313", "0491570737"};
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

} // namespace

RecordMaker::Shape RecordMaker::pickShape()
{
    const quint64 n = m_prng.below(20);
    return n < 9 ? Shape::FullAddress : n < 13 ? Shape::NoAddress : n < 18 ? Shape::Mobile : Shape::FullWidth;
}

void RecordMaker::date()
{
    const int year = m_prng.between(1995, 2026);
    const int month = m_prng.between(1, 12);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = DaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    putDigits(quint64(year), 4);
    putChar('-');
    putDigits(quint64(month), 2);
    putChar('-');
    putDigits(quint64(m_prng.between(1, days)), 2);
}

void RecordMaker::time()
{
    const quint64 seconds = m_prng.below(86400);
    putDigits(seconds / 3600, 2);
    putChar(':');
    putDigits(seconds / 60 % 60, 2);
    putChar(':');
    putDigits(seconds % 60, 2);
}

void RecordMaker::digits(int count)
{
    for (int i = 0; i < count; ++i)
        putChar(char('0' + m_prng.below(10)));
}

void RecordMaker::fixedNumber(char area)
{
    // Telephone numbers in the ranges set aside for fiction and drama.
    putChar('0');
    putChar(area);
    put("55500");
    putDigits(m_prng.below(1000), 3);
}

void RecordMaker::mobileNumber()
{
    put(pick(m_prng, MobileNumbers));
}

void RecordMaker::anyNumber(int low, int high)
{
    const int value = m_prng.between(low, high);
    int width = 1;
    for (int rest = value / 10; rest > 0; rest /= 10)
        ++width;
    putDigits(quint64(value), width);
}

// Exactly `width` text characters, ending in a letter.
void RecordMaker::text(int width)
{
    const W name = pick(m_prng, Surnames);
    char *const end = m_p + width;
    while (m_p < end) {
        for (const W part : {name, W(" "), Filler}) {
            const std::size_t n = std::min(part.size(), std::size_t(end - m_p));
            std::memcpy(m_p, part.data(), n);
            m_p += n;
        }
    }
    if (m_p[-1] < 'A')
        m_p[-1] = 'Z';
}

void RecordMaker::append(QByteArray &out, quint32 id, Shape shape)
{
    const qsizetype start = out.size();
    out.resize(start + LongestRecord);
    m_p = out.data() + start;
    m_state = int(m_prng.below(shape == Shape::FullWidth ? ThreeLetterStates : std::size(States)));
    switch (shape) {
    case Shape::FullAddress:
        head(id, false);
        fullAddress();
        break;
    case Shape::NoAddress:
        head(id, false);
        noAddress();
        break;
    case Shape::Mobile:
        head(id, true);
        mobile();
        break;
    case Shape::FullWidth:
        for (int number = 1; number <= FieldTable::FieldCount; ++number) {
            if (number > 1)
                putChar('|');
            fullWidth(number, id);
        }
        break;
    }
    out.resize(m_p - out.constData());
    m_p = nullptr;
}

// Fields 1 to 5, which every shape fills: id, reference, date, time, number.
void RecordMaker::head(quint32 id, bool mobileService)
{
    putDigits(id, 8);
    putChar('|');
    anyNumber(10000, 9999999);
    putChar('|');
    date();
    putChar('|');
    time();
    putChar('|');
    if (mobileService)
        mobileNumber();
    else
        fixedNumber(States[m_state].area);
}

// Fields 49 to 53 of a record without address: network code, name, state
// and two empty flags.
void RecordMaker::network(std::string_view name)
{
    putDigits(m_prng.below(1000), 3);
    putChar('|');
    put(name);
    putChar('|');
    put(States[m_state].name);
    separators(2);
}

void RecordMaker::noAddress()
{
    separators(4); // to field 9
    put(NoAddress);
    separators(16); // to field 25
    put("0|1");
    separators(8); // to field 34
    put(NoAddress);
    separators(15); // to field 49
    network(States[m_state].network);
}

void RecordMaker::mobile()
{
    separators(20); // to field 25
    put("0|1");
    separators(14); // to field 40
    put("MOBIL");
    separators(5); // to field 45
    put(pick(m_prng, Providers));
    separators(4); // to field 49
    network(pick(m_prng, MobileAreas));
}

// Fields 6 to 53 of a fixed line with a full address; some parts of an
// address are there only sometimes.
void RecordMaker::fullAddress()
{
    const StateInfo &state = States[m_state];
    auto business = [this] {
        put("The ");
        put(pick(m_prng, Surnames));
        putChar(' ');
        put(pick(m_prng, Businesses));
    };

    putChar('|'); // 6
    letter();
    putChar('|'); // 7
    put(pick(m_prng, GivenNames));
    putChar('|'); // 8
    put(pick(m_prng, Surnames));
    putChar('|'); // 9: the name the number is listed under
    if (m_prng.chance(50)) {
        put(pick(m_prng, GivenNames));
        putChar(' ');
        put(pick(m_prng, Surnames));
    } else {
        business();
    }
    putChar('|'); // 10
    put(pick(m_prng, Titles));
    putChar('|'); // 11 to 15: building type, numbers and suffixes
    const bool building = m_prng.chance(40);
    if (building)
        put(pick(m_prng, BuildingTypes));
    putChar('|');
    const bool first = building && m_prng.chance(60);
    if (first)
        anyNumber(1, 999);
    putChar('|');
    const bool suffix = first && m_prng.chance(30);
    if (suffix)
        putChar(char('A' + m_prng.below(6)));
    putChar('|');
    const bool second = suffix && m_prng.chance(30);
    if (second)
        anyNumber(1, 999);
    putChar('|');
    if (second && m_prng.chance(30))
        putChar(char('A' + m_prng.below(6)));
    putChar('|'); // 16 to 18: floor type, number, suffix
    const bool floor = m_prng.chance(30);
    if (floor) {
        put(pick(m_prng, FloorTypes));
        putChar('|');
        anyNumber(1, 120);
        putChar('|');
        if (m_prng.chance(30))
            putChar(char('A' + m_prng.below(6)));
    } else {
        separators(2);
    }
    putChar('|'); // 19
    if (m_prng.chance(30))
        put(pick(m_prng, Properties));
    separators(2); // 21, after an empty 20
    anyNumber(1, 9999);
    putChar('|'); // 22
    if (m_prng.chance(15))
        putChar(char('A' + m_prng.below(4)));
    putChar('|'); // 23
    if (m_prng.chance(20))
        anyNumber(1, 9999);
    separators(2); // 25, after an empty 24
    put("0|1|");
    letter(); // 27
    putChar('|'); // 28
    put(pick(m_prng, Streets));
    putChar('|'); // 29
    put(pick(m_prng, StreetTypes));
    separators(5); // 34, after empty 30 to 33
    put(pick(m_prng, Localities));
    putChar('|'); // 35
    put(pick(m_prng, Districts));
    putChar('|'); // 36
    put(state.name);
    putChar('|'); // 37
    putDigits(quint64(m_prng.between(state.postcodeLow, state.postcodeHigh)), 4);
    putChar('|'); // 38
    letter();
    letter();
    putChar('|'); // 39
    if (m_prng.chance(30))
        flag();
    putChar('|'); // 40
    put(pick(m_prng, ServiceTypes));
    putChar('|'); // 41
    if (m_prng.chance(40))
        business();
    separators(2); // 43, after an empty 42
    if (m_prng.chance(50))
        fixedNumber(state.area);
    putChar('|'); // 44
    if (m_prng.chance(20))
        putDigits(m_prng.below(1000), 3);
    putChar('|'); // 45
    put(pick(m_prng, Providers));
    for (int i = 0; i < 2; ++i) { // 46, 47
        putChar('|');
        date();
        putChar(' ');
        time();
    }
    putChar('|'); // 48
    flag();
    putChar('|'); // 49
    putDigits(m_prng.below(1000), 3);
    putChar('|'); // 50
    put(state.network);
    putChar('|'); // 51
    put(state.name);
    putChar('|'); // 52
    flag();
    putChar('|'); // 53
    flag();
}

void RecordMaker::fullWidth(int number, quint32 id)
{
    const FieldTable::Field &f = FieldTable::field(number);
    using C = FieldTable::Content;
    switch (f.content) {
    case C::EightDigits:
        putDigits(id, 8);
        return;
    case C::Digits:
    case C::ThreeDigits:
    case C::Postcode:
        digits(f.width);
        return;
    case C::Date:
        date();
        return;
    case C::Time:
        time();
        return;
    case C::DateTime:
        date();
        putChar(' ');
        time();
        return;
    case C::Letter:
        letter();
        return;
    case C::TwoLetters:
        letter();
        letter();
        return;
    case C::Flag:
        flag();
        return;
    case C::State:
        put(States[m_state].name);
        return;
    case C::Text:
        text(f.width);
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
        const int width = FieldTable::field(n).width + 1;
        fields[n - 1] = FieldTable::field(n).content == C::Digits ? made([&] { digits(width); })
                                                                   : made([&] { text(width); });
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
        const int width = f.content == C::Digits ? m_prng.between(1, f.width) : f.width;
        QByteArray value = made([&] { digits(width); });
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
            value = bytes(pick(m_prng, BadDates)) + ' ' + made([this] { time(); });
        } else {
            value = made([this] { date(); }) + ' ' + bytes(pick(m_prng, BadTimes));
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
