#include "TestSupport.h"

#include "testpackets/FieldTable.h"
#include "testpackets/TestRecords.h"

#include <QPushButton>

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
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("nonEmptyFields");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("Standard") << TestRecords::Standard << 311 << 43 << QByteArray("08903043|") << QByteArray("|F|F");
    QTest::newRow("No Add") << TestRecords::NoAdd << 164 << 12 << QByteArray("00101573|") << QByteArray("VIC||");
    QTest::newRow("Long") << TestRecords::Long << 695 << 51 << QByteArray("99906883|") << QByteArray("|T|T");
    QTest::newRow("Min") << TestRecords::Min << 120 << 12 << QByteArray("09901133|") << QByteArray("VIC||");
    QTest::newRow("Max") << TestRecords::Max << 713 << 53 << QByteArray("99907063|") << QByteArray("|X|F");
}

void tst_TestPackets::recordLayout()
{
    QFETCH(QByteArray, record);
    QFETCH(int, length);
    QFETCH(int, nonEmptyFields);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QCOMPARE(record.size(), length);
    QVERIFY(record.startsWith(head));
    QVERIFY(record.endsWith(tail));
    const QList<QByteArray> fields = record.split('|');
    QCOMPARE(fields.size(), FieldTable::FieldCount);
    int filled = 0;
    for (int i = 0; i < fields.size(); ++i) {
        filled += fields[i].isEmpty() ? 0 : 1;
        QVERIFY2(fields[i].size() <= FieldTable::fields()[std::size_t(i)].width, qPrintable(QString::number(i + 1)));
    }
    QCOMPARE(filled, nonEmptyFields);
    for (char c : record)
        QVERIFY(c >= 0x20 && c < 0x7f);
    QCOMPARE(fields[2], QByteArray("2007-11-14"));
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
    QTest::newRow("Standard") << "cmdStandard" << TestRecords::Standard;
    QTest::newRow("No Add") << "cmdNoAdd" << TestRecords::NoAdd;
    QTest::newRow("Long") << "cmdLongAdd" << TestRecords::Long;
    QTest::newRow("Min") << "cmdMinAdd" << TestRecords::Min;
    QTest::newRow("Max") << "cmdMaxAdd" << TestRecords::Max;
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
