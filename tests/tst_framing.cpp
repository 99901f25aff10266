// FramedPacket: packet code, record length, record.

#include "DataFile/Framing.h"
#include "platform/PlatformError.h"
#include "testpackets/TestRecords.h"

#include <QByteArray>
#include <QtTest>

namespace {

// A record of the given length: characters 3 and 4 are `code`, the rest
// cycles through printable characters.
QByteArray recordWith(const QByteArray &code, qsizetype length)
{
    QByteArray record = "ab" + code;
    for (qsizetype i = 0; record.size() < length; ++i)
        record.append(char('A' + i % 26));
    return record.left(length);
}

// The failure number thrown by packetCode, or 0 when it gave a code.
int packetCodeFailure(const QByteArray &record, QByteArray *code = nullptr)
{
    try {
        const QByteArray result = Framing::packetCode(record);
        if (code)
            *code = result;
        return 0;
    } catch (const PlatformError &failure) {
        return failure.description.isEmpty() ? -1 : failure.number;
    }
}

} // namespace

class tst_Framing : public QObject
{
    Q_OBJECT

private slots:
    void framedPackets_data();
    void framedPackets();
    void packetCodes_data();
    void packetCodes();
    void recordLengths_data();
    void recordLengths();
    void unframableRecordThrows();
};

void tst_Framing::framedPackets_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("packet");

    const QByteArray eleven = "0145abcdefg";
    QTest::newRow("10 characters: not sent") << QByteArray("0145abcdef") << QByteArray();
    QTest::newRow("1 character: not sent") << QByteArray("0") << QByteArray();
    QTest::newRow("empty: not sent") << QByteArray() << QByteArray();
    QTest::newRow("10 characters, bad code: not sent") << QByteArray("01ab|defgh") << QByteArray();
    QTest::newRow("11 characters") << eleven << "045" "0011" + eleven;
    QTest::newRow("NoAdd record") << TestRecords::NoAdd << "010" "0164" + TestRecords::NoAdd;
    QTest::newRow("Standard record") << TestRecords::Standard << "090" "0311" + TestRecords::Standard;
    QTest::newRow("Long record") << TestRecords::Long << "090" "0695" + TestRecords::Long;
    QTest::newRow("Min record") << TestRecords::Min << "090" "0120" + TestRecords::Min;
    const QByteArray r9999 = recordWith("77", 9999);
    QTest::newRow("9999 characters") << r9999 << "077" "9999" + r9999;
    const QByteArray r10000 = recordWith("12", 10000);
    QTest::newRow("10000 characters") << r10000 << "012" "10000" + r10000;
    const QByteArray binary = QByteArray("0008\0\xff\x80|xyzw", 12);
    QTest::newRow("bytes kept") << binary << "008" "0012" + binary;
}

void tst_Framing::framedPackets()
{
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, packet);

    const QByteArray framed = Framing::framePacket(record);
    QCOMPARE(framed, packet);
    if (!packet.isEmpty()) {
        const qsizetype header = record.size() >= 10000 ? 8 : 7;
        QCOMPARE(framed.size(), header + record.size());
        QCOMPARE(framed.mid(header), record);
    }
}

void tst_Framing::packetCodes_data()
{
    QTest::addColumn<QByteArray>("characters"); // characters 3 and 4 of the record
    QTest::addColumn<QByteArray>("code");       // empty: failure 13

    QTest::newRow("08") << QByteArray("08") << QByteArray("008");
    QTest::newRow("90") << QByteArray("90") << QByteArray("090");
    QTest::newRow("10") << QByteArray("10") << QByteArray("010");
    QTest::newRow("45") << QByteArray("45") << QByteArray("045");
    QTest::newRow("00") << QByteArray("00") << QByteArray("000");
    QTest::newRow("99") << QByteArray("99") << QByteArray("099");
    QTest::newRow("blank first") << QByteArray(" 5") << QByteArray("005");
    QTest::newRow("blank second") << QByteArray("5 ") << QByteArray("005");
    QTest::newRow("plus") << QByteArray("+5") << QByteArray("005");
    QTest::newRow("minus") << QByteArray("-5") << QByteArray("-005");
    QTest::newRow("minus zero") << QByteArray("-0") << QByteArray("000");
    QTest::newRow(".5 rounds to even 0") << QByteArray(".5") << QByteArray("000");
    QTest::newRow(".4") << QByteArray(".4") << QByteArray("000");
    QTest::newRow(".6") << QByteArray(".6") << QByteArray("001");
    QTest::newRow("5.") << QByteArray("5.") << QByteArray("005");
    QTest::newRow("one character left") << QByteArray("7") << QByteArray("007");

    QTest::newRow("letters") << QByteArray("ab") << QByteArray();
    QTest::newRow("digit and |") << QByteArray("1|") << QByteArray();
    QTest::newRow("| and digit") << QByteArray("|1") << QByteArray();
    QTest::newRow("two blanks") << QByteArray("  ") << QByteArray();
    QTest::newRow("sign alone") << QByteArray("-") << QByteArray();
    QTest::newRow("sign and blank") << QByteArray("- ") << QByteArray();
    QTest::newRow("point alone") << QByteArray(".") << QByteArray();
    QTest::newRow("nothing left") << QByteArray() << QByteArray();
}

void tst_Framing::packetCodes()
{
    QFETCH(QByteArray, characters);
    QFETCH(QByteArray, code);

    // As characters 3 and 4 of a short record, and of a long one.
    for (const QByteArray &record : {"ab" + characters, "ab" + characters + "|rest of the record"}) {
        if (characters.size() < 2 && record.size() > 4)
            continue; // characters 3 and 4 would include the rest
        QByteArray result;
        const int failure = packetCodeFailure(record, &result);
        if (code.isEmpty()) {
            QCOMPARE(failure, ErrorNumber::TypeMismatch);
        } else {
            QCOMPARE(failure, 0);
            QCOMPARE(result, code);
        }
    }
}

void tst_Framing::recordLengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("0") << 0 << QByteArray("0000");
    QTest::newRow("11") << 11 << QByteArray("0011");
    QTest::newRow("164") << 164 << QByteArray("0164");
    QTest::newRow("311") << 311 << QByteArray("0311");
    QTest::newRow("9999") << 9999 << QByteArray("9999");
    QTest::newRow("10000") << 10000 << QByteArray("10000");
    QTest::newRow("123456") << 123456 << QByteArray("123456");
}

void tst_Framing::recordLengths()
{
    QFETCH(int, length);
    QFETCH(QByteArray, text);
    QCOMPARE(Framing::recordLength(QByteArray(length, 'x')), text);
}

void tst_Framing::unframableRecordThrows()
{
    int number = 0;
    try {
        Framing::framePacket("01ab|defghij");
    } catch (const PlatformError &failure) {
        number = failure.number;
        QVERIFY(!failure.description.isEmpty());
    }
    QCOMPARE(number, ErrorNumber::TypeMismatch);
}

QTEST_GUILESS_MAIN(tst_Framing)
#include "tst_framing.moc"
