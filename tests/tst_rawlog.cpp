// The RAWLOG reader and the sending of the record it leaves behind.

#include "ReplaySupport.h"

#include "DataFile/TCPIPNDserver.h"
#include "platform/PlatformError.h"
#include "testpackets/TestRecords.h"

namespace {

const QByteArray Stamp = "2007-11-14 13:38:24";
const QByteArray NotValid = "SRLP: Not a valid record";
const QByteArray NonNumeric = "SRLP: Unable to send packet. Header is Non Numeric";
const QByteArray EndOfData = "SRLP: End of data file";

// A log line in the expected form: timestamp, two more fields, record.
QByteArray logLine(const QByteArray &record)
{
    return Stamp + "\tRX\t1\t" + record;
}

// A first field of `length` characters that begins with the timestamp.
QByteArray stampedField(qsizetype length)
{
    return Stamp + QByteArray(length - Stamp.size(), 'x');
}

} // namespace

class tst_RawLog : public QObject
{
    Q_OBJECT

private slots:
    void oneLine_data();
    void oneLine();
    void countAndRecordFromLineToLine();
    void recordCountStopsAtItsMaximum();
    void everyLineEndIsRead();
    void endOfFile();
    void emptyFile();
    void channelNotOpen();
    void reopenStartsAtTheFirstLine();
    void sendRecordResults_data();
    void sendRecordResults();
    void sendRecordLogsTheFramedRecord();
    void shortRecordsAreNotSent_data();
    void shortRecordsAreNotSent();
    void sendRecordAfterRead();
    void unframableRecordIsNotSent();
    void linesOfAndOverTheLimit();
};

void tst_RawLog::oneLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("logged"); // the one log line of a rejection
    QTest::addColumn<QByteArray>("record"); // CurrentRecord of an accepted line

    const QByteArray standard = TestRecords::Standard;
    QTest::newRow("three fields, Standard record") << logLine(standard) << true << QByteArray() << standard;
    QTest::newRow("empty line") << QByteArray() << false << NotValid << QByteArray();
    QTest::newRow("record without log fields") << standard << false << NotValid << QByteArray();
    QTest::newRow("impossible timestamp") << "2007-13-14 13:38:24\tRX\t1\t" + standard << false << NotValid
                                          << QByteArray();
    QTest::newRow("date without time, then TAB") << "2007-11-14\tRX\t1\t" + standard << false << NotValid
                                                 << QByteArray();
    QTest::newRow("one TAB") << Stamp + "\t" + standard << true << QByteArray() << standard;
    QTest::newRow("two TABs") << Stamp + "\tRX\t" + standard << true << QByteArray() << standard;
    QTest::newRow("five TABs") << logLine("08903043|a\tb|c\t") << true << QByteArray()
                               << QByteArray("08903043|a\tb|c\t");
    QTest::newRow("no TAB: test on the timestamp") << Stamp << false << NonNumeric << QByteArray();
    QTest::newRow("third TAB is the last character") << logLine("") << false << NonNumeric << QByteArray();

    // The TAB that ends a field must lie within the first 100 characters.
    QTest::newRow("first TAB at 99") << stampedField(98) + "\tRX\t1\t" + standard << true << QByteArray()
                                     << standard;
    QTest::newRow("first TAB at 100") << stampedField(99) + "\tRX\t1\t" + standard << true << QByteArray()
                                      << standard;
    QTest::newRow("first TAB at 101") << stampedField(100) + "\tRX\t1\t" + standard << false << NonNumeric
                                      << QByteArray();
    QTest::newRow("second TAB at 99") << Stamp + "\t" + QByteArray(98, '5') + "\t1\t" + standard << true
                                      << QByteArray() << standard;
    QTest::newRow("second TAB at 100") << Stamp + "\t" + QByteArray(99, '5') + "\t1\t" + standard << true
                                       << QByteArray() << standard;
    QTest::newRow("second TAB at 101") << Stamp + "\t" + QByteArray(100, '5') + "\t1\t" + standard << true
                                       << QByteArray() << QByteArray(100, '5') + "\t1\t" + standard;
    QTest::newRow("third TAB at 99") << Stamp + "\tRX\t" + QByteArray(98, '7') + "\t" + standard << true
                                     << QByteArray() << standard;
    QTest::newRow("third TAB at 100") << Stamp + "\tRX\t" + QByteArray(99, '7') + "\t" + standard << true
                                      << QByteArray() << standard;
    QTest::newRow("third TAB at 101") << Stamp + "\tRX\t" + QByteArray(100, '7') + "\t" + standard << true
                                      << QByteArray() << QByteArray(100, '7') + "\t" + standard;

    // Characters 3 to 8 of the record.
    QTest::newRow("| at character 5") << logLine("0012|4567890123") << false << NonNumeric << QByteArray();
    QTest::newRow("| at character 8") << logLine("1234567|9abcdef") << false << NonNumeric << QByteArray();
    QTest::newRow("| at character 9") << logLine("12345678|abcdef") << true << QByteArray()
                                      << QByteArray("12345678|abcdef");
    QTest::newRow("letters") << logLine("08ABCDEF|") << false << NonNumeric << QByteArray();
    QTest::newRow("inner blank") << logLine("089 3043|x") << false << NonNumeric << QByteArray();
    QTest::newRow("blanks around the digits") << logLine("08 9030 |x") << true << QByteArray()
                                              << QByteArray("08 9030 |x");
    QTest::newRow("record of 1") << logLine("5") << false << NonNumeric << QByteArray();
    QTest::newRow("record of 2") << logLine("12") << false << NonNumeric << QByteArray();
    QTest::newRow("record of 3") << logLine("123") << true << QByteArray() << QByteArray("123");
    QTest::newRow("record of 4") << logLine("1234") << true << QByteArray() << QByteArray("1234");
    QTest::newRow("record of 8") << logLine("12345678") << true << QByteArray() << QByteArray("12345678");

    // Taken verbatim.
    const QByteArray bytes("08903043|\0\xe9\xff|x", 14);
    QTest::newRow("8-bit bytes and NUL") << logLine(bytes) << true << QByteArray() << bytes;
    QTest::newRow("blanks kept") << logLine(" 0903043| end  ") << true << QByteArray()
                                 << QByteArray(" 0903043| end  ");
    QTest::newRow("8-bit fields removed") << Stamp + QByteArray("\t\xff\0\t\x80\t", 6) + standard << true
                                          << QByteArray() << standard;
}

void tst_RawLog::oneLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, logged);
    QFETCH(QByteArray, record);

    const QByteArray previous = TestRecords::NoAdd;
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine(previous), line})));
    ReplayState &s = replay.data.state();

    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>());
    QCOMPARE(s.RecordCount, qint16(1));
    QCOMPARE(s.CurrentRecord, previous);

    // Sequence state that a rejection clears and an accepted line keeps.
    s.PartState[0] = {0, -1, 7};
    s.PartState[3] = {0, -1, 42};
    s.PartText[3] = "kept";
    s.ExpectedPart = 3;
    s.TerminalId = 42;
    s.PartTotal = 5;
    s.PartNumber = 3;
    s.SequenceComplete = -1;

    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(accepted ? -1 : 0));
    QCOMPARE(replay.host.takeLog(), accepted ? QList<QByteArray>() : QList<QByteArray>{logged});
    QCOMPARE(s.RecordCount, qint16(accepted ? 2 : 0));
    QCOMPARE(s.CurrentRecord, accepted ? record : previous);
    QCOMPARE(s.ExpectedPart, qint16(accepted ? 3 : 0));
    QCOMPARE(s.TerminalId, qint16(accepted ? 42 : 0));
    QCOMPARE(s.PartTotal, qint16(accepted ? 5 : 0));
    QCOMPARE(s.PartState[3][ReplayState::Received], qint16(accepted ? -1 : 0));
    QCOMPARE(s.PartState[3][ReplayState::Terminal], qint16(accepted ? 42 : 0));
    // Never touched by the reader or the reset.
    QCOMPARE(s.PartNumber, qint16(3));
    QCOMPARE(s.SequenceComplete, qint16(-1));
    QCOMPARE(s.PartText[3], QByteArray("kept"));
    QCOMPARE(s.PartState[0][ReplayState::Received], qint16(-1));
    QCOMPARE(s.PartState[0][ReplayState::Terminal], qint16(7));
    QVERIFY(!replay.data.takeEndOfData());
    QCOMPARE(replay.host.packets, QList<QByteArray>());
}

void tst_RawLog::countAndRecordFromLineToLine()
{
    const QByteArray first = TestRecords::Standard;
    const QByteArray second = TestRecords::Min;
    const QByteArray third = TestRecords::Max;
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine(first), logLine(second), "garbage", logLine("1|"), logLine(third)})));
    const ReplayState &s = replay.data.state();

    struct Step
    {
        qint16 result;
        QList<QByteArray> log;
        qint16 count;
        QByteArray record;
    };
    const QList<Step> steps = {
        {-1, {}, 1, first},
        {-1, {}, 2, second},
        {0, {NotValid}, 0, second},
        {0, {NonNumeric}, 0, second},
        {-1, {}, 1, third},
        {0, {EndOfData}, 1, third},
    };
    // One comparison per line, so that a failure names the line and shows all of it.
    const auto outcome = [](qsizetype line, qint16 result, const QList<QByteArray> &log, qint16 count,
                            const QByteArray &record) {
        return "line " + QByteArray::number(line) + " returns " + QByteArray::number(result) + "; log {"
               + log.join(" / ") + "}; RecordCount " + QByteArray::number(count) + "; CurrentRecord \""
               + record + '"';
    };
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        const qint16 result = replay.data.ReadRawLogRecord();
        QCOMPARE(outcome(i + 1, result, replay.host.takeLog(), s.RecordCount, s.CurrentRecord),
                 outcome(i + 1, step.result, step.log, step.count, step.record));
    }
}

void tst_RawLog::recordCountStopsAtItsMaximum()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine("11111111"), logLine("22222222")})));
    replay.data.state().RecordCount = 32766;
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.data.state().RecordCount, qint16(32767));
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.data.state().RecordCount, qint16(32767));
    QCOMPARE(replay.data.state().CurrentRecord, QByteArray("22222222"));
    QCOMPARE(replay.host.logLines, QList<QByteArray>());
}

void tst_RawLog::everyLineEndIsRead()
{
    Replay replay;
    QVERIFY(replay.open(logLine("11111111") + "\r" + logLine("22222222") + "\n" + logLine("33333333") + "\r\n"
                        + logLine("44444444")));
    for (const QByteArray record : {"11111111", "22222222", "33333333", "44444444"}) {
        QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
        QCOMPARE(replay.data.state().CurrentRecord, record);
    }
    QCOMPARE(replay.data.state().RecordCount, qint16(4));
    QCOMPARE(replay.host.logLines, QList<QByteArray>());
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
}

void tst_RawLog::endOfFile()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine(TestRecords::Standard)})));
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QVERIFY(!replay.data.takeEndOfData());

    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
    QCOMPARE(replay.data.state().CurrentRecord, TestRecords::Standard);
    QVERIFY(replay.data.takeEndOfData());
    QVERIFY(!replay.data.takeEndOfData());

    // Every further read finds the end again.
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
    QVERIFY(replay.data.takeEndOfData());
    QVERIFY(!replay.data.takeEndOfData());
    QCOMPARE(replay.host.packets, QList<QByteArray>());
}

void tst_RawLog::emptyFile()
{
    Replay replay;
    QVERIFY(replay.open(QByteArray()));
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
    QVERIFY(replay.data.takeEndOfData());
    QCOMPARE(replay.data.state().RecordCount, qint16(0));
    QCOMPARE(replay.data.state().CurrentRecord, QByteArray());
}

void tst_RawLog::channelNotOpen()
{
    // Never opened.
    {
        FakeHost host;
        DataFile data(host);
        QVERIFY(!data.takeEndOfData());
        QCOMPARE(data.ReadRawLogRecord(), qint16(0));
        QCOMPARE(host.takeLog(), QList<QByteArray>{EndOfData});
        QVERIFY(data.takeEndOfData());
        QVERIFY(!data.takeEndOfData());
    }
    // Opening failed.
    {
        Replay replay;
        QVERIFY(replay.dir.isValid());
        replay.host.dialog.choose(replay.dir.filePath(QStringLiteral("missing.dat")));
        replay.data.OpenDataFile(replay.host);
        QVERIFY(!replay.data.isDataFileOpen());
        const QList<QByteArray> opening = replay.host.takeLog();
        QCOMPARE(opening.size(), 1);
        QVERIFY2(opening.first().startsWith("Unable to open log file, windows reports: "), opening.first().constData());
        QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
        QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
        QVERIFY(replay.data.takeEndOfData());
    }
    // Closed after reading.
    {
        Replay replay;
        QVERIFY(replay.open(dataFileText({logLine("11111111"), logLine("22222222")})));
        QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
        replay.data.closeDataFile();
        QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
        QCOMPARE(replay.host.takeLog(), QList<QByteArray>{EndOfData});
        QVERIFY(replay.data.takeEndOfData());
        QCOMPARE(replay.data.state().CurrentRecord, QByteArray("11111111"));
        QCOMPARE(replay.data.state().RecordCount, qint16(1));
    }
}

void tst_RawLog::reopenStartsAtTheFirstLine()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine("11111111"), logLine("22222222")})));
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    replay.data.closeDataFile();
    replay.data.OpenDataFile(replay.host);
    QVERIFY(replay.data.isDataFileOpen());
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.data.state().CurrentRecord, QByteArray("11111111"));
    QCOMPARE(replay.data.state().RecordCount, qint16(2));
    QCOMPARE(replay.host.logLines, QList<QByteArray>());
}

void tst_RawLog::sendRecordResults_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("logged");

    QTest::newRow("sent") << int(SendResult::Sent) << "RSFP: Data Sent: " + TestRecords::Standard;
    QTest::newRow("busy") << int(SendResult::Busy) << "RSFP: Link busy, not sent: " + TestRecords::Standard;
    QTest::newRow("no connection") << int(SendResult::NoConnection)
                                   << "RSFP: No connection, not sent: " + TestRecords::Standard;
}

void tst_RawLog::sendRecordResults()
{
    QFETCH(int, result);
    QFETCH(QByteArray, logged);

    FakeHost host;
    host.result = SendResult(result);
    DataFile data(host);
    data.state().CurrentRecord = TestRecords::Standard;
    data.state().RecordCount = 4;

    const QByteArray packet = "090" "0311" + TestRecords::Standard;
    QCOMPARE(data.SendRecord(), packet);
    QCOMPARE(host.packets, QList<QByteArray>{packet});
    QCOMPARE(host.logLines, QList<QByteArray>{logged});
    QCOMPARE(data.state().CurrentRecord, TestRecords::Standard);
    QCOMPARE(data.state().RecordCount, qint16(4));
}

void tst_RawLog::sendRecordLogsTheFramedRecord()
{
    FakeHost host;
    DataFile data(host);
    data.state().CurrentRecord = TestRecords::NoAdd;
    host.duringSend = [&] { data.state().CurrentRecord = TestRecords::Standard; };

    const QByteArray packet = "010" "0164" + TestRecords::NoAdd;
    QCOMPARE(data.SendRecord(), packet);
    QCOMPARE(host.packets, QList<QByteArray>{packet});
    QCOMPARE(host.logLines, QList<QByteArray>{"RSFP: Data Sent: " + TestRecords::NoAdd});
    QCOMPARE(data.state().CurrentRecord, TestRecords::Standard);
}

void tst_RawLog::shortRecordsAreNotSent_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("1 character") << QByteArray("1") << QByteArray();
    QTest::newRow("1234") << QByteArray("1234") << QByteArray();
    QTest::newRow("10 characters") << QByteArray("0123456789") << QByteArray();
    QTest::newRow("10 characters, no number") << QByteArray("ab|defghij") << QByteArray();
    QTest::newRow("11 characters") << QByteArray("0145abcdefg") << QByteArray("0450011" "0145abcdefg");
}

void tst_RawLog::shortRecordsAreNotSent()
{
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, packet);

    FakeHost host;
    DataFile data(host);
    data.state().CurrentRecord = record;
    QCOMPARE(data.SendRecord(), packet);
    QCOMPARE(host.packets, packet.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{packet});
    QCOMPARE(host.logLines,
             packet.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{"RSFP: Data Sent: " + record});
}

void tst_RawLog::sendRecordAfterRead()
{
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine(TestRecords::Standard), logLine("1234"), "bad"})));
    const QByteArray packet = "090" "0311" + TestRecords::Standard;

    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.data.SendRecord(), packet);
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>{packet});
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{"RSFP: Data Sent: " + TestRecords::Standard});

    // Accepted, then too short to send.
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(-1));
    QCOMPARE(replay.data.SendRecord(), QByteArray());
    QCOMPARE(replay.host.takePackets(), QList<QByteArray>());
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>());

    // A rejected line leaves the short record in place.
    QCOMPARE(replay.data.ReadRawLogRecord(), qint16(0));
    QCOMPARE(replay.host.takeLog(), QList<QByteArray>{NotValid});
    QCOMPARE(replay.data.state().CurrentRecord, QByteArray("1234"));
}

void tst_RawLog::unframableRecordIsNotSent()
{
    FakeHost host;
    DataFile data(host);
    data.state().CurrentRecord = "01ab|defghij";
    int number = 0;
    try {
        data.SendRecord();
    } catch (const PlatformError &failure) {
        number = failure.number;
    }
    QCOMPARE(number, ErrorNumber::TypeMismatch);
    QCOMPARE(host.packets, QList<QByteArray>());
    QCOMPARE(host.logLines, QList<QByteArray>());
}

// A line of exactly the limit is one record however it meets the read
// chunks; a longer one is rejected whole, nothing of it sent, and the next
// line is read as usual.
void tst_RawLog::linesOfAndOverTheLimit()
{
    const qsizetype limit = TextInput::DefaultMaxLineLength;
    const QByteArray atLimit = "08903043|" + QByteArray(limit - logLine("08903043|").size(), 'y');
    const QByteArray overLimit = "08903043|" + QByteArray(limit, 'z');
    QCOMPARE(logLine(atLimit).size(), limit);
    Replay replay;
    QVERIFY(replay.open(dataFileText({logLine(atLimit), logLine(TestRecords::Standard), logLine(overLimit),
                                      logLine(TestRecords::Min)})));

    struct Period
    {
        QList<QByteArray> log;
        QList<QByteArray> packets;
    };
    const QByteArray tooLong = "SRLP: Line too long: " + QByteArray::number(logLine(overLimit).size())
                               + " bytes, at most 1048576 allowed";
    const QList<Period> periods = {
        {{"RSFP: Data Sent: " + atLimit}, {"090" + QByteArray::number(atLimit.size()) + atLimit}},
        {{"RSFP: Data Sent: " + TestRecords::Standard}, {"0900311" + TestRecords::Standard}},
        {{tooLong}, {}},
        {{"RSFP: Data Sent: " + TestRecords::Min}, {"0900120" + TestRecords::Min}},
        {{EndOfData}, {}},
    };
    for (qsizetype i = 0; i < periods.size(); ++i) {
        replay.data.ReadAndSendPeriod(DataFormat::RawLog, [] { return true; });
        // Sizes first: a failure then names the period without printing megabytes.
        const QList<QByteArray> log = replay.host.takeLog();
        const QList<QByteArray> packets = replay.host.takePackets();
        QCOMPARE(QByteArray::number(i + 1) + ": " + QByteArray::number(log.size()) + " log lines, "
                     + QByteArray::number(packets.size()) + " packets",
                 QByteArray::number(i + 1) + ": " + QByteArray::number(periods[i].log.size()) + " log lines, "
                     + QByteArray::number(periods[i].packets.size()) + " packets");
        QVERIFY(log == periods[i].log);
        QVERIFY(packets == periods[i].packets);
    }
    QCOMPARE(replay.data.counts().recordsRead, 3);
    QCOMPARE(replay.data.counts().linesRejected, 1);
    QCOMPARE(replay.data.state().RecordCount, qint16(1));
}

QTEST_GUILESS_MAIN(tst_RawLog)
#include "tst_rawlog.moc"
