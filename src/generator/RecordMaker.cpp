#include "generator/RecordMaker.h"

#include "testpackets/FieldTable.h"

#include <algorithm>
#include <cstring>
#include <span>
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

W pick(Prng &prng, std::span<const W> list)
{
    return list[prng.below(list.size())];
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

namespace {

// How a fixed line with a full address fills a field from 6 on.
enum class Fill : unsigned char {
    Empty,
    Whole,       // as a full-width record fills it: the field's content has one width only
    FromList,    // one of `list`
    Number,      // low to high, no leading zeros
    Suffix,      // one of the first `high` capital letters
    Fixed,       // `text`
    ListedName,  // a person's given name and surname, or a business
    Business,    // "The" surname business
    Postcode,    // in the state's range
    Phone,       // a fixed-line number of the state's area
    Code,        // three digits
    NetworkName, // the state's network
};

struct AddressField
{
    int number = 0;
    Fill fill = Fill::Empty;
    int chance = 100;         // percent of records with a value; 100 draws nothing
    bool afterFilled = false; // only when the field before it has a value
    std::span<const W> list = {};
    int low = 0;
    int high = 0;
    W text = {};
};

constexpr AddressField is(int number, Fill fill)
{
    return {number, fill};
}
constexpr AddressField fromList(int number, std::span<const W> list)
{
    AddressField field{number, Fill::FromList};
    field.list = list;
    return field;
}
constexpr AddressField numberIn(int number, int low, int high)
{
    AddressField field{number, Fill::Number};
    field.low = low;
    field.high = high;
    return field;
}
constexpr AddressField suffix(int number, int letters)
{
    AddressField field{number, Fill::Suffix};
    field.high = letters;
    return field;
}
constexpr AddressField fixed(int number, W text)
{
    AddressField field{number, Fill::Fixed};
    field.text = text;
    return field;
}
constexpr AddressField sometimes(int percent, AddressField field)
{
    field.chance = percent;
    return field;
}
constexpr AddressField afterFilled(AddressField field)
{
    field.afterFilled = true;
    return field;
}

// Fields 6 to 53, in order. Some parts of an address are there only
// sometimes: a building's numbers and suffixes each only after the one
// before them, a floor's number and suffix only with its type.
constexpr AddressField AddressFields[] = {
    is(6, Fill::Whole),
    fromList(7, GivenNames),
    fromList(8, Surnames),
    is(9, Fill::ListedName), // the name the number is listed under
    fromList(10, Titles),
    sometimes(40, fromList(11, BuildingTypes)),
    sometimes(60, afterFilled(numberIn(12, 1, 999))),
    sometimes(30, afterFilled(suffix(13, 6))),
    sometimes(30, afterFilled(numberIn(14, 1, 999))),
    sometimes(30, afterFilled(suffix(15, 6))),
    sometimes(30, fromList(16, FloorTypes)),
    afterFilled(numberIn(17, 1, 120)),
    sometimes(30, afterFilled(suffix(18, 6))),
    sometimes(30, fromList(19, Properties)),
    is(20, Fill::Empty),
    numberIn(21, 1, 9999),
    sometimes(15, suffix(22, 4)),
    sometimes(20, numberIn(23, 1, 9999)),
    is(24, Fill::Empty),
    fixed(25, "0"),
    fixed(26, "1"),
    is(27, Fill::Whole),
    fromList(28, Streets),
    fromList(29, StreetTypes),
    is(30, Fill::Empty),
    is(31, Fill::Empty),
    is(32, Fill::Empty),
    is(33, Fill::Empty),
    fromList(34, Localities),
    fromList(35, Districts),
    is(36, Fill::Whole),
    is(37, Fill::Postcode),
    is(38, Fill::Whole),
    sometimes(30, is(39, Fill::Whole)),
    fromList(40, ServiceTypes),
    sometimes(40, is(41, Fill::Business)),
    is(42, Fill::Empty),
    sometimes(50, is(43, Fill::Phone)),
    sometimes(20, is(44, Fill::Code)),
    fromList(45, Providers),
    is(46, Fill::Whole),
    is(47, Fill::Whole),
    is(48, Fill::Whole),
    is(49, Fill::Code),
    is(50, Fill::NetworkName),
    is(51, Fill::Whole),
    is(52, Fill::Whole),
    is(53, Fill::Whole),
};

constexpr bool inOrder()
{
    for (std::size_t i = 0; i < std::size(AddressFields); ++i) {
        if (AddressFields[i].number != int(i) + 6)
            return false;
    }
    return std::size(AddressFields) == FieldTable::FieldCount - 5;
}
static_assert(inOrder(), "one entry for each of fields 6 to 53, in order");

} // namespace

// Fields 6 to 53 of a fixed line with a full address.
void RecordMaker::fullAddress()
{
    const StateInfo &state = States[m_state];
    auto business = [this] {
        put("The ");
        put(pick(m_prng, Surnames));
        putChar(' ');
        put(pick(m_prng, Businesses));
    };
    bool filledBefore = false;
    for (const AddressField &field : AddressFields) {
        putChar('|');
        const bool filled = field.fill != Fill::Empty && (!field.afterFilled || filledBefore)
                         && (field.chance >= 100 || m_prng.chance(field.chance));
        filledBefore = filled;
        if (!filled)
            continue;
        switch (field.fill) {
        case Fill::Empty:
            break;
        case Fill::Whole:
            fullWidth(field.number, 0);
            break;
        case Fill::FromList:
            put(pick(m_prng, field.list));
            break;
        case Fill::Number:
            anyNumber(field.low, field.high);
            break;
        case Fill::Suffix:
            putChar(char('A' + m_prng.below(quint64(field.high))));
            break;
        case Fill::Fixed:
            put(field.text);
            break;
        case Fill::ListedName:
            if (m_prng.chance(50)) {
                put(pick(m_prng, GivenNames));
                putChar(' ');
                put(pick(m_prng, Surnames));
            } else {
                business();
            }
            break;
        case Fill::Business:
            business();
            break;
        case Fill::Postcode:
            putDigits(quint64(m_prng.between(state.postcodeLow, state.postcodeHigh)), 4);
            break;
        case Fill::Phone:
            fixedNumber(state.area);
            break;
        case Fill::Code:
            putDigits(m_prng.below(1000), 3);
            break;
        case Fill::NetworkName:
            put(state.network);
            break;
        }
    }
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

// The number of a field that `fits`, drawn from them. Field 1, the record
// id, is never chosen: the receiver names the record by it.
template <typename Fits>
int chooseField(Prng &prng, Fits fits)
{
    QList<int> numbers;
    for (int n = 2; n <= FieldTable::FieldCount; ++n) {
        if (fits(FieldTable::field(n)))
            numbers.append(n);
    }
    return numbers[qsizetype(prng.below(quint64(numbers.size())))];
}

// Whether a field holds one of `contents`.
auto of(std::initializer_list<FieldTable::Content> contents)
{
    return [contents](const FieldTable::Field &f) {
        return std::find(contents.begin(), contents.end(), f.content) != contents.end();
    };
}

} // namespace

void RecordMaker::breakRecord(QByteArray &record, GenKind kind)
{
    using C = FieldTable::Content;
    QList<QByteArray> fields = record.split('|');
    const auto choose = [this](auto fits) { return chooseField(m_prng, fits); };
    const auto any = [](const FieldTable::Field &) { return true; };

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
