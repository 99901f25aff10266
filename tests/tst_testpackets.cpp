#include "TestSupport.h"

#include "testpackets/FieldTable.h"
#include "testpackets/TestRecords.h"

#include <QPushButton>

namespace {

// The five records as they are to go on the wire, written out once here.
const QByteArray StandardText =
    "08903043|890302|2007-11-14|13:38:24|0355500101|A|Tavo|Pelmarsh|The News Reader|Mr|RM|33|B|34|B|FL|"
    "385|C|Main Building||101||102||0|1|B|Corvanna|St|||||MELLIS|Central Melbourne|VIC|3393|LE||AAA|"
    "The Quenderwick TV Station||5955500202||TELSTR|1999-12-31 11:11:00|1999-09-09 09:09:00|T|993|"
    "FIXED NETWORK VIC|VIC|F|F";
const QByteArray NoAddText =
    "00101573|10306|2007-11-14|13:41:06|0355500303||||*Address Not Available*||||||||||||||||0|1||||||||"
    "*Address Not Available*|||||||||||||||993|FIXED NETWORK VIC|VIC||";
const QByteArray LongText =
    "99906883|9990304|2007-11-14|13:39:44|0355500404|A|MORVANEQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|"
    "TOZQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|"
    "GALDERISISMYMIDDLENAMEQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|MRQQQQQQQQQW|"
    "ATQQQW|10QQW|Q|11QQW|Q|QW|QQQW|Q|THE_HOUSE_QQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|"
    "NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW|22QQW|QWW|12QQW|W|0|1|W|ELGINQQQQQQQQQQQQQQQQQQQW|RDQQQQQW|QQQQQW|"
    "MACQUARIEQQQQQQQQQQQQQQQW|STQW|QW|MELWOODQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|"
    "HOPETOWNQQQQQQQQQQQQQQQQW|VIC|3875|TT|T||MORQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|"
    "GALQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQW|0355500505QQQQQQQQQW||TELSTR|1998-04-03 12:34:56|"
    "1998-05-24 12:34:56|T|993|FIXED NETWORK VIC|VIC|T|T";
const QByteArray MinText =
    "09901133|990303|2007-11-14|13:39:23|0491570156||||||||||||||||||||0|1||||||||||||||MOBIL|||||MNET|||"
    "|034|MELBOURNE|VIC||";
const QByteArray MaxText =
    "99907063|9990305|2007-11-14|13:40:06|03555006060000000009|X|"
    "CUST_NAME_1CUST_NAME_1CUST_NAME_1CUST_NZ|CUST_NAME_2CUST_NAME_2CUST_NAME_2CUST_NZ|"
    "LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAME_LONG_NAMEZ|CUST_TITLE_Z|"
    "TYPE_Z|50009|X|50009|X|FZ|0129|X|BLDG_PROPERTY_BLDG_PROPERTY_BLDG_PROPERZ|"
    "BLDG_LOCTNABCDEFGHIJKLMNOPQRSZ|50009|019|01239|X|0|1|X|ST_NAME_1ABCDEFGHIJKLMNOZ|ST_TYPEZ|ST_SFZ|"
    "ST_NAME_ST_NAME_2STREET_Z|ST_Z|AZ|LOCALITY_LOCALITY_LOCALITY_LOCALITY_LOCZ|"
    "DISTRICT_DISTRICT_DISTRIZ|ABZ|0129|LZ|X|STYPZ|CUST_CONTACT_NAME_1CUST_CONTACT_NAME_1CZ|"
    "CUST_CONTACT_NAME_2CUST_CONTACT_NAME_2CZ|09876543200000000009|309|TELSTR|1995-12-31 11:11:00|"
    "1995-12-09 11:11:00|X|993|FIXED NETWORK VIC|VIC|X|F";

} // namespace

class tst_TestPackets : public QObject
{
    Q_OBJECT

private slots:
    void recordLayout_data();
    void recordLayout();
    void maxRecordFillsEveryField();
    void buttonSendsItsRecordBare_data();
    void buttonSendsItsRecordBare();
};

void tst_TestPackets::recordLayout_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("nonEmptyFields");
    QTest::newRow("Standard") << TestRecords::Standard << StandardText << 311 << 43;
    QTest::newRow("No Add") << TestRecords::NoAdd << NoAddText << 164 << 12;
    QTest::newRow("Long") << TestRecords::Long << LongText << 695 << 51;
    QTest::newRow("Min") << TestRecords::Min << MinText << 120 << 12;
    QTest::newRow("Max") << TestRecords::Max << MaxText << 713 << 53;
}

void tst_TestPackets::recordLayout()
{
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, text);
    QFETCH(int, length);
    QFETCH(int, nonEmptyFields);
    QCOMPARE(record, text);
    QCOMPARE(record.size(), length);
    const QList<QByteArray> fields = record.split('|');
    QCOMPARE(fields.size(), FieldTable::FieldCount);
    int filled = 0;
    for (int i = 0; i < fields.size(); ++i) {
        filled += fields[i].isEmpty() ? 0 : 1;
        QVERIFY2(fields[i].size() <= FieldTable::fields()[std::size_t(i)].width, qPrintable(QString::number(i + 1)));
    }
    QCOMPARE(filled, nonEmptyFields);
}

void tst_TestPackets::maxRecordFillsEveryField()
{
    const QList<QByteArray> fields = TestRecords::Max.split('|');
    int sum = 0;
    for (int i = 0; i < fields.size(); ++i) {
        QCOMPARE(fields[i].size(), FieldTable::fields()[std::size_t(i)].width);
        sum += FieldTable::fields()[std::size_t(i)].width;
    }
    QCOMPARE(sum, 661);
    QCOMPARE(fields[6], QByteArray("CUST_NAME_1CUST_NAME_1CUST_NAME_1CUST_NZ"));
    const QList<QByteArray> longFields = TestRecords::Long.split('|');
    QCOMPARE(longFields[19], QByteArray("NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW"));
    QCOMPARE(longFields[21], QByteArray("QWW"));
    QCOMPARE(TestRecords::NoAdd.split('|')[8], QByteArray("*Address Not Available*"));
}

void tst_TestPackets::buttonSendsItsRecordBare_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("Standard") << "cmdStandard" << StandardText;
    QTest::newRow("No Add") << "cmdNoAdd" << NoAddText;
    QTest::newRow("Long") << "cmdLongAdd" << LongText;
    QTest::newRow("Min") << "cmdMinAdd" << MinText;
    QTest::newRow("Max") << "cmdMaxAdd" << MaxText;
}

void tst_TestPackets::buttonSendsItsRecordBare()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, record);
    FixedClock clock;
    TestServer server;
    server.replyAfter = record.size();
    auto window = makeLoopbackWindow(server, clock);
    auto *pushButton = window->findChild<QPushButton *>(button);
    QVERIFY(pushButton);

    QTest::mouseClick(pushButton, Qt::LeftButton);
    QTRY_COMPARE(window->Processed, 1);
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QTRY_COMPARE(window->Processed, 2);

    QCOMPARE(server.connectionCount(), 2);
    QCOMPARE(server.received(0), record);
    QCOMPARE(server.received(1), record);
    QCOMPARE(logLineCount(*window), 6);
}

QTEST_MAIN(tst_TestPackets)
#include "tst_testpackets.moc"
