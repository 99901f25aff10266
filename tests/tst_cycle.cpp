#include "TestSupport.h"

#include "testpackets/TestRecords.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

QByteArray rawLine(const QByteArray &record)
{
    return "2007-11-14 13:38:24\tTCPIN\t127.0.0.1:50003\t" + record;
}

const QByteArray DefaultPathText = "c:\\logs\\logs\\ipnd.dat";

} // namespace

class tst_Cycle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstPeriodIsOneTickLongerThenOneRecordPerPeriod();
    void stopClosesTheFileAndFreezesTheCycle();
    void restartOffersTheDefaultAndReadsTheNewFileFromItsFirstLine();
    void startWithEachDialogOutcome_data();
    void startWithEachDialogOutcome();
    void stopAfterAFailedOpenIsHarmless();
    void openDialogBoxHandsTheChoiceBack_data();
    void openDialogBoxHandsTheChoiceBack();
    void periodTextOnLosingFocus_data();
    void periodTextOnLosingFocus();
    void shorterPeriodAppliesToThePeriodUnderWay();
    void zeroOrNegativePeriodCompletesEveryTick_data();
    void zeroOrNegativePeriodCompletesEveryTick();
    void countUsedUpKeepsCountingButSendsNothing();
    void rejectedLineUsesUpItsPeriod();
    void busyLinkIsLoggedAsNotSent();
    void sendFailureDuringATickIsLoggedAndTheCycleGoesOn();
    void stopDuringTheSendWaitReadsNoFurther();
    void tickNestedInTheWaitThatEndsTheFileStopsTheWaitingPeriodToo();
    void rawLogReplayEndToEnd();
    void multiPacketReplayEndToEnd();
    void shippedExamplesReplayAllFiveRecords_data();
    void shippedExamplesReplayAllFiveRecords();

private:
    QString writeDataFile(const QString &name, const QByteArray &content);
    std::unique_ptr<frmIPNDTCPServer> makeWindow(const QString &inputMode);
    void start(const QString &path);
    void tick(int times = 1);
    void tickUntilStopped();
    void setPeriod(const QString &text);
    QList<QByteArray> newest(int n) const { return newestLogTexts(*window, clock, n); }

    QTemporaryDir dir;
    FixedClock clock;
    ScriptedFileDialog dialog;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<frmIPNDTCPServer> window;
};

void tst_Cycle::init()
{
    QVERIFY(dir.isValid());
    dialog = ScriptedFileDialog();
    server = std::make_unique<TestServer>();
    window = makeWindow(QString::fromLatin1(RawLogMode));
}

void tst_Cycle::cleanup()
{
    window.reset();
    server.reset();
}

QString tst_Cycle::writeDataFile(const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

std::unique_ptr<frmIPNDTCPServer> tst_Cycle::makeWindow(const QString &inputMode)
{
    WindowSettings settings;
    settings.fileDialog = &dialog;
    settings.inputMode = inputMode;
    return makeLoopbackWindow(*server, clock, settings);
}

void tst_Cycle::start(const QString &path)
{
    dialog.choose(path);
    QTest::mouseClick(window->RunControl, Qt::LeftButton);
}

void tst_Cycle::tick(int times)
{
    for (int i = 0; i < times; ++i)
        window->Timer1_Timer();
}

// Ticks until the cycle stops itself at the end of the file, letting each
// exchange finish before the next period.
void tst_Cycle::tickUntilStopped()
{
    for (int t = 0; t < 50 && window->cycle().Running; ++t) {
        const int before = server->connectionCount();
        tick();
        if (server->connectionCount() > before)
            QTRY_COMPARE(window->Processed, server->connectionCount());
    }
    QCOMPARE(window->cycle().Running, qint16(0));
}

void tst_Cycle::setPeriod(const QString &text)
{
    window->PktPer->setText(text);
    QFocusEvent focusOut(QEvent::FocusOut);
    QCoreApplication::sendEvent(window->PktPer, &focusOut);
}

void tst_Cycle::firstPeriodIsOneTickLongerThenOneRecordPerPeriod()
{
    const QString path = writeDataFile("ipnd.dat", rawLine(TestRecords::Standard) + '\n' + rawLine(TestRecords::NoAdd) + '\n');
    server->replyAfterSizes = {318, 171};
    start(path);
    QCOMPARE(window->RunControl->text(), QStringLiteral("Stop"));
    QCOMPARE(window->cycle().Running, qint16(-1));
    QCOMPARE(window->lbIPNDfile->text(), path);

    for (int t = 0; t < 5; ++t) {
        tick();
        QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer %1").arg(t));
        QCOMPARE(window->PktNum->text(), QStringLiteral("10000"));
    }
    QCOMPARE(server->connectionCount(), 0);
    QCOMPARE(logLineCount(*window), 0);

    tick();
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 5"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9999"));
    QCOMPARE(newest(1).first(), "RSFP: Data Sent: " + TestRecords::Standard);
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), "0900311" + TestRecords::Standard);

    for (int t = 1; t < 5; ++t) {
        tick();
        QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer %1").arg(t));
    }
    QCOMPARE(server->connectionCount(), 1);
    tick();
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 5"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9998"));
    QTRY_COMPARE(window->Processed, 2);
    QCOMPARE(server->received(1), "0100164" + TestRecords::NoAdd);

    // The period after the last line finds the end of the file and stops the cycle.
    tick(5);
    QCOMPARE(newest(1).first(), QByteArray("SRLP: End of data file"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9997"));
    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->cycle().Running, qint16(0));
    QVERIFY(!window->dataFile().isDataFileOpen());
    const QString logAtEnd = window->eventLog().render();
    tick(12);
    QCOMPARE(window->eventLog().render(), logAtEnd);
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 5"));
    QCOMPARE(server->connectionCount(), 2);
}

void tst_Cycle::stopClosesTheFileAndFreezesTheCycle()
{
    start(writeDataFile("a.dat", rawLine(TestRecords::Min) + '\n'));
    tick(3);
    QVERIFY(window->dataFile().isDataFileOpen());

    QTest::mouseClick(window->RunControl, Qt::LeftButton);

    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->cycle().Running, qint16(0));
    QVERIFY(!window->dataFile().isDataFileOpen());
    tick(10);
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 2"));
    QCOMPARE(window->cycle().TickCount, qint16(3));
    QCOMPARE(window->PktNum->text(), QStringLiteral("10000"));
    QCOMPARE(logLineCount(*window), 0);
}

void tst_Cycle::restartOffersTheDefaultAndReadsTheNewFileFromItsFirstLine()
{
    const QString first = writeDataFile("first.dat", rawLine(TestRecords::Min) + '\n' + rawLine(TestRecords::Max));
    const QString second = writeDataFile("second.dat", rawLine(TestRecords::Long) + '\n');
    server->replyAfterSizes = {127, 702};
    start(first);
    tick(6);
    QTRY_COMPARE(window->Processed, 1);
    QTest::mouseClick(window->RunControl, Qt::LeftButton);

    start(second);
    QCOMPARE(dialog.shown.size(), 2);
    for (const auto &shown : dialog.shown) {
        QCOMPARE(shown.title, QStringLiteral("IPND Data File"));
        QCOMPARE(shown.fileName, QString::fromLatin1(DefaultPathText));
        QCOMPARE(shown.filter, QStringLiteral("Data file (*.dat)|*.dat|All (*.*)|*.*"));
        QVERIFY(shown.cancelError);
    }
    QCOMPARE(window->lbIPNDfile->text(), second);
    // The period count resumes where it stood: Timer 1 to Timer 5, then send.
    tick(4);
    QCOMPARE(server->connectionCount(), 1);
    tick();
    QTRY_COMPARE(window->Processed, 2);
    QCOMPARE(server->received(1), "0900695" + TestRecords::Long);
}

void tst_Cycle::startWithEachDialogOutcome_data()
{
    QTest::addColumn<int>("outcome"); // 0 choose, 1 cancel, 2 other failure, 3 choose a missing file
    QTest::addColumn<bool>("opened");
    QTest::newRow("choose") << 0 << true;
    QTest::newRow("cancel opens the default") << 1 << false;
    QTest::newRow("dialog failure") << 2 << false;
    QTest::newRow("missing file") << 3 << false;
}

void tst_Cycle::startWithEachDialogOutcome()
{
    QFETCH(int, outcome);
    QFETCH(bool, opened);
    const QString existing = writeDataFile("there.dat", rawLine(TestRecords::Min) + '\n');
    const QString missing = dir.filePath("not-there.dat");
    if (outcome == 0)
        dialog.choose(existing);
    if (outcome == 1)
        dialog.cancel();
    if (outcome == 2)
        dialog.fail(20476);
    if (outcome == 3)
        dialog.choose(missing);

    window->RunControl_Click();

    QCOMPARE(window->RunControl->text(), QStringLiteral("Stop"));
    QCOMPARE(window->cycle().Running, qint16(-1));
    QCOMPARE(window->dataFile().isDataFileOpen(), opened);
    if (opened) {
        QCOMPARE(window->lbIPNDfile->text(), existing);
        QCOMPARE(logLineCount(*window), 0);
        return;
    }
    const QByteArray failedPath = outcome == 3 ? missing.toLatin1() : DefaultPathText;
    QCOMPARE(window->lbIPNDfile->text(), QString::fromLatin1(DefaultPathText));
    QCOMPARE(logLineCount(*window), 1);
    QCOMPARE(newest(1).first(), "Unable to open log file, windows reports: File not found: " + failedPath);

    // The first completed period finds no file: one line, nothing sent, and
    // the cycle stops itself.
    tick(6);
    QCOMPARE(newest(1).first(), QByteArray("SRLP: End of data file"));
    QCOMPARE(logLineCount(*window), 2);
    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->cycle().Running, qint16(0));
    QCOMPARE(server->connectionCount(), 0);
}

void tst_Cycle::stopAfterAFailedOpenIsHarmless()
{
    dialog.cancel();
    window->RunControl_Click();
    QCOMPARE(logLineCount(*window), 1);
    window->RunControl_Click();
    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->cycle().Running, qint16(0));
    QCOMPARE(logLineCount(*window), 1);
    tick(8);
    QCOMPARE(logLineCount(*window), 1);
}

void tst_Cycle::openDialogBoxHandsTheChoiceBack_data()
{
    QTest::addColumn<int>("outcome"); // 0 choose, 1 cancel, 2 other failure, 3 choose an empty name
    QTest::addColumn<QString>("source");
    QTest::newRow("choose") << 0 << QStringLiteral("/data/chosen.dat");
    QTest::newRow("cancel") << 1 << QStringLiteral("given.dat");
    QTest::newRow("dialog failure") << 2 << QStringLiteral("given.dat");
    QTest::newRow("empty name chosen") << 3 << QStringLiteral("given.dat");
}

void tst_Cycle::openDialogBoxHandsTheChoiceBack()
{
    QFETCH(int, outcome);
    QFETCH(QString, source);
    const QString chosen = QStringLiteral("/data/chosen.dat");
    if (outcome == 0)
        dialog.choose(chosen);
    if (outcome == 1)
        dialog.cancel();
    if (outcome == 2)
        dialog.fail(20476);
    if (outcome == 3)
        dialog.choose(QString());

    QString name = QStringLiteral("given.dat");
    window->OpenDialogBox(dialog, QStringLiteral("Title"), name, QStringLiteral("A|*.a"));
    QCOMPARE(name, source);
    QCOMPARE(dialog.shown.size(), 1);
    QCOMPARE(dialog.shown[0].fileName, QStringLiteral("given.dat"));
    QCOMPARE(logLineCount(*window), 0);
}

void tst_Cycle::periodTextOnLosingFocus_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint16>("period");
    QTest::addColumn<QByteArray>("logLine");
    QTest::newRow("3") << "3" << qint16(3) << QByteArray();
    QTest::newRow("blanks and sign") << " +7 " << qint16(7) << QByteArray();
    QTest::newRow("-32768") << "-32768" << qint16(-32768) << QByteArray();
    QTest::newRow("empty") << "" << qint16(5)
                           << QByteArray("Period not changed, still 5 ticks: Type mismatch: \"\" is not a whole number");
    QTest::newRow("abc") << "abc" << qint16(5)
                         << QByteArray("Period not changed, still 5 ticks: Type mismatch: \"abc\" is not a whole number");
    QTest::newRow("fraction") << "2.5" << qint16(5)
                              << QByteArray("Period not changed, still 5 ticks: Type mismatch: \"2.5\" is not a whole "
                                            "number");
    QTest::newRow("32768") << "32768" << qint16(5)
                           << QByteArray("Period not changed, still 5 ticks: Overflow: 32768 is outside -32768 to "
                                         "32767");
}

void tst_Cycle::periodTextOnLosingFocus()
{
    QFETCH(QString, text);
    QFETCH(qint16, period);
    QFETCH(QByteArray, logLine);
    setPeriod(text);
    QCOMPARE(window->cycle().PeriodTicks, period);
    QCOMPARE(window->PktPer->text(), text);
    QCOMPARE(logLineCount(*window), logLine.isEmpty() ? 0 : 1);
    if (!logLine.isEmpty())
        QCOMPARE(newest(1).first(), logLine);
}

void tst_Cycle::shorterPeriodAppliesToThePeriodUnderWay()
{
    server->replyAfter = 127;
    start(writeDataFile("a.dat", rawLine(TestRecords::Min) + '\n' + rawLine(TestRecords::Min) + '\n'));
    tick(5); // Timer 0 .. Timer 4: TickCount now 5
    setPeriod(QStringLiteral("3"));
    tick();
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 5"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9999"));
    QTRY_COMPARE(window->Processed, 1);
    tick(2);
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 2"));
    QCOMPARE(server->connectionCount(), 1);
    tick();
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 3"));
    QTRY_COMPARE(window->Processed, 2);
}

void tst_Cycle::zeroOrNegativePeriodCompletesEveryTick_data()
{
    QTest::addColumn<QString>("period");
    QTest::newRow("0") << "0";
    QTest::newRow("-4") << "-4";
}

void tst_Cycle::zeroOrNegativePeriodCompletesEveryTick()
{
    QFETCH(QString, period);
    window = makeWindow(QStringLiteral("NONE")); // a mode that reads nothing
    start(writeDataFile("a.dat", "unused\n"));
    setPeriod(period);
    tick();
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 0"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9999"));
    for (int t = 2; t <= 4; ++t) {
        tick();
        QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 1"));
        QCOMPARE(window->PktNum->text(), QString::number(10000 - t));
    }
    QCOMPARE(logLineCount(*window), 0);
}

void tst_Cycle::countUsedUpKeepsCountingButSendsNothing()
{
    window = makeWindow(QStringLiteral("NONE"));
    start(writeDataFile("a.dat", "unused\n"));
    setPeriod(QStringLiteral("1"));
    tick(); // Timer 0: the first period is one tick longer
    tick(10000);
    QCOMPARE(window->PktNum->text(), QStringLiteral("0"));
    QCOMPARE(window->cycle().PacketsLeft, qint16(0));

    window->PktNum->setText(QStringLiteral("77"));
    tick(3);
    QCOMPARE(window->PktNum->text(), QStringLiteral("77"));
    QCOMPARE(window->timerlabel->text(), QStringLiteral("Timer 1"));
    QCOMPARE(window->cycle().Running, qint16(-1));
    QCOMPARE(window->RunControl->text(), QStringLiteral("Stop"));
}

void tst_Cycle::rejectedLineUsesUpItsPeriod()
{
    server->replyAfter = 127;
    start(writeDataFile("a.dat", "garbage\r\n" + rawLine("ABCDEFGHIJKLMNOP") + "\r\n" + rawLine(TestRecords::Min) + "\r\n"));
    setPeriod(QStringLiteral("1"));
    tick(2);
    QCOMPARE(newest(1).first(), QByteArray("SRLP: Not a valid record"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9999"));
    tick();
    QCOMPARE(newest(1).first(), QByteArray("SRLP: Unable to send packet. Header is Non Numeric"));
    QCOMPARE(window->PktNum->text(), QStringLiteral("9998"));
    QCOMPARE(server->connectionCount(), 0);
    tick();
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), "0900120" + TestRecords::Min);
}

void tst_Cycle::busyLinkIsLoggedAsNotSent()
{
    server->answer = TestServer::Answer::Silent;
    start(writeDataFile("a.dat", rawLine(TestRecords::Standard) + '\n' + rawLine(TestRecords::NoAdd) + '\n'));
    setPeriod(QStringLiteral("1"));
    tick(2);
    QCOMPARE(newest(1).first(), "RSFP: Data Sent: " + TestRecords::Standard);
    QTRY_COMPARE(server->received(0).size(), qsizetype(318));
    tick();
    QCOMPARE(newest(1).first(), "RSFP: Link busy, not sent: " + TestRecords::NoAdd);
    QCOMPARE(window->PktNum->text(), QStringLiteral("9998"));
    QCOMPARE(server->connectionCount(), 1);
}

void tst_Cycle::sendFailureDuringATickIsLoggedAndTheCycleGoesOn()
{
    server->replyAfter = 127;
    start(writeDataFile("a.dat", rawLine(TestRecords::Standard) + '\n' + rawLine(TestRecords::Min) + '\n'));
    setPeriod(QStringLiteral("1"));
    window->txbPort->setText(QStringLiteral("abc"));
    tick(2);
    QCOMPARE(newest(1).first(), QByteArray("Send failed: Type mismatch: \"abc\" is not a whole number (error 13)"));
    QCOMPARE(window->cycle().Running, qint16(-1));
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));

    window->txbPort->setText(QString::number(server->port()));
    tick();
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), "0900120" + TestRecords::Min);
}

// A MULTIPKT period ends after its send whatever the wait served, unless a
// tick nested in the wait ended the file: that case is
// tickNestedInTheWaitThatEndsTheFileStopsTheWaitingPeriodToo.
void tst_Cycle::stopDuringTheSendWaitReadsNoFurther()
{
    server->replyAfter = 127;
    start(writeDataFile("a.dat", rawLine(TestRecords::Min) + '\n' + rawLine(TestRecords::Max) + '\n'));
    setPeriod(QStringLiteral("1"));
    tick();
    // The click is served inside the wait for the connection.
    QTimer::singleShot(0, window.get(), [this] { QTest::mouseClick(window->RunControl, Qt::LeftButton); });
    tick();

    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QCOMPARE(window->cycle().Running, qint16(0));
    QVERIFY(!window->dataFile().isDataFileOpen());
    QCOMPARE(newest(1).first(), "RSFP: Data Sent: " + TestRecords::Min);
    for (const QByteArray &line : newest(logLineCount(*window)))
        QVERIFY2(!line.contains("End of data file") && !line.contains("failed"), line.constData());
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->connectionCount(), 1);
}

void tst_Cycle::tickNestedInTheWaitThatEndsTheFileStopsTheWaitingPeriodToo()
{
    // A one-part record, then the first part of a two-part one, then the end.
    window = makeWindow(QString::fromLatin1(MultiPacketMode));
    server->replyAfter = 127;
    start(writeDataFile("a.dat", "0050101" + TestRecords::Min + "\n0060201" + TestRecords::NoAdd.left(20) + "\n"));
    setPeriod(QStringLiteral("1"));
    tick();
    // Served inside the wait for the first record's connection: it completes a
    // period of its own, reads the part and the end of the file, and stops the
    // cycle. The waiting period must then read no further.
    QTimer::singleShot(0, window.get(), [this] { window->Timer1_Timer(); });
    tick();

    QCOMPARE(window->cycle().Running, qint16(0));
    QCOMPARE(window->RunControl->text(), QStringLiteral("Start"));
    QVERIFY(!window->dataFile().isDataFileOpen());
    const QList<QByteArray> log = newest(logLineCount(*window));
    QCOMPARE(log.count("SFIP: End of data file"), 1);
    QCOMPARE(log.count("SFIP: Part packet:[1]"), 1);
    QCOMPARE(log.first(), "RSFP: Data Sent: " + TestRecords::Min);
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), "0900120" + TestRecords::Min);
}

void tst_Cycle::rawLogReplayEndToEnd()
{
    const QByteArray content = rawLine(TestRecords::Standard) + "\r\n" + "no date here\tx\ty\t" + TestRecords::Min
        + "\n" + rawLine(TestRecords::NoAdd) + "\r" + rawLine(TestRecords::Max) + "\n" + rawLine("1234") + "\n"
        + rawLine(TestRecords::Long);
    const QList<QByteArray> expected = {"0900311" + TestRecords::Standard, "0100164" + TestRecords::NoAdd,
                                        "0900713" + TestRecords::Max, "0900695" + TestRecords::Long};
    server->replyAfterSizes = {318, 171, 720, 702};
    start(writeDataFile("replay.dat", content));
    setPeriod(QStringLiteral("1"));

    tickUntilStopped();
    QCOMPARE(server->connectionCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(server->received(i), expected[i]);
    QCOMPARE(window->PktNum->text(), QStringLiteral("9993"));
    // Accepted since the rejection: NoAdd, Max, "1234" (too short to send), Long.
    QCOMPARE(window->dataFile().state().RecordCount, qint16(4));
}

void tst_Cycle::multiPacketReplayEndToEnd()
{
    window = makeWindow(QString::fromLatin1(MultiPacketMode));
    const QByteArray &standard = TestRecords::Standard;
    const QByteArray &noAdd = TestRecords::NoAdd;
    const QByteArray content = "0010201" + standard.left(150) + "\n0010202" + standard.mid(150) + "\n"
        + "0420301" + noAdd.left(50) + "\n0420302" + noAdd.mid(50, 50) + "\n0420303" + noAdd.mid(100) + "\n"
        + "XYZ not a header\n" + "0050101" + TestRecords::Min + "\n" + "0070201" + TestRecords::Max.left(9)
        + "\n0080202" + TestRecords::Max.mid(9) + "\n";
    const QList<QByteArray> expected = {"0900311" + standard, "0100164" + noAdd, "0900120" + TestRecords::Min};
    server->replyAfterSizes = {318, 171, 127};
    start(writeDataFile("multi.dat", content));
    setPeriod(QStringLiteral("1"));

    tickUntilStopped();
    QCOMPARE(server->connectionCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(server->received(i), expected[i]);
    const QList<QByteArray> tail = newest(4);
    QCOMPARE(tail, (QList<QByteArray>{"SFIP: End of data file", "SFIP: Found different terminal id in sequence pkt",
                                      "SFIP: Part packet:[1]", "Event: <127.0.0.1> Data Pkt Rxd"}));
}

void tst_Cycle::shippedExamplesReplayAllFiveRecords_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("file");
    QTest::newRow("RAWLOG") << QString::fromLatin1(RawLogMode) << QFINDTESTDATA("../examples/ipnd-rawlog.dat");
    QTest::newRow("MULTIPKT") << QString::fromLatin1(MultiPacketMode) << QFINDTESTDATA("../examples/ipnd-multipkt.dat");
}

void tst_Cycle::shippedExamplesReplayAllFiveRecords()
{
    QFETCH(QString, mode);
    QFETCH(QString, file);
    QVERIFY(!file.isEmpty());
    window = makeWindow(mode);
    const QList<QByteArray> expected = {"0900311" + TestRecords::Standard, "0100164" + TestRecords::NoAdd,
                                        "0900695" + TestRecords::Long, "0900120" + TestRecords::Min,
                                        "0900713" + TestRecords::Max};
    server->replyAfterSizes = {318, 171, 702, 127, 720};
    start(file);
    setPeriod(QStringLiteral("1"));
    tickUntilStopped();
    QCOMPARE(server->connectionCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(server->received(i), expected[i]);
    int rejections = 0;
    for (const QByteArray &line : newest(logLineCount(*window)))
        rejections += (line.startsWith("SRLP: Not") || line.startsWith("SRLP: Unable") || line.contains("Dumping")
                       || line.contains("Non Numeric") || line.contains("different terminal"))
            ? 1
            : 0;
    // Each file holds three lines that are rejected on purpose.
    QCOMPARE(rejections, 3);
}

QTEST_MAIN(tst_Cycle)
#include "tst_cycle.moc"
