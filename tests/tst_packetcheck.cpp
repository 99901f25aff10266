// The receiver's packet checks: when the bytes on a connection are a whole
// packet, framed or bare, and what is wrong with a packet.

#include "receiver/Capture.h"
#include "receiver/PacketCheck.h"
#include "testpackets/TestRecords.h"

#include <QByteArray>
#include <QtTest>

namespace {

// `record` with field `number` (from 1) replaced by `value`.
QByteArray withField(const QByteArray &record, int number, const QByteArray &value)
{
    QList<QByteArray> fields = record.split('|');
    fields[number - 1] = value;
    return fields.join('|');
}

// The Standard record with field 9 (the 80-wide one) padded so the record is
// `length` bytes long.
QByteArray standardOfLength(qsizetype length)
{
    const QByteArray field9 = TestRecords::Standard.split('|').at(8);
    return withField(TestRecords::Standard, 9, field9 + QByteArray(length - TestRecords::Standard.size(), 'x'));
}

// Bytes 128 to 255 in order, `count` of them from `first`.
QByteArray highBytes(int first, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(first + i));
    return bytes;
}

struct Fixed
{
    const char *name;
    QByteArray record;
    QByteArray header; // packet code and length
    QByteArray id;
    QByteArray fields; // what the field checks find
};

// The Long and Max records keep every width but break the content rules on
// purpose.
const QByteArray LongFindings =
    "not-digits in field 12 BLDG_NR_1: not all digits; not-digits in field 14 BLDG_NR_2: not all digits; "
    "not-digits in field 17 FLOOR_NR: not all digits; not-digits in field 21 HOUSE_NR_1: not all digits; "
    "not-digits in field 23 HOUSE_NR_2: not all digits; not-digits in field 43 CONTACT_NR: not all digits";
const QByteArray MaxFindings = "bad-state in field 36 STATE: not a state; bad-flag in field 39 FLAG_39: not T or F; "
                               "bad-flag in field 48 FLAG_48: not T or F; bad-flag in field 52 FLAG_52: not T or F";

QList<Fixed> fixedRecords()
{
    return {{"Standard", TestRecords::Standard, "0900311", "08903043", "fields ok"},
            {"NoAdd", TestRecords::NoAdd, "0100164", "00101573", "fields ok"},
            {"Long", TestRecords::Long, "0900695", "99906883", LongFindings},
            {"Min", TestRecords::Min, "0900120", "09901133", "fields ok"},
            {"Max", TestRecords::Max, "0900713", "99907063", MaxFindings}};
}

} // namespace

class tst_PacketCheck : public QObject
{
    Q_OBJECT

private slots:
    void checks_data();
    void checks();
    void completeness_data();
    void completeness();
    void printableText_data();
    void printableText();
    void fieldContent_data();
    void fieldContent();
    void notCaptured_data();
    void notCaptured();
};

void tst_PacketCheck::checks_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("framed");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<qsizetype>("fields");
    QTest::addColumn<QByteArray>("recordId");
    QTest::addColumn<bool>("malformed");
    QTest::addColumn<QByteArray>("text");

    const QByteArray standard = TestRecords::Standard;
    for (const Fixed &fixed : fixedRecords()) {
        const QByteArray code = fixed.header.left(3);
        const QByteArray length = fixed.header.mid(3);
        const bool valid = fixed.fields == "fields ok";
        const QByteArray malformed = valid ? "" : "malformed: ";
        QTest::addRow("%s bare", fixed.name)
            << fixed.record << false << fixed.record << qsizetype(53) << fixed.id << !valid
            << malformed + "bare; 53 fields; " + fixed.fields + "; record id " + fixed.id;
        QTest::addRow("%s framed", fixed.name)
            << fixed.header + fixed.record << true << fixed.record << qsizetype(53) << fixed.id << !valid
            << malformed + "framed code " + code + " length " + length + " ok; 53 fields; " + fixed.fields +
                   "; record id " + fixed.id;
    }

    // Framing faults.
    QTest::newRow("length too big") << "0900400" + standard << true << standard << qsizetype(53) << QByteArray("08903043") << true
                                    << QByteArray("malformed: framed length 0400 but 311 record bytes; 53 fields; "
                                                  "fields ok; record id 08903043");
    QTest::newRow("length too small") << "0900300" + standard << true << standard << qsizetype(53) << QByteArray("08903043") << true
                                      << QByteArray("malformed: framed length 0300 but 311 record bytes; 53 fields; "
                                                    "fields ok; record id 08903043");
    QTest::newRow("wrong code") << "0990311" + standard << true << standard << qsizetype(53) << QByteArray("08903043") << true
                                << QByteArray("malformed: framed code 099 but record code 090; 53 fields; fields ok; "
                                              "record id 08903043");
    QTest::newRow("wrong code and length")
        << "0100999" + standard << true << standard << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed code 010 but record code 090; framed length 0999 but 311 record bytes; "
                      "53 fields; fields ok; record id 08903043");
    const QByteArray letterCode = withField(standard, 1, "12AB5678");
    QTest::newRow("record code not a number")
        << "0000311" + letterCode << true << letterCode << qsizetype(53) << QByteArray("12AB5678") << true
        << QByteArray("malformed: framed code 000 but record characters 3 and 4 \"AB\" are not a number; "
                      "53 fields; not-digits in field 1 RECORD_ID: not exactly 8 digits; record id 12AB5678");

    // Not a header: the packet is bare, and its first field too wide.
    // An id is never wider than its field, however wide the first field.
    QTest::newRow("letter in header") << "09A0311" + standard << false << "09A0311" + standard << qsizetype(53) << QByteArray("09A03110") << true
                                      << QByteArray("malformed: bare; 53 fields; too-wide in field 1 RECORD_ID: 15 wide, at most 8; "
                                                    "record id 09A03110");
    QTest::newRow("blank in header") << "090 311" + standard << false << "090 311" + standard << qsizetype(53) << QByteArray("090 3110") << true
                                     << QByteArray("malformed: bare; 53 fields; too-wide in field 1 RECORD_ID: 15 wide, at most 8; "
                                                   "record id 090 3110");
    QTest::newRow("header only") << QByteArray("0900311") << false << QByteArray("0900311") << qsizetype(1) << QByteArray("0900311") << true
                                 << QByteArray("malformed: bare; 1 field; field-count-1: 1 field, 53 expected; record id 0900311");
    const QByteArray nulls(1 << 20, '\0');
    QTest::newRow("a megabyte of NUL bytes")
        << nulls << false << nulls << qsizetype(1) << QByteArray(8, '\0') << true
        << "malformed: bare; 1 field; field-count-1: 1 field, 53 expected; record id " + QByteArray("\\x00").repeated(8);

    // Field counts.
    QTest::newRow("12 fields") << QByteArray("ABC|1|2|3|4|5|6|7|8|9|10|11") << false
                               << QByteArray("ABC|1|2|3|4|5|6|7|8|9|10|11") << qsizetype(12) << QByteArray("ABC")
                               << true << QByteArray("malformed: bare; 12 fields; field-count-12: 12 fields, 53 expected; record id ABC");
    QTest::newRow("52 fields") << standard.left(standard.lastIndexOf('|')) << false
                               << standard.left(standard.lastIndexOf('|')) << qsizetype(52) << QByteArray("08903043") << true
                               << QByteArray("malformed: bare; 52 fields; field-count-52: 52 fields, 53 expected; record id 08903043");
    QTest::newRow("54 fields") << standard + "|F" << false << standard + "|F" << qsizetype(54) << QByteArray("08903043") << true
                               << QByteArray("malformed: bare; 54 fields; field-count-54: 54 fields, 53 expected; record id 08903043");
    QTest::newRow("54 fields framed") << "0900313" + standard + "|F" << true << standard + "|F" << qsizetype(54) << QByteArray("08903043") << true
                                      << QByteArray("malformed: framed code 090 length 0313 ok; 54 fields; "
                                                    "field-count-54: 54 fields, 53 expected; record id 08903043");
    QTest::newRow("empty packet") << QByteArray() << false << QByteArray() << qsizetype(1) << QByteArray()
                                  << true << QByteArray("malformed: bare; 1 field; field-count-1: 1 field, 53 expected; no record id");

    // Widths.
    const QByteArray wide7 = withField(standard, 7, QByteArray(41, 'N'));
    QTest::newRow("field 7 one too wide")
        << wide7 << false << wide7 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: bare; 53 fields; too-wide in field 7 CUST_NAME_1: 41 wide, at most 40; record id 08903043");
    const QByteArray full7 = withField(standard, 7, QByteArray(40, 'N'));
    QTest::newRow("field 7 exactly as wide as allowed")
        << full7 << false << full7 << qsizetype(53) << QByteArray("08903043") << false
        << QByteArray("bare; 53 fields; fields ok; record id 08903043");
    const QByteArray twoWide = withField(withField(standard, 20, QByteArray(31, 'L')), 30, "ABCDEFG");
    QTest::newRow("first of two too wide")
        << twoWide << false << twoWide << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: bare; 53 fields; too-wide in field 20 BLDG_LOCTN: 31 wide, at most 30; "
                      "too-wide in field 30 ST_SF: 7 wide, at most 6; record id 08903043");
    const QByteArray wide53 = withField(standard, 53, "FF");
    QTest::newRow("last field too wide framed")
        << "0900312" + wide53 << true << wide53 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed code 090 length 0312 ok; 53 fields; too-wide in field 53 FLAG_53: 2 wide, at most 1; "
                      "record id 08903043");
    const QByteArray wideFewer = "ABC|1|" + QByteArray(11, '2');
    QTest::newRow("too wide among too few fields")
        << wideFewer << false << wideFewer << qsizetype(3) << QByteArray("ABC") << true
        << QByteArray("malformed: bare; 3 fields; field-count-3: 3 fields, 53 expected; record id ABC");
    const QByteArray noId = withField(standard, 1, "");
    QTest::newRow("empty record id")
        << noId << false << noId << qsizetype(53) << QByteArray() << false
        << QByteArray("bare; 53 fields; fields ok; no record id");

    // Bytes 128 to 255 are single bytes.
    const QByteArray high7 = withField(standard, 7, highBytes(0xC0, 40));
    QTest::newRow("40 high bytes in a 40-wide field")
        << high7 << false << high7 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: bare; 53 fields; bad-char in field 7 CUST_NAME_1: byte 0xc0 at 1; "
                      "record id 08903043");
    const QByteArray high9 = withField(standard, 9, highBytes(128, 128));
    QTest::newRow("bytes 128 to 255 in an 80-wide field framed")
        << "0900424" + high9 << true << high9 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed code 090 length 0424 ok; 53 fields; bad-char in field 9 LONG_NAME: byte 0x80 at 1; "
                      "record id 08903043");
    const QByteArray highId = withField(standard, 1, "\x80\xff\\\x01");
    QTest::newRow("record id of odd bytes")
        << highId << false << highId << qsizetype(53) << QByteArray("\x80\xff\\\x01") << true
        << QByteArray("malformed: bare; 53 fields; bad-char in field 1 RECORD_ID: byte 0x80 at 1; "
                      "record id \\x80\\xff\\x5c\\x01");

    // Long records: lengths of 4 and 5 digits.
    const QByteArray r9999 = standardOfLength(9999);
    QTest::newRow("framed 9999-byte record")
        << "0909999" + r9999 << true << r9999 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed code 090 length 9999 ok; 53 fields; too-wide in field 9 LONG_NAME: 9703 wide, at most 80; "
                      "record id 08903043");
    const QByteArray r10000 = standardOfLength(10000);
    QTest::newRow("framed 10000-byte record")
        << "09010000" + r10000 << true << r10000 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed code 090 length 10000 ok; 53 fields; too-wide in field 9 LONG_NAME: 9704 wide, at most 80; "
                      "record id 08903043");
    QTest::newRow("framed 10000-byte record, 4-digit length")
        << "0901000" + r10000 << true << r10000 << qsizetype(53) << QByteArray("08903043") << true
        << QByteArray("malformed: framed length 1000 but 10000 record bytes; 53 fields; too-wide in field 9 LONG_NAME: 9704 wide, "
                      "at most 80; record id 08903043");
}

void tst_PacketCheck::checks()
{
    QFETCH(QByteArray, packet);
    QFETCH(bool, framed);
    QFETCH(QByteArray, record);
    QFETCH(qsizetype, fields);
    QFETCH(QByteArray, recordId);
    QFETCH(bool, malformed);
    QFETCH(QByteArray, text);

    const PacketCheck::Result result = PacketCheck::check(packet);
    QCOMPARE(result.framed, framed);
    QCOMPARE(PacketCheck::looksFramed(packet), framed);
    QCOMPARE(result.record, record);
    QCOMPARE(result.fields, fields);
    QCOMPARE(result.recordId, recordId);
    QCOMPARE(result.malformed, malformed);
    QCOMPARE(result.text(), text);
}

void tst_PacketCheck::completeness_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("quiet");

    const int now = PacketCheck::CompleteNow;
    const int record = PacketCheck::QuietAfterRecord;
    const int anything = PacketCheck::QuietForAnything;
    const int rest = PacketCheck::QuietForRest;
    QCOMPARE(now, 0);
    QCOMPARE(record, 100);
    QCOMPARE(anything, 500);
    QCOMPARE(rest, 2000);

    for (const Fixed &fixed : fixedRecords()) {
        // Nothing ends a bare record's last field but quiet.
        QTest::addRow("%s bare", fixed.name) << fixed.record << record;
        QTest::addRow("%s framed", fixed.name) << fixed.header + fixed.record << now;
        QTest::addRow("%s framed, one byte short", fixed.name) << fixed.header + fixed.record.chopped(1) << rest;
        QTest::addRow("%s framed, header only", fixed.name) << fixed.header << anything;
    }

    const QByteArray standard = TestRecords::Standard;
    QTest::newRow("nothing") << QByteArray() << anything;
    QTest::newRow("bare, 100 bytes") << standard.left(100) << anything;
    QTest::newRow("bare, 52nd '|' last") << standard.chopped(1) << record;
    QTest::newRow("bare, 51 '|'") << standard.chopped(2) << anything;
    QTest::newRow("bare, 54 fields") << standard + "|F" << record;
    QTest::newRow("bare, 12 fields") << QByteArray("ABC|1|2|3|4|5|6|7|8|9|10|11") << anything;
    QTest::newRow("letter in header") << "09A0311" + standard << record;
    QTest::newRow("letter in header, 52nd '|' last") << "09A0311" + standard.chopped(1) << record;
    QTest::newRow("framed, length too big") << "0900400" + standard << rest;
    QTest::newRow("framed, length too small") << "0900300" + standard << record;
    // Cut where its length says it ends, the record is not whole: more may come.
    QTest::newRow("framed, length too small, cut at that length") << "0900300" + standard.left(300) << record;
    QTest::newRow("framed, length too small, 52nd '|' last") << "0900300" + standard.chopped(1) << record;
    QTest::newRow("framed, one byte more") << "0900311" + standard + "X" << record;
    QTest::newRow("framed 12 fields, length right") << QByteArray("0000027ABC|1|2|3|4|5|6|7|8|9|10|11") << record;
    QTest::newRow("framed 12 fields, 1 byte short") << QByteArray("0000028ABC|1|2|3|4|5|6|7|8|9|10|11") << rest;

    const QByteArray r1000 = standardOfLength(1000);
    QTest::newRow("framed 1000-byte record") << "0901000" + r1000 << now;
    QTest::newRow("framed 1000-byte record ending in '|'") << "0901000" + r1000.chopped(1) + "|" << record;
    QTest::newRow("framed 1000-byte record, 12 fields")
        << "0901000" + QByteArray("00|1|2|3|4|5|6|7|8|9|10|") + QByteArray(976, 'x') << record;
    const QByteArray r9999 = standardOfLength(9999);
    QTest::newRow("framed 9999-byte record") << "0909999" + r9999 << now;
    QTest::newRow("framed 9999-byte record, one byte short") << "0909999" + r9999.chopped(1) << rest;

    const QByteArray p10000 = "09010000" + standardOfLength(10000);
    QTest::newRow("framed 10000-byte record") << p10000 << now;
    QTest::newRow("framed 10000-byte record, first 1007 bytes") << p10000.left(1007) << record;
    QTest::newRow("framed 10000-byte record, first 1008 bytes") << p10000.left(1008) << rest;
    QTest::newRow("framed 10000-byte record, one byte short") << p10000.chopped(1) << rest;
    // A length that may go on into the record's first digit: a record that
    // may have ended still waits for quiet.
    QTest::newRow("framed 10000-byte record ending in '|'") << p10000.chopped(1) + "|" << record;

    QTest::newRow("a megabyte of one field") << QByteArray(1 << 20, 'x') << anything;

    const QByteArray high = withField(standard, 53, highBytes(255, 1));
    QTest::newRow("bare, byte 255 last") << high << record;
    QTest::newRow("framed, bytes 128 to 255") << "0900424" + withField(standard, 9, highBytes(128, 128)) << now;
}

void tst_PacketCheck::completeness()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, quiet);

    QCOMPARE(PacketCheck::quietNeeded(bytes), quiet);
}

void tst_PacketCheck::printableText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("plain") << QByteArray("08903043") << QByteArray("08903043");
    QTest::newRow("blank and tilde") << QByteArray(" a~") << QByteArray(" a~");
    QTest::newRow("control bytes") << QByteArray("\x00\x1f\n", 3) << QByteArray("\\x00\\x1f\\x0a");
    QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\x5cb");
    QTest::newRow("127 to 129") << QByteArray("\x7f\x80\x81") << QByteArray("\\x7f\\x80\\x81");
    QTest::newRow("255") << QByteArray("\xff") << QByteArray("\\xff");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_PacketCheck::printableText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);

    QCOMPARE(PacketCheck::printable(bytes), text);
}

// One field against the table: the kind of the first failing check of its
// bytes, its width and its content; empty when the value is good.
void tst_PacketCheck::fieldContent_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("kind");

    const QByteArray good;
    QTest::newRow("empty id") << 1 << QByteArray() << good;
    QTest::newRow("id 8 digits") << 1 << QByteArray("00000000") << good;
    QTest::newRow("id 7 digits") << 1 << QByteArray("0000000") << QByteArray("not-digits");
    QTest::newRow("id 9 digits") << 1 << QByteArray("000000000") << QByteArray("too-wide");
    QTest::newRow("ref digits") << 2 << QByteArray("1") << good;
    QTest::newRow("ref with blank") << 2 << QByteArray("12 4") << QByteArray("not-digits");
    QTest::newRow("leap day") << 3 << QByteArray("2024-02-29") << good;
    QTest::newRow("no leap day") << 3 << QByteArray("2023-02-29") << QByteArray("bad-date");
    QTest::newRow("date with slashes") << 3 << QByteArray("2023/02/28") << QByteArray("bad-date");
    QTest::newRow("last second") << 4 << QByteArray("23:59:59") << good;
    QTest::newRow("hour 24") << 4 << QByteArray("24:00:00") << QByteArray("bad-date");
    QTest::newRow("short time") << 4 << QByteArray("9:00:00") << QByteArray("bad-date");
    QTest::newRow("date and time") << 46 << QByteArray("1999-12-31 11:11:00") << good;
    QTest::newRow("date and time with T") << 46 << QByteArray("1999-12-31T11:11:00") << QByteArray("bad-date");
    QTest::newRow("capital") << 6 << QByteArray("A") << good;
    QTest::newRow("small letter") << 27 << QByteArray("a") << QByteArray("bad-code");
    QTest::newRow("two capitals") << 38 << QByteArray("LE") << good;
    QTest::newRow("one capital for two") << 38 << QByteArray("L") << QByteArray("bad-code");
    QTest::newRow("flag T") << 39 << QByteArray("T") << good;
    QTest::newRow("flag X") << 53 << QByteArray("X") << QByteArray("bad-flag");
    QTest::newRow("state NT") << 36 << QByteArray("NT") << good;
    QTest::newRow("state small") << 51 << QByteArray("vic") << QByteArray("bad-state");
    QTest::newRow("postcode") << 37 << QByteArray("0800") << good;
    QTest::newRow("postcode of 3") << 37 << QByteArray("800") << QByteArray("not-digits");
    QTest::newRow("network code of 2") << 49 << QByteArray("99") << QByteArray("not-digits");
    QTest::newRow("text of every kind") << 9 << QByteArray("*Address Not_Available-1:*") << good;
    QTest::newRow("text with a dot") << 9 << QByteArray("St. Kilda") << QByteArray("bad-char");
    QTest::newRow("DEL byte") << 9 << QByteArray("a\x7f") << QByteArray("bad-char");
    QTest::newRow("byte before width") << 6 << QByteArray("\x01\x01") << QByteArray("bad-char");
    QTest::newRow("width before content") << 39 << QByteArray("TT") << QByteArray("too-wide");
}

void tst_PacketCheck::fieldContent()
{
    QFETCH(int, field);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, kind);

    const std::optional<FieldTable::Finding> finding = FieldTable::checkField(field, value);
    QCOMPARE(finding ? finding->kind : QByteArray(), kind);
    if (finding)
        QCOMPARE(finding->field, field);
    // The same in a whole record: that one finding and no other.
    const QList<FieldTable::Finding> inRecord = FieldTable::checkRecord(withField(TestRecords::Min, field, value));
    QCOMPARE(inRecord.size(), finding ? 1 : 0);
    if (finding)
        QCOMPARE(inRecord.constFirst(), *finding);
}

// A capture holds only what a replay sends again as it came: why a packet's
// record is left out, empty when it is captured.
void tst_PacketCheck::notCaptured_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("why");

    const QByteArray standard = TestRecords::Standard;
    const QByteArray lineEnd = "the record holds CR or LF, which would end its line";
    const QByteArray tooShort = "a replay would not send it: 10 characters or fewer";
    const QByteArray notNumber = "a replay would not send it: its characters 3 to 8 are not a number";
    QTest::newRow("framed") << "0900311" + standard << QByteArray();
    QTest::newRow("bare") << standard << QByteArray();
    QTest::newRow("CR in a field") << withField(standard, 9, "A\rB") << lineEnd;
    QTest::newRow("LF in a field, framed") << "0900314" + withField(standard, 9, "A\nB") << lineEnd;
    QTest::newRow("11 characters") << QByteArray("08903043|12") << QByteArray();
    QTest::newRow("10 characters") << QByteArray("08903043|1") << tooShort;
    QTest::newRow("10 characters, framed") << QByteArray("09000100890304312") << tooShort;
    QTest::newRow("letter in characters 3 to 8") << withField(standard, 1, "0890304A") << notNumber;
    QTest::newRow("byte-order mark") << "\xef\xbb\xbf" + standard << notNumber;
    QTest::newRow("52 separators") << QByteArray(52, '|') << notNumber;
    QTest::newRow("blank characters 3 and 4") << withField(standard, 1, "08  3043") << QByteArray("a replay would not "
                                                                                              "send it: its characters 3 and 4 are not a number");
    QTest::newRow("wrong code") << "0990311" + standard << QByteArray("a replay would frame its record with another header");
}

void tst_PacketCheck::notCaptured()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, why);

    QCOMPARE(whyNotCaptured(PacketCheck::check(packet)), why);
}

QTEST_GUILESS_MAIN(tst_PacketCheck)
#include "tst_packetcheck.moc"
