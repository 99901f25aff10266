// ipnd-send's run in the test's own process, and ipnd-send and ipnd-receiver
// as processes where only a process shows it (exit statuses, signals, the
// standard streams); on loopback only.

#include "PendingListener.h"
#include "ReceiverProcess.h"
#include "ReportFiles.h"
#include "ScriptedReceiver.h"
#include "platform/CommandLine.h"
#include "platform/TextSink.h"
#include "sender/SendOptions.h"
#include "sender/SendRun.h"
#include "report/Outcome.h"
#include "testpackets/TestRecords.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QList<QByteArray> log;      // stdout lines without their time stamps
    QList<QDateTime> stamps;    // the time stamp of each log line
    QList<QByteArray> summary;  // the three summary lines
    QByteArray errors;
};

const QRegularExpression Stamp(QStringLiteral(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) )"));

Run collect(int exitCode, const QByteArray &out, const QByteArray &errors)
{
    Run run;
    run.exitCode = exitCode;
    run.errors = errors;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        const QRegularExpressionMatch m = Stamp.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            run.stamps.append(QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
            run.log.append(line.mid(24));
        } else {
            run.summary.append(line);
        }
    }
    return run;
}

Run collect(QProcess &process)
{
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QByteArray errors = process.readAllStandardError();
    return collect(exitCode, process.readAllStandardOutput(), errors);
}

QByteArray rawLine(const QByteArray &record)
{
    return "2007-11-14 13:38:24\tTCPIN\t127.0.0.1:50003\t" + record + '\n';
}

// Bytes as a printf format that gives them back unchanged.
QByteArray printfEscaped(const QByteArray &bytes)
{
    QByteArray format;
    for (const char c : bytes)
        format += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
    return format;
}

// The minimum record with its own record id, 1 to 999; all frame alike.
QByteArray numbered(int n)
{
    return "09901" + QByteArray::number(n).rightJustified(3, '0') + TestRecords::Min.mid(8);
}

// Records 1 to `count`, numbered, a log line each.
QByteArray numberedLines(int count)
{
    QByteArray lines;
    for (int n = 1; n <= count; ++n)
        lines += rawLine(numbered(n));
    return lines;
}

// The first summary line of a run without a manifest, from its counts.
struct Counts
{
    int read = 0, sent = 0, answered = 0, unexpected = 0, unanswered = 0, notSent = 0, rejected = 0;
};

QByteArray summaryLine(const Counts &c)
{
    return "summary: records read " + QByteArray::number(c.read) + ", sent " + QByteArray::number(c.sent)
        + ", answered " + QByteArray::number(c.answered) + ", unexpected " + QByteArray::number(c.unexpected)
        + ", unanswered " + QByteArray::number(c.unanswered) + ", not sent " + QByteArray::number(c.notSent)
        + ", lines rejected " + QByteArray::number(c.rejected);
}

// Each JSON line's outcome, "summary" for the summary's.
QStringList outcomesOf(const QList<QJsonObject> &lines)
{
    QStringList outcomes;
    for (const QJsonObject &line : lines)
        outcomes << (line.contains("summary") ? QStringLiteral("summary") : line.value("outcome").toString());
    return outcomes;
}

// The arguments that send to `port` on loopback.
QStringList to(quint16 port)
{
    return {"--host", "127.0.0.1", "--port", QString::number(port)};
}

QByteArray idOf(const QByteArray &record)
{
    return record.left(record.indexOf('|'));
}

// The log line without a "[N] " connection number, and the number (0 for none).
QByteArray withoutConnection(const QByteArray &line, int *connection = nullptr)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral(R"(^\[(\d+)\] )")).match(QString::fromLatin1(line));
    if (connection)
        *connection = m.hasMatch() ? m.captured(1).toInt() : 0;
    return m.hasMatch() ? line.mid(m.capturedLength()) : line;
}

} // namespace

class tst_Send : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eachFixedRecordArrivesByteForByte_data();
    void eachFixedRecordArrivesByteForByte();
    void replayArrivesByteForByte_data();
    void replayArrivesByteForByte();
    void misbehavingReceiver_data();
    void misbehavingReceiver();
    void serverThatCannotBeReached();
    void serverThatComesUpLateWasReached();
    void liveLineClearedAtTheEnd();
    void badArguments_data();
    void badArguments();
    void helpVersionAndBytesAsTyped();
    void standardInputAndOutput();
    void periodKeepsItsPace();
    void ctrlCPrintsTheSummary();
    void ctrlCCountsTheRecordsPlanned();
    void ctrlCEndsAPendingConnectionAtOnce();
    void ctrlCStopsAtTheNextLineWhenNothingIsSent_data();
    void ctrlCStopsAtTheNextLineWhenNothingIsSent();
    void recordTooShortToSendDoesNotFailTheRun();
    void runThatSentNothingFails();
    void connectionsTakeRecordsInFileOrder();
    void periodsThatFindEveryConnectionBusyAreNotSent();
    void reportsShowEachRecordsOutcome();
    void thresholdsDecideTheExitStatus_data();
    void thresholdsDecideTheExitStatus();
    void ctrlCLeavesTheReports();
    void stuckExchangeHoldsNoReportBack();
    void replyLeftOpenEndsAtTheGapOrTheTimeout_data();
    void replyLeftOpenEndsAtTheGapOrTheTimeout();
    void reportsAreWholeWhenTheOutputReaderIsGone_data();
    void reportsAreWholeWhenTheOutputReaderIsGone();
    void latencyRunsFromTheIntendedTime_data();
    void latencyRunsFromTheIntendedTime();
    void progressShowsTheLatencyAtARate();
    void loopRunsForTheDuration();
    void loopStartsASequenceAfresh();
    void recordedPaceKeepsTheGaps();
    void recordedPaceQueuesRecordsOfOneTime();
    void handshakesGoSideBySide();
    void conformanceOutcomesInEveryReport();
    void manifestThatDoesNotFitStopsTheRun_data();
    void manifestThatDoesNotFitStopsTheRun();
    void interruptedRunNeverPasses_data();
    void interruptedRunNeverPasses();
    void manifestRunOutcomes_data();
    void manifestRunOutcomes();
    void signalEndsAWaitForTheManifest();

private:
    bool startReceiver(const QStringList &extra = {});
    // Asked while the run goes, with what it has written to standard output
    // so far: true once it is time for the signal.
    using Until = std::function<bool(const QByteArray &out)>;
    // The run in this process: what it writes to standard output and error
    // is kept in memory; once `until` holds, the run is interrupted as by
    // `signalNumber`. A run not over in `timeoutMs` is stopped and gives
    // exit code -1.
    Run send(const QStringList &arguments, const Until &until = {}, int signalNumber = SIGINT, int timeoutMs = 20000);
    Run sendProcess(const QStringList &arguments, int timeoutMs = 20000);
    QByteArray saved(int packet) const;
    QString writeFile(const QString &name, const QByteArray &content);
    struct ReportRun
    {
        QString json, junit, html;
        QStringList arguments;
    };
    // ipnd-send's arguments replaying `data` to `port` as a closed loop, with
    // all three reports in the test's folder and `extra` arguments.
    ReportRun withReports(quint16 port, const QString &data, const QStringList &extra);

    QTemporaryDir dir;
    QProcess receiver;
    quint16 port = 0;
};

void tst_Send::init()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("packets")));
}

void tst_Send::cleanup()
{
    if (receiver.state() != QProcess::NotRunning) {
        receiver.kill();
        receiver.waitForFinished(5000);
    }
    QDir(dir.filePath(QStringLiteral("packets"))).removeRecursively();
}

bool tst_Send::startReceiver(const QStringList &extra)
{
    port = ::startReceiver(receiver, QStringList{"--save", dir.filePath(QStringLiteral("packets"))} + extra, 20000);
    return port != 0;
}

Run tst_Send::send(const QStringList &arguments, const Until &until, int signalNumber, int timeoutMs)
{
    const QStringList commandLine = QStringList{QStringLiteral("ipnd-send")} + arguments;
    const ParsedSendArguments parsed = parseSendArguments(commandLine);
    if (!parsed.options)
        return collect(2, {}, "ipnd-send: " + CommandLine::bytes(parsed.error) + '\n');
    BufferSink out;
    BufferSink err;
    SendRun run(*parsed.options, parsed.options->reports.reportFile == QLatin1String("-") ? err : out, err, &err, false);
    run.setCommandLine(CommandLine::shellText(commandLine));
    QTimer watch;
    if (until) {
        connect(&watch, &QTimer::timeout, &run, [&] {
            if (until(out.text)) {
                watch.stop();
                run.interrupt(signalNumber);
            }
        });
        watch.start(10);
    }
    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &run, [&] {
        timedOut = true;
        run.stop();
    });
    const int exitCode = run.run();
    return collect(timedOut ? -1 : exitCode, out.text, err.text);
}

Run tst_Send::sendProcess(const QStringList &arguments, int timeoutMs)
{
    QProcess sender;
    sender.start(QStringLiteral(IPND_SEND), arguments);
    if (!sender.waitForFinished(timeoutMs)) {
        sender.kill();
        sender.waitForFinished(5000);
        return {};
    }
    return collect(sender);
}

QByteArray tst_Send::saved(int packet) const
{
    QFile file(dir.filePath(QStringLiteral("packets/packet-%1.bin").arg(packet)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no packet saved>");
}

QString tst_Send::writeFile(const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

tst_Send::ReportRun tst_Send::withReports(quint16 port, const QString &data, const QStringList &extra)
{
    ReportRun run{dir.filePath(QStringLiteral("run.jsonl")), dir.filePath(QStringLiteral("run.xml")),
                  dir.filePath(QStringLiteral("run.html")), {}};
    run.arguments = to(port) + QStringList{"--replay", data, "--period", "0"} + extra
        + QStringList{"--report", run.json, "--junit", run.junit, "--html", run.html};
    return run;
}

void tst_Send::eachFixedRecordArrivesByteForByte_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("standard") << "standard" << TestRecords::Standard;
    QTest::newRow("noadd") << "noadd" << TestRecords::NoAdd;
    QTest::newRow("long") << "long" << TestRecords::Long;
    QTest::newRow("min") << "min" << TestRecords::Min;
    QTest::newRow("max") << "max" << TestRecords::Max;
}

void tst_Send::eachFixedRecordArrivesByteForByte()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, record);
    QVERIFY(startReceiver());

    const Run run = send(to(port) + QStringList{"--record", name});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(saved(1), record);
    QCOMPARE(run.log, (QList<QByteArray>{"TCP TCP Originate: Local port <" + QByteArray::number(port)
                                             + "> Local IP <127.0.0.1 > ",
                                         "Event: Connected", "Event: <127.0.0.1> Data Pkt Rxd"}));
    QCOMPARE(run.summary.value(0), summaryLine({.read = 1, .sent = 1, .answered = 1}));
    QVERIFY(run.summary.value(1).startsWith("round trip ms: min "));
    QVERIFY(run.summary.value(2).startsWith("rate: "));
}

void tst_Send::replayArrivesByteForByte_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::newRow("rawlog") << "rawlog" << QFINDTESTDATA("../examples/ipnd-rawlog.dat");
    QTest::newRow("multipkt") << "multipkt" << QFINDTESTDATA("../examples/ipnd-multipkt.dat");
}

void tst_Send::replayArrivesByteForByte()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QVERIFY(startReceiver());

    const Run run = send(to(port) + QStringList{"--replay", file, "--format", format, "--period", "0"});

    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> expected = {"0900311" + TestRecords::Standard, "0100164" + TestRecords::NoAdd,
                                        "0900695" + TestRecords::Long, "0900120" + TestRecords::Min,
                                        "0900713" + TestRecords::Max};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(saved(i + 1), expected[i]);
    QCOMPARE(saved(6), QByteArray("<no packet saved>"));
    QCOMPARE(run.summary.value(0), summaryLine({.read = 5, .sent = 5, .answered = 5, .rejected = 3}));
    QCOMPARE(run.log.count("RSFP: Data Sent: " + TestRecords::Min), 1);
    QCOMPARE(run.log.last(), format == QLatin1String("rawlog") ? QByteArray("SRLP: End of data file")
                                                                : QByteArray("SFIP: End of data file"));
}

void tst_Send::misbehavingReceiver_data()
{
    QTest::addColumn<QString>("misbehave");
    QTest::addColumn<QString>("replyTimeout");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("summary");
    QTest::addColumn<QByteArray>("endLine"); // how each exchange ends
    QTest::addColumn<double>("minimumRoundTripMs");
    QTest::addColumn<QStringList>("extra");
    const QByteArray answered = summaryLine({.read = 3, .sent = 3, .answered = 3});
    const QByteArray unanswered = summaryLine({.read = 3, .sent = 3, .unanswered = 3});
    QTest::newRow("none") << "none" << "5" << 0 << answered << QByteArray("Event: <127.0.0.1> Data Pkt Rxd") << 0.0
                          << QStringList();
    // The reply judged whole: both halves, ended by the receiver's close.
    QTest::newRow("split") << "split" << "5" << 0 << answered << QByteArray("Event: <127.0.0.1> Data Pkt Rxd")
                           << 20.0 << QStringList{"--reply-gap", "2000", "--expect", "ACK {id}"};
    QTest::newRow("slow, in time") << "slow:100" << "5" << 0 << answered
                                   << QByteArray("Event: <127.0.0.1> Data Pkt Rxd") << 100.0 << QStringList();
    QTest::newRow("slow, too late") << "slow:3000" << "0.15" << 1 << unanswered
                                    << QByteArray("Event: No reply within 150 ms: connection closed") << 0.0 << QStringList();
    QTest::newRow("silent") << "silent" << "0.15" << 1 << unanswered
                            << QByteArray("Event: No reply within 150 ms: connection closed") << 0.0 << QStringList();
    QTest::newRow("close") << "close" << "5" << 1 << unanswered << QByteArray("Event: Port Closed") << 0.0
                           << QStringList();
}

void tst_Send::misbehavingReceiver()
{
    QFETCH(QString, misbehave);
    QFETCH(QString, replyTimeout);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, summary);
    QFETCH(QByteArray, endLine);
    QFETCH(double, minimumRoundTripMs);
    QFETCH(QStringList, extra);
    QVERIFY(startReceiver({"--misbehave", misbehave}));
    // Several records: whatever an unanswered exchange leaves on the socket
    // would make the next record "busy".
    const QString file = writeFile(QStringLiteral("three.dat"), numberedLines(3));

    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0", "--reply-timeout", replyTimeout}
                         + extra);

    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.summary.value(0), summary);
    QCOMPARE(run.log.count(endLine), 3);
    for (int n = 1; n <= 3; ++n) {
        QCOMPARE(run.log.count("RSFP: Data Sent: " + numbered(n)), 1);
        QCOMPARE(saved(n), "0900120" + numbered(n));
    }
    // The sender never listens, not even after the server closed.
    for (const QByteArray &line : run.log)
        QVERIFY2(!line.startsWith("TCP Remote Server:"), line.constData());
    if (minimumRoundTripMs > 0) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral(R"(^round trip ms: min ([0-9.]+),)")).match(QString::fromLatin1(run.summary.value(1)));
        QVERIFY(m.hasMatch());
        // The receiver's wait starts when it has the packet, which on a busy
        // machine may be a few milliseconds before the sender notes the write.
        QVERIFY2(m.captured(1).toDouble() >= minimumRoundTripMs - 5, qPrintable(m.captured(1)));
    }
}

void tst_Send::serverThatCannotBeReached()
{
    const quint16 deadPort = closedPort();
    QVERIFY(deadPort != 0);
    const QString junit = dir.filePath(QStringLiteral("run.xml"));
    const Run run = send(to(deadPort) + QStringList{"--record", "min", "--junit", junit});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.log.value(1), QByteArray("Event: Socket error 0: Connection refused"));
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.failures, (QMap<QString, QString>{{idOf(TestRecords::Min), "RSFP: No connection, not sent: " + TestRecords::Min}}));
    // Also under --quiet, where no log line says it.
    const Run quiet = send(to(deadPort) + QStringList{"--record", "min", "--quiet"});
    QCOMPARE(quiet.exitCode, 3);
    QCOMPARE(quiet.log, QList<QByteArray>());
    QCOMPARE(quiet.errors, "ipnd-send: no connection to 127.0.0.1:" + QByteArray::number(deadPort)
                               + " came up: Event: Socket error 0: Connection refused\n");
    QCOMPARE(run.summary.value(0), summaryLine({.read = 1, .notSent = 1}));
}

void tst_Send::serverThatComesUpLateWasReached()
{
    const quint16 latePort = closedPort();
    QVERIFY(latePort != 0);
    // Up once the first record has found no one: the second is sent, and left unanswered.
    QTcpServer late;
    const QString file = writeFile(QStringLiteral("late.dat"), numberedLines(2));
    const Run run = send(to(latePort) + QStringList{"--replay", file, "--period", "0.3", "--reply-timeout", "0.2"},
                         [&](const QByteArray &out) {
                             return out.contains("Connection refused") && !late.isListening()
                                 && !late.listen(QHostAddress::LocalHost, latePort);
                         });
    QCOMPARE(run.exitCode, 1);
}

void tst_Send::liveLineClearedAtTheEnd()
{
    QVERIFY(startReceiver({"--quiet"}));
    const ParsedSendArguments parsed = parseSendArguments(QStringList{"ipnd-send", "--record", "min"} + to(port));
    BufferSink out;
    BufferSink err;
    BufferSink status;
    SendRun run(*parsed.options, out, err, &status, true);
    QCOMPARE(run.run(), 0);
    QVERIFY(status.text.endsWith("\r\033[K"));
}

void tst_Send::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no arguments") << QStringList() << QByteArray("ipnd-send: --host is required");
    QTest::newRow("bad port") << QStringList{"--host", "127.0.0.1", "--port", "99999", "--record", "min"}
                              << QByteArray("ipnd-send: --port: \"99999\" is not a port number (1 to 65535)");
    QTest::newRow("unknown option") << to(1) + QStringList{"--record", "min", "--fast"}
                                    << QByteArray("ipnd-send: unknown option --fast");
    QTest::newRow("missing file") << to(1) + QStringList{"--replay", "/nonexistent"}
                                  << QByteArray("ipnd-send: --replay: \"/nonexistent\" is not a readable file");
    const QString examples = QFINDTESTDATA("../examples/ipnd-rawlog.dat");
    QTest::newRow("--expect with --manifest")
        << to(1) + QStringList{"--replay", examples, "--manifest", examples + ".none", "--expect", "OK"}
        << QByteArray("ipnd-send: --expect and --manifest cannot go together: with a manifest, --accept and --refuse "
                      "say what the replies must be");
    QTest::newRow("--refuse without --manifest")
        << to(1) + QStringList{"--replay", examples, "--refuse", "NAK"}
        << QByteArray("ipnd-send: --refuse goes with --manifest");
    QTest::newRow("--accept not an expression")
        << to(1) + QStringList{"--replay", examples, "--manifest", examples, "--accept", "ACK ("}
        << QByteArray("ipnd-send: --accept: not a valid regular expression: missing closing parenthesis (at character "
                      "5 of ACK ()");
    // Files that cannot be replayed: a device that never ends, a pipe, a folder.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 || QFileInfo(fifo).exists());
    for (const QString &path : {QStringLiteral("/dev/zero"), fifo, dir.path()})
        QTest::newRow(qPrintable(path)) << to(1) + QStringList{"--replay", path}
                                        << "ipnd-send: --replay: \"" + QFile::encodeName(path) + "\" is not a readable file";
}

void tst_Send::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    const Run run = sendProcess(arguments);
    QCOMPARE(run.exitCode, 2);
    const QList<QByteArray> lines = run.errors.split('\n');
    QCOMPARE(lines.value(0), message);
    QVERIFY(lines.value(1).startsWith("usage: ipnd-send"));
    QVERIFY(run.log.isEmpty());
    QVERIFY(run.summary.isEmpty());
}

void tst_Send::helpVersionAndBytesAsTyped()
{
    QProcess sender;
    sender.start(QStringLiteral(IPND_SEND), {"--version"});
    QVERIFY(sender.waitForFinished(10000));
    QCOMPARE(sender.exitCode(), 0);
    QCOMPARE(sender.readAllStandardOutput(), QByteArray("ipnd-send 1.10.23\n"));
    sender.start(QStringLiteral(IPND_SEND), {"--help"});
    QVERIFY(sender.waitForFinished(10000));
    QCOMPARE(sender.exitCode(), 0);
    QVERIFY(sender.readAllStandardOutput().startsWith("Usage: ipnd-send [options]\n"));

    // Paths beyond ASCII, given in the "--opt=value" form: opened as typed,
    // also when they are not UTF-8, and quoted byte for byte when they are
    // not there.
    QVERIFY(startReceiver({"--quiet"}));
    const QByteArray utf8 = QFile::encodeName(dir.path()) + "/caf\xc3\xa9.dat";
    const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.dat";
    for (const QByteArray &name : {utf8, latin1}) {
        QFile file;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QVERIFY(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        file.write(rawLine(TestRecords::Min));
    }
    const QByteArray missing = QFile::encodeName(dir.path()) + "/gone\xe9.dat";
    for (const QByteArray &path : {utf8, latin1, missing}) {
        sender.start(QStringLiteral("/bin/sh"),
                     {"-c", "exec \"$0\" --host=127.0.0.1 --port=\"$1\" --period=0 --replay=\"$(printf \"$2\")\"",
                      QStringLiteral(IPND_SEND), QString::number(port), QString::fromLatin1(printfEscaped(path))});
        QVERIFY(sender.waitForFinished(10000));
        const Run result = collect(sender);
        if (path != missing) {
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.summary.value(0), summaryLine({.read = 1, .sent = 1, .answered = 1}));
        } else {
            QCOMPARE(result.exitCode, 2);
            QCOMPARE(result.errors.split('\n').value(0),
                     "ipnd-send: --replay: \"" + path + "\" is not a readable file");
        }
    }
    // A name that is not text is removed by its bytes too.
    QCOMPARE(::unlink(latin1.constData()), 0);
}

void tst_Send::standardInputAndOutput()
{
    // `--replay -` reads the records from standard input; `--report -`
    // writes JSON Lines to standard output, the log and summary to standard error.
    QVERIFY(startReceiver({"--quiet"}));
    QProcess sender;
    sender.start(QStringLiteral(IPND_SEND), to(port) + QStringList{"--period", "0", "--replay", "-", "--report", "-"});
    QVERIFY(sender.waitForStarted(10000));
    sender.write(rawLine(numbered(1)) + "not a line\n" + rawLine(numbered(2)));
    sender.closeWriteChannel();
    QVERIFY(sender.waitForFinished(20000));
    QCOMPARE(sender.exitCode(), 0);
    QCOMPARE(outcomesOf(jsonLines(sender.readAllStandardOutput())),
             QStringList({"answered", "rejected", "answered", "summary"}));
    const QByteArray log = sender.readAllStandardError();
    QVERIFY2(log.contains("RSFP: Data Sent: " + numbered(2) + '\n'), log.constData());
    QVERIFY(log.contains('\n' + summaryLine({.read = 2, .sent = 2, .answered = 2, .rejected = 1}) + '\n'));
    QCOMPARE(saved(2), "0900120" + numbered(2));
}

void tst_Send::periodKeepsItsPace()
{
    QVERIFY(startReceiver({"--quiet"}));
    QByteArray content;
    for (int i = 0; i < 25; ++i)
        content += rawLine(TestRecords::Min);
    const QString file = writeFile(QStringLiteral("pace.dat"), content);

    // Not a whole number of milliseconds: the slots' starts are rounded. Two
    // connections, so that a reply slowed by a loaded machine does not find
    // the link busy.
    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0.2005", "--count", "10",
                                                "--connections", "2"});

    QVERIFY2(run.exitCode == 0, run.summary.value(0).constData());
    QList<QDateTime> sends;
    for (int i = 0; i < run.log.size(); ++i) {
        if (withoutConnection(run.log[i]).startsWith("TCP TCP Originate:"))
            sends.append(run.stamps[i]);
    }
    QCOMPARE(sends.size(), 10);
    // Against the schedule: never two sends in one period, none early, none
    // so late that it ran into the next slot (the first send may itself be a
    // little late), and the whole run 9 periods long.
    for (int k = 1; k < sends.size(); ++k) {
        const qint64 gap = sends[k - 1].msecsTo(sends[k]);
        QVERIFY2(gap >= 50, qPrintable(QStringLiteral("send %1 came %2 ms after the one before").arg(k).arg(gap)));
        const qint64 offset = sends.first().msecsTo(sends[k]) - qint64(200.5 * k);
        QVERIFY2(offset > -50 && offset < 150, qPrintable(QStringLiteral("send %1 is %2 ms off").arg(k).arg(offset)));
    }
    const qint64 span = sends.first().msecsTo(sends.last());
    QVERIFY2(span >= 1804 - 50 && span <= 1804 + 150, qPrintable(QString::number(span)));
}

void tst_Send::ctrlCPrintsTheSummary()
{
    QVERIFY(startReceiver({"--quiet"}));
    const QString file = writeFile(QStringLiteral("long-run.dat"), rawLine(TestRecords::NoAdd).repeated(10));

    // The first record goes at once; the next would wait 30 s.
    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "30"},
                         [](const QByteArray &out) { return out.contains("Data Pkt Rxd"); });

    QCOMPARE(run.exitCode, 128 + SIGINT); // an interrupted run never passes
    QCOMPARE(run.summary.value(0), summaryLine({.read = 1, .sent = 1, .answered = 1}));
    QCOMPARE(run.summary.last(), QByteArray("Interrupted after 1 of 10 records"));
}

void tst_Send::ctrlCCountsTheRecordsPlanned()
{
    QVERIFY(startReceiver({"--quiet"}));
    const QString file = writeFile(QStringLiteral("counted.dat"), rawLine(TestRecords::NoAdd).repeated(10));
    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "30", "--count", "3"},
                         [](const QByteArray &out) { return out.contains("Data Pkt Rxd"); });
    QCOMPARE(run.summary.last(), QByteArray("Interrupted after 1 of 3 records"));
}

void tst_Send::ctrlCEndsAPendingConnectionAtOnce()
{
    PendingListener listener;
    QVERIFY(listener.port() != 0);
    QElapsedTimer clock;
    const Run run = send(to(listener.port()) + QStringList{"--record", "standard", "--connect-timeout", "60"},
                         [&](const QByteArray &out) {
                             if (out.contains("TCP TCP Originate"))
                                 clock.start();
                             return clock.isValid();
                         });

    QVERIFY(clock.isValid());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(run.exitCode, 128 + SIGINT);
    QCOMPARE(run.summary.value(0), summaryLine({.read = 1, .notSent = 1}));
}

void tst_Send::recordTooShortToSendDoesNotFailTheRun()
{
    QVERIFY(startReceiver({"--quiet"}));
    const QString file = writeFile(QStringLiteral("short.dat"), rawLine(TestRecords::Min) + rawLine("1234"));

    const QString junit = dir.filePath(QStringLiteral("run.xml"));
    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0", "--junit", junit});

    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.log.contains("RSFP: Record too short, not sent: 1234"));
    // The data's fault, not the server's: skipped, not failed.
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.failures, (QMap<QString, QString>{}));
    QCOMPARE(cases.skipped.value(QStringLiteral("1234")), QStringLiteral("RSFP: Record too short, not sent: 1234"));
    QCOMPARE(run.summary.value(0), summaryLine({.read = 2, .sent = 1, .answered = 1, .notSent = 1}));
    QCOMPARE(saved(1), "0900120" + TestRecords::Min);
    QCOMPARE(saved(2), QByteArray("<no packet saved>"));
}

void tst_Send::ctrlCStopsAtTheNextLineWhenNothingIsSent_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("logged");
    // Every line rejected; every line a first part that never completes.
    QTest::newRow("rawlog") << "rawlog" << QByteArray("x\n") << QByteArray("SRLP: Not a valid record");
    QTest::newRow("multipkt") << "multipkt" << QByteArray("0010201AB\n") << QByteArray("SFIP: Part packet:[1]");
}

void tst_Send::ctrlCStopsAtTheNextLineWhenNothingIsSent()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, logged);
    // Far more lines than are read before the stop takes effect.
    const QString file = writeFile(QStringLiteral("endless.dat"), line.repeated(1000000));
    const Run run = send(to(1) + QStringList{"--replay", file, "--format", format, "--period", "0"},
                         [&](const QByteArray &out) { return out.contains(logged); });

    QCOMPARE(run.exitCode, 128 + SIGINT);
    for (const QByteArray &logLine : run.log)
        QVERIFY2(!logLine.contains("End of data file"), "the stop waited for the end of the file");
    QVERIFY(run.summary.value(0).startsWith("summary: records read 0, sent 0, "));
}

void tst_Send::runThatSentNothingFails()
{
    QVERIFY(startReceiver({"--quiet"}));
    const QString file = writeFile(QStringLiteral("rejected.dat"), "no date\n\n");

    const QString junit = dir.filePath(QStringLiteral("run.xml"));
    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0", "--junit", junit});

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.summary.value(0), summaryLine({.rejected = 2}));
    // No record failed, and still the report fails, as the run does.
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.names, QStringList({"line 1", "line 2", "run"}));
    QCOMPARE(cases.failures, (QMap<QString, QString>{{"run", "no record was sent"}}));
    QCOMPARE(cases.skipped.size(), 2);
    // As many records as the summary read: none, in a suite that says so.
    const QStringList suites = cases.suites.keys();
    QCOMPARE(suites.size(), 3);
    QCOMPARE(cases.suites.value(suites.filter(QStringLiteral("ipnd-send")).value(0)).value("tests"), u"0");
}

void tst_Send::connectionsTakeRecordsInFileOrder()
{
    QVERIFY(startReceiver({"--quiet", "--misbehave", "slow:20"}));
    const int records = 24;
    QByteArray content;
    QList<QByteArray> packets;
    for (int n = 1; n <= records; ++n) {
        content += rawLine(numbered(n));
        packets << "0900120" + numbered(n);
    }
    const QString file = writeFile(QStringLiteral("many.dat"), content);

    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0", "--connections", "4"});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.summary.value(0), summaryLine({.read = 24, .sent = 24, .answered = 24}));
    // Handed out in file order, each on a connection of the four.
    QList<QByteArray> sentInOrder;
    QSet<int> used;
    for (const QByteArray &line : run.log) {
        int connection = 0;
        const QByteArray text = withoutConnection(line, &connection);
        if (text.startsWith("TCP TCP Originate:") || text.startsWith("Event: Connected")
            || text.startsWith("RSFP: Data Sent: ") || text.startsWith("Event: <127.0.0.1> Data Pkt Rxd")) {
            QVERIFY2(connection >= 1 && connection <= 4, line.constData());
            used.insert(connection);
        }
        if (text.startsWith("RSFP: Data Sent: "))
            sentInOrder << text.mid(17);
    }
    QList<QByteArray> inFile;
    for (int n = 1; n <= records; ++n)
        inFile << numbered(n);
    QCOMPARE(sentInOrder, inFile);
    QVERIFY2(used.size() > 1, "the exchanges never overlapped");
    // The receiver got each record once, none lost.
    QList<QByteArray> received;
    for (int n = 1; n <= records + 1; ++n)
        received << saved(n);
    QCOMPARE(received.takeLast(), QByteArray("<no packet saved>"));
    std::sort(received.begin(), received.end());
    QCOMPARE(received, packets);
}

void tst_Send::periodsThatFindEveryConnectionBusyAreNotSent()
{
    // Replies take 625 ms; records come every 250 ms to two connections:
    // the third finds both busy, the fourth the first free again (125 ms
    // either way for a loaded machine).
    QVERIFY(startReceiver({"--quiet", "--misbehave", "slow:625"}));
    const QString file = writeFile(QStringLiteral("busy.dat"), numberedLines(4));

    const Run run = send(to(port) + QStringList{"--replay", file, "--period", "0.25", "--connections", "2"});

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.summary.value(0), summaryLine({.read = 4, .sent = 3, .answered = 3, .notSent = 1}));
    QVERIFY(run.log.contains("[1] RSFP: Data Sent: " + numbered(1)));
    QVERIFY(run.log.contains("[2] RSFP: Data Sent: " + numbered(2)));
    QVERIFY(run.log.contains("RSFP: Link busy, not sent: " + numbered(3)));
    QVERIFY(run.log.contains("[1] RSFP: Data Sent: " + numbered(4)));
}

// Verdicts and reports, against a receiver in this process that answers by
// record id: the event loop runs while the sender goes.

namespace {

Run finishedRun(QProcess &sender, QSignalSpy &finished)
{
    if (!finished.wait(20000)) {
        sender.kill();
        sender.waitForFinished(5000);
        return {};
    }
    return collect(sender);
}

} // namespace

void tst_Send::reportsShowEachRecordsOutcome()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.answer(idOf(numbered(2)), QByteArray("NAK\r\n"));
    server.answer(idOf(numbered(3)), std::nullopt);
    const QString file = writeFile(QStringLiteral("four.dat"), numberedLines(5));
    // A long reply, in several reads.
    const QByteArray flood = "OK " + idOf(numbered(5)) + QByteArray(6000, '.');
    server.answer(idOf(numbered(5)), flood);
    const auto [json, junit, html, arguments] =
        withReports(server.port(), file, {"--reply-timeout", "0.3", "--expect", "OK {id}"});
    const Run run = send(arguments);

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.summary.value(0),
             summaryLine({.read = 5, .sent = 5, .answered = 2, .unexpected = 2, .unanswered = 1}));
    QCOMPARE(run.log.count("Event: Unexpected reply to record " + idOf(numbered(2)) + R"(: NAK\r\n)"), 1);
    // A long reply is judged whole, and kept in part with its whole length.
    QVERIFY(run.log.contains("Event: Unexpected reply to record " + idOf(numbered(5)) + ": "
                             + flood.left(OutcomeRecord::ReplyKeptBytes) + "... (6011 bytes)"));
    QList<QJsonObject> lines = readJsonLines(json);
    // Each line as its exchange ended; the file order is in seq.
    std::stable_sort(lines.begin(), lines.end() - 1, [](const QJsonObject &a, const QJsonObject &b) {
        return a.value("seq").toInteger() < b.value("seq").toInteger();
    });
    QCOMPARE(outcomesOf(lines), QStringList({"answered", "unexpected", "unanswered", "answered", "unexpected", "summary"}));
    QCOMPARE(lines[1].value("reply").toString(), QStringLiteral("NAK\r\n"));
    QCOMPARE(lines[1].value("reply_bytes").toInteger(), 5);
    QCOMPARE(lines[4].value("reply").toString().toLatin1(), flood.left(OutcomeRecord::ReplyKeptBytes));
    QCOMPARE(lines[4].value("reply_bytes").toInteger(), flood.size());
    QCOMPARE(lines[5].value("summary").toObject().value("unexpected").toInt(), 2);
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.error, QString());
    QCOMPARE(cases.names.size(), 5);
    QCOMPARE(cases.failures.keys(), QStringList({idOf(numbered(2)), idOf(numbered(3)), idOf(numbered(5))}));
    const Html page = readHtml(readFile(html));
    QCOMPARE(page.verdictClass, QStringLiteral("failed"));
    QCOMPARE(page.failedIds, QStringList({idOf(numbered(2)), idOf(numbered(3)), idOf(numbered(5))}));
}

void tst_Send::thresholdsDecideTheExitStatus_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("threshold"); // the summary's threshold line, its measured value as "*"

    QTest::newRow("all right, no thresholds") << QStringList{"--expect", "OK {id}"} << 0 << QString();
    QTest::newRow("reply not as expected") << QStringList{"--expect", "ACK {id}"} << 1 << QString();
    QTest::newRow("p99 met") << QStringList{"--max-p99", "60000"} << 0
                             << "✓ threshold met: --max-p99: p99 round trip * ms, limit 60000 ms";
    QTest::newRow("p99 missed") << QStringList{"--max-p99", "0.001"} << 1
                                << "✗ threshold missed: --max-p99: p99 round trip * ms, limit 0.001 ms";
    QTest::newRow("rate met") << QStringList{"--min-rate", "0.001"} << 0
                              << "✓ threshold met: --min-rate: * records per second, limit 0.001 records per second";
    QTest::newRow("rate missed") << QStringList{"--min-rate", "1000000"} << 1
                                 << "✗ threshold missed: --min-rate: * records per second, limit 1000000 records "
                                    "per second";
    // CI must not read a cut report as a pass; the reason shows even with --quiet.
    QTest::newRow("report cut short") << QStringList{"--quiet", "--report", "/dev/full"} << 2 << QString();
    // A run that failed already and then lost its report: still the report's 2.
    QTest::newRow("failed and report cut short")
        << QStringList{"--quiet", "--expect", "ACK {id}", "--report", "/dev/full"} << 2 << QString();
    // A device or pipe takes the page once, at the end: a failure there is no less.
    QTest::newRow("page cut short") << QStringList{"--quiet", "--html", "/dev/full"} << 2 << QString();
}

void tst_Send::thresholdsDecideTheExitStatus()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, threshold);
    ScriptedReceiver server;
    QVERIFY(server.listen());
    const QString file = writeFile(QStringLiteral("two.dat"), numberedLines(2));

    const QString junit = dir.filePath(QStringLiteral("run.xml"));
    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--period", "0", "--junit", junit} + options);

    QCOMPARE(run.exitCode, exitCode);
    // The JUnit report fails exactly when the run does; each threshold is a
    // case of its own, failed when missed.
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.error, QString());
    QCOMPARE(cases.failures.isEmpty(), exitCode == 0);
    const QString caseName = QStringLiteral("threshold ") + threshold.section(QStringLiteral(": "), 1, 1);
    if (!threshold.isEmpty()) {
        QVERIFY(cases.names.contains(caseName));
        QCOMPARE(cases.failures.contains(caseName), exitCode != 0);
    }
    if (exitCode == 2) {
        QCOMPARE(run.log, QList<QByteArray>());
        QCOMPARE(run.errors, QByteArray("ipnd-send: Report: cannot write /dev/full: No space left on device\n"));
    }
    const QList<QByteArray> thresholdLines = run.summary.mid(3);
    QCOMPARE(thresholdLines.size(), threshold.isEmpty() ? 0 : 1);
    if (!threshold.isEmpty()) {
        const QRegularExpression line(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(threshold).replace(QStringLiteral("\\*"), QStringLiteral("[0-9]+\\.[0-9]+"))));
        QVERIFY2(line.match(QString::fromUtf8(thresholdLines.first())).hasMatch(), thresholdLines.first().constData());
    }
}

void tst_Send::ctrlCLeavesTheReports()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.answer(idOf(numbered(2)), std::nullopt);
    const QString file = writeFile(QStringLiteral("three.dat"), numberedLines(3));
    const auto [json, junit, html, arguments] = withReports(server.port(), file, {"--reply-timeout", "60"});
    // The second record waits for a reply that will not come.
    const Run run = send(arguments, [&](const QByteArray &) { return server.idsSeen.size() == 2; });

    QCOMPARE(run.exitCode, 128 + SIGINT);
    const QList<QJsonObject> lines = readJsonLines(json);
    QCOMPARE(outcomesOf(lines), QStringList({"answered", "unanswered", "summary"}));
    QCOMPARE(lines[1].value("reason").toString(), QStringLiteral("Event: Stopped before the reply: connection closed"));
    const JUnit cases = readJUnit(junit);
    QCOMPARE(cases.error, QString());
    QCOMPARE(cases.names, QStringList({idOf(numbered(1)), idOf(numbered(2)), "interrupted"}));
    QCOMPARE(cases.failures.keys(), QStringList({idOf(numbered(2)), "interrupted"}));
    QCOMPARE(cases.failures.value("interrupted"), QStringLiteral("Interrupted after 2 of 3 records"));
    const Html page = readHtml(readFile(html));
    QCOMPARE(page.verdictClass, QStringLiteral("failed"));
    QCOMPARE(page.summary.value("Records read"), QStringLiteral("2"));
}

void tst_Send::stuckExchangeHoldsNoReportBack()
{
    // The first record is never answered; the others come back on the second connection.
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.answer(idOf(numbered(1)), std::nullopt);
    const QString file = writeFile(QStringLiteral("stuck.dat"), numberedLines(4));
    const QString json = dir.filePath(QStringLiteral("stuck.jsonl"));

    // Each finished exchange is on disk while the first still waits: a
    // killed run keeps them.
    QList<QJsonObject> onDisk;
    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--period", "0", "--connections", "2",
                                                         "--reply-timeout", "60", "--quiet", "--report", json},
                         [&](const QByteArray &) {
                             onDisk = readJsonLines(json);
                             return onDisk.size() == 3;
                         });
    QCOMPARE(run.exitCode, 128 + SIGINT);
    QList<qint64> seqs;
    for (const QJsonObject &line : onDisk)
        seqs << line.value("seq").toInteger();
    QCOMPARE(seqs, QList<qint64>({2, 3, 4}));
}

void tst_Send::replyLeftOpenEndsAtTheGapOrTheTimeout_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("quiet gap") << QStringList{"--reply-gap", "400"};
    QTest::newRow("reply timeout") << QStringList{"--reply-gap", "60000", "--reply-timeout", "0.4"};
}

void tst_Send::replyLeftOpenEndsAtTheGapOrTheTimeout()
{
    // A reply with no line end on a connection the receiver keeps open: what
    // came is the reply, timed to its last byte, not to what ended it.
    QFETCH(QStringList, options);
    ScriptedReceiver server;
    server.keepOpen = true;
    QVERIFY(server.listen());
    const QString file = writeFile(QStringLiteral("one.dat"), rawLine(numbered(1)));
    const QString json = dir.filePath(QStringLiteral("open.jsonl"));
    const Run run =
        send(to(server.port()) + QStringList{"--replay", file, "--period", "0", "--quiet", "--report", json} + options);

    QCOMPARE(run.exitCode, 0);
    const QList<QJsonObject> lines = readJsonLines(json);
    QCOMPARE(outcomesOf(lines), QStringList({"answered", "summary"}));
    QCOMPARE(lines[0].value("reply").toString().toLatin1(), "OK " + idOf(numbered(1)));
    QCOMPARE_LT(lines[0].value("rtt_ms").toDouble(), 350.0);
}

void tst_Send::reportsAreWholeWhenTheOutputReaderIsGone_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("linesRead"); // before the reader goes; -1: it never came
    QTest::addColumn<QStringList>("outcomes"); // empty: any, fewer than the records
    QTest::newRow("at the first log line") << QStringList() << 1 << -1 << QStringList({"not-sent", "summary"});
    QTest::newRow("at the summary") << QStringList{"--quiet"} << 1 << -1 << QStringList({"answered", "summary"});
    // As `| head -2`: the writes that find the reader gone look whole to the stream.
    QTest::newRow("after two lines") << QStringList() << 999 << 2 << QStringList();
}

void tst_Send::reportsAreWholeWhenTheOutputReaderIsGone()
{
    // As under `ipnd-send ... | head -1`: the summary's write ends the program.
    QFETCH(QStringList, options);
    QFETCH(int, records);
    QFETCH(int, linesRead);
    QFETCH(QStringList, outcomes);
    ScriptedReceiver server;
    QVERIFY(server.listen());
    const QString file = writeFile(QStringLiteral("many.dat"), numberedLines(records));
    const QString json = dir.filePath(QStringLiteral("run.jsonl"));
    int gone[2] = {-1, -1};
    QCOMPARE(::pipe2(gone, O_CLOEXEC), 0);
    QCOMPARE(::fcntl(gone[0], F_SETFL, O_NONBLOCK), 0);
    if (linesRead < 0)
        ::close(gone[0]);
    QProcess sender;
    QSignalSpy finished(&sender, &QProcess::finished);
    // Standard output into a pipe nobody reads, with SIGPIPE as a shell leaves it.
    const int output = gone[1];
    sender.setChildProcessModifier([output] {
        ::dup2(output, STDOUT_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
    });
    sender.start(QStringLiteral(IPND_SEND),
                 to(server.port()) + QStringList{"--replay", file, "--period", "0", "--report", json} + options);
    if (linesRead >= 0) {
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            char piece[4096];
            for (ssize_t n; (n = ::read(gone[0], piece, sizeof piece)) > 0;)
                seen.append(piece, n);
            return seen.count('\n') >= linesRead;
        }(), 10000);
        ::close(gone[0]);
    }
    QVERIFY(finished.wait(20000));
    ::close(gone[1]);
    QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sender.exitCode(), 128 + SIGPIPE);
    const QList<QJsonObject> lines = readJsonLines(json);
    if (outcomes.isEmpty())
        QCOMPARE_LT(lines.size(), records + 1);
    else
        QCOMPARE(outcomesOf(lines), outcomes);
    // A log line that could not go out ends the run as a signal would.
    QCOMPARE(lines.last().value("summary").toObject().value("interrupted").toBool(), !options.contains("--quiet"));
}

// Conformance runs: the manifest decides each record's verdict.

namespace {

QByteArray entry(int seq, const QByteArray &id, const QByteArray &expect, bool arrives = true)
{
    return "{\"seq\": " + QByteArray::number(seq) + ", \"id\": \"" + id + "\", \"expect\": \"" + expect
        + "\", \"arrives\": " + (arrives ? "true" : "false") + "}\n";
}

// The JUnit report's suites: name, then "tests/failures" and each test case
// as "name" or "name: failure message".
QMap<QString, QStringList> junitSuites(const QString &path)
{
    QMap<QString, QStringList> suites;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QString suite;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"testsuite") {
            suite = a.value("name").toString();
            suites[suite] << a.value("tests").toString() + '/' + a.value("failures").toString();
        } else if (xml.name() == u"testcase") {
            suites[suite] << a.value("name").toString();
        } else if (xml.name() == u"failure") {
            suites[suite].last() += ": " + a.value("message").toString();
        }
    }
    if (xml.hasError())
        return {{QStringLiteral("error"), {xml.errorString()}}};
    return suites;
}

// A table of the page by its id, a row a list of cells; a marked cell ends in "!".
QList<QStringList> htmlTable(const QByteArray &page, const QString &id)
{
    QList<QStringList> rows;
    QXmlStreamReader xml(page);
    bool inTable = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"table")
            inTable = false;
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"table")
            inTable = xml.attributes().value("id") == id;
        else if (inTable && xml.name() == u"tr")
            rows.append(QStringList());
        else if (inTable && (xml.name() == u"td" || xml.name() == u"th")) {
            const bool marked = xml.attributes().value("class").contains(u"fail");
            rows.last() << xml.readElementText() + (marked ? "!" : "");
        }
    }
    return rows;
}

} // namespace

void tst_Send::conformanceOutcomesInEveryReport()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    const QByteArray id[7] = {{}, idOf(numbered(1)), idOf(numbered(2)), idOf(numbered(3)),
                              idOf(numbered(4)), idOf(numbered(5)), idOf(numbered(6))};
    server.answer(id[1], "ACK " + id[1]);
    server.answer(id[2], "NAK " + id[2] + " too-wide");
    server.answer(id[3], "ACK " + id[3]);                        // a broken record taken
    server.answer(id[4], "NAK " + id[4]);                        // a valid one refused
    server.answer(id[5], QByteArray("what?"));
    server.answer(id[6], std::nullopt);
    const QString data = writeFile(QStringLiteral("conform.dat"),
                                   numberedLines(2) + "not a log line\n"
                                       + rawLine(numbered(3)) + "no entry planned this\n" + rawLine(numbered(4))
                                       + rawLine(numbered(5))
                                       + rawLine(numbered(6)));
    const QString manifest = writeFile(
        QStringLiteral("conform.jsonl"),
        // Any JSON object will do, not only the line as ipnd-gen writes it.
        entry(1, id[1], "valid") + entry(2, id[2], "too-wide")
            + R"({"arrives":false, "expect":"bad-timestamp", "id":"09901999", "seq":3})" + '\n'
            + entry(4, id[3], "bad-char") + entry(5, id[4], "valid") + entry(6, id[5], "valid") + entry(7, id[6], "valid"));
    const auto [json, junit, html, arguments] =
        withReports(server.port(), data, {"--reply-timeout", "0.3", "--manifest", manifest});
    const Run run = send(arguments);

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errors, QByteArray());
    QVERIFY(run.log.contains("Event: false-accept reply to record " + id[3] + " (bad-char): ACK " + id[3]));
    // The counts in the table's own words, and the table, a row a kind:
    // sent, then each outcome.
    QCOMPARE(run.summary.value(0), QByteArray("summary: records read 6, sent 6, accepted 1, refused 1, false-accept 1, "
                                              "false-refuse 1, unexpected 1, unanswered 1, not sent 0, lines rejected 2"));
    QCOMPARE(run.summary.mid(3).size(), 5);
    QCOMPARE(run.summary.value(4).simplified(), QByteArray("valid 4 1 0 0 1 1 1 0 0"));
    QCOMPARE(run.summary.value(5).simplified(), QByteArray("bad-char 1 0 0 1 0 0 0 0 0"));
    QCOMPARE(run.summary.value(6).simplified(), QByteArray("bad-timestamp 0 0 0 0 0 0 0 0 1"));
    QCOMPARE(run.summary.value(7).simplified(), QByteArray("too-wide 1 0 1 0 0 0 0 0 0"));

    const QList<QJsonObject> lines = readJsonLines(json);
    QCOMPARE(outcomesOf(lines), QStringList({"accepted", "refused", "rejected", "false-accept", "rejected",
                                             "false-refuse", "unexpected", "unanswered", "summary"}));
    QStringList expects;
    for (const QJsonObject &line : lines.mid(0, 8))
        expects << line.value("expect").toString() + ' ' + line.value("id").toString();
    QCOMPARE(expects, QStringList({"valid " + id[1], "too-wide " + id[2], "bad-timestamp 09901999", "bad-char " + id[3],
                                   " ", "valid " + id[4], "valid " + id[5], "valid " + id[6]}));
    QCOMPARE(lines[2].value("reason").toString(), QStringLiteral("SRLP: Not a valid record"));
    QCOMPARE(lines[4].value("expect"), QJsonValue(QJsonValue::Null)); // the line no entry planned
    const QJsonObject summary = lines.last().value("summary").toObject();
    QCOMPARE(summary.value("passed"), QJsonValue(false));
    QCOMPARE(summary.value("interrupted"), QJsonValue(false));
    QCOMPARE(summary.value("run").toObject().value("manifest").toString(), manifest);
    QCOMPARE(summary.value("run").toObject().value("format").toString(), QStringLiteral("rawlog"));
    QVERIFY(summary.value("rtt_ms").toObject().contains("p99_9"));
    for (const auto &[word, count] : {std::pair{"accepted", 1}, {"refused", 1}, {"false-accept", 1},
                                      {"false-refuse", 1}, {"unexpected", 1}, {"not-sent", 0}})
        QCOMPARE(summary.value(QLatin1String(word)), QJsonValue(count));
    QVERIFY(!summary.contains("answered"));
    const QJsonObject byExpect = summary.value("by_expect").toObject();
    QCOMPARE(byExpect.keys(), QStringList({"bad-char", "bad-timestamp", "too-wide", "valid"}));
    QCOMPARE(byExpect.value("valid").toObject(),
             QJsonObject({{"sent", 4}, {"accepted", 1}, {"refused", 0}, {"false-accept", 0}, {"false-refuse", 1},
                          {"unexpected", 1}, {"unanswered", 1}, {"not-sent", 0}, {"rejected", 0}}));
    QCOMPARE(byExpect.value("bad-char").toObject().value("false-accept").toInt(), 1);
    QCOMPARE(byExpect.value("bad-timestamp").toObject().value("rejected").toInt(), 1);
    QCOMPARE(byExpect.value("too-wide").toObject().value("refused").toInt(), 1);

    const QMap<QString, QStringList> suites = junitSuites(junit);
    QCOMPARE(suites.keys(), QStringList({"bad-char", "bad-timestamp", "rejected lines", "too-wide", "valid"}));
    // A line no entry planned fails the run, and so its case.
    QCOMPARE(suites["rejected lines"], QStringList({"1/1", "line 5: SRLP: Not a valid record"}));
    QCOMPARE(suites["bad-char"], QStringList({"1/1", id[3] + ": false-accept: bad-char, reply: ACK " + id[3]}));
    QCOMPARE(suites["bad-timestamp"], QStringList({"1/0", "09901999"}));
    QCOMPARE(suites["too-wide"], QStringList({"1/0", id[2]}));
    QCOMPARE(suites["valid"].mid(0, 4), QStringList({"4/3", id[1], id[4] + ": false-refuse: valid, reply: NAK " + id[4],
                                                     id[5] + ": valid: unexpected reply: what?"}));

    const QByteArray page = readFile(html);
    QCOMPARE(readHtml(page).verdictClass, QStringLiteral("failed"));
    const QList<QStringList> table = htmlTable(page, QStringLiteral("by-expect"));
    QCOMPARE(table.value(1), QStringList({"valid", "4", "1", "0", "0", "1!", "1!", "1!", "0", "0"}));
    QCOMPARE(table.value(2), QStringList({"bad-char", "1", "0", "0", "1!", "0", "0", "0", "0", "0"}));
    QCOMPARE(table.value(4), QStringList({"too-wide", "1", "0", "1", "0", "0", "0", "0", "0", "0"}));
    const QList<QStringList> failed = htmlTable(page, QStringLiteral("failed"));
    QCOMPARE(failed.size(), 6);
    QCOMPARE(failed[1].mid(1, 3), QStringList({id[3], "false-accept", "bad-char"}));
    QCOMPARE(failed[1].last(), "ACK " + id[3]);
    QCOMPARE(failed[2].mid(1, 3), QStringList({"", "rejected", ""}));
    QCOMPARE(failed[3].mid(1, 3), QStringList({id[4], "false-refuse", "valid"}));
    const QList<QStringList> rejected = htmlTable(page, QStringLiteral("rejected"));
    QCOMPARE(rejected.value(1).mid(1), QStringList({"09901999", "bad-timestamp", "SRLP: Not a valid record"}));
    QCOMPARE(rejected.value(2).mid(1), QStringList({"", "none planned!", "SRLP: Not a valid record"}));
    const QList<QStringList> described = htmlTable(page, QStringLiteral("run"));
    QCOMPARE(described.value(4), QStringList({"Target", "127.0.0.1:" + QString::number(server.port())}));
    QVERIFY(described.value(3).value(1).endsWith("--manifest " + manifest + " --report " + json + " --junit " + junit
                                                 + " --html " + html));
}

void tst_Send::manifestThatDoesNotFitStopsTheRun_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QList<QByteArray>>("received");
    QTest::addColumn<QByteArray>("error");
    const QByteArray one = idOf(numbered(1));
    const QByteArray two = idOf(numbered(2));
    QTest::newRow("another id") << entry(1, one, "valid") + entry(2, "09901777", "valid")
                                << QList<QByteArray>{one}
                                << "line 2 of the data file holds record " + two
                                       + ", but the manifest's next entry that arrives (seq 2) is record 09901777";
    QTest::newRow("no entry") << entry(1, one, "valid") << QList<QByteArray>{one}
                              << "line 2 of the data file holds record " + two
                                     + ", but the manifest has no entry for it";
    const QByteArray three = idOf(numbered(3));
    const QByteArray all = entry(1, one, "valid") + entry(2, two, "valid") + entry(3, three, "valid");
    QTest::newRow("an entry too many") << all + entry(4, "09901004", "valid") << QList<QByteArray>{one, two, three}
                                       << QByteArray("the data file ended at line 3, but the manifest's entry seq 4, "
                                                     "record 09901004, arrives");
    // An entry that does not arrive stands for a line the reader refused.
    const QByteArray noLine = ", does not arrive, but before line 2 of the data file no line the reader refused or "
                              "dropped is left for it";
    QTest::newRow("an entry with no line") << entry(1, one, "valid") + entry(2, "09901999", "bad-timestamp", false)
                                                  + entry(3, two, "valid") + entry(4, three, "valid")
                                           << QList<QByteArray>{one}
                                           << "the manifest's entry seq 2, record 09901999" + noLine;
    QTest::newRow("an entry with no line at the end")
        << all + entry(4, "09901999", "bad-timestamp", false) << QList<QByteArray>{one, two, three}
        << QByteArray("the manifest's entry seq 4, record 09901999, does not arrive, but after the last record, up "
                      "to the data file's end at line 3, no line the reader refused or dropped is left for it");
    QTest::newRow("not an entry") << entry(1, one, "valid") + "{\"seq\": 2}\n" << QList<QByteArray>{one}
                                  << QByteArray("line 2 of the manifest is not an entry (seq, id, expect, arrives): "
                                                "{\"seq\": 2}");
    QTest::newRow("no kind") << entry(1, one, "valid") + entry(2, two, "") << QList<QByteArray>{one}
                             << "line 2 of the manifest is not an entry (seq, id, expect, arrives): "
                                    + entry(2, two, "").chopped(1);
    const QByteArray huge = R"({"seq": 1e300, "id": ")" + two + R"(", "expect": "valid", "arrives": true})";
    QTest::newRow("seq out of range") << entry(1, one, "valid") + huge + '\n' << QList<QByteArray>{one}
                                      << "line 2 of the manifest is not an entry (seq, id, expect, arrives): " + huge;
    // Read in bounded pieces: a line no entry could fill stops the run.
    QTest::newRow("too long") << entry(1, one, "valid") + entry(2, two, QByteArray(5000, 'x'))
                              << QList<QByteArray>{one}
                              << QByteArray("line 2 of the manifest is longer than any entry");
}

void tst_Send::manifestThatDoesNotFitStopsTheRun()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QList<QByteArray>, received);
    QFETCH(QByteArray, error);
    ScriptedReceiver server;
    QVERIFY(server.listen());
    for (int n = 1; n <= 3; ++n)
        server.answer(idOf(numbered(n)), "ACK " + idOf(numbered(n)));
    // A record after the misfit: the run must not go on to it.
    const QString data = writeFile(QStringLiteral("three.dat"), numberedLines(3));
    const QString file = writeFile(QStringLiteral("three.jsonl"), manifest);

    const Run run = send(to(server.port()) + QStringList{"--replay", data, "--period", "0", "--manifest", file});

    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.errors, "ipnd-send: --manifest " + file.toLocal8Bit() + ": " + error + '\n');
    QCOMPARE(server.idsSeen, received); // stopped before the record went out
    QCOMPARE(std::count_if(run.log.cbegin(), run.log.cend(),
                           [](const QByteArray &line) { return line.startsWith("RSFP: Data Sent"); }),
             received.size());
}

void tst_Send::interruptedRunNeverPasses_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_Send::interruptedRunNeverPasses()
{
    QFETCH(int, signalNumber);
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.answer(idOf(numbered(1)), "ACK " + idOf(numbered(1)));
    server.answer(idOf(numbered(2)), std::nullopt);
    const QString data = writeFile(QStringLiteral("three.dat"), numberedLines(3));
    // A blank line is no entry: the run still has 3 records.
    const QString manifest = writeFile(QStringLiteral("three.jsonl"),
                                       entry(1, idOf(numbered(1)), "valid") + "\n" + entry(2, idOf(numbered(2)), "valid")
                                           + entry(3, idOf(numbered(3)), "valid"));
    QProcess sender;
    QSignalSpy finished(&sender, &QProcess::finished);
    // Whatever the test was started under (nohup), the sender has the signals' defaults.
    sender.setChildProcessModifier([] { ::signal(SIGHUP, SIG_DFL); });
    const auto [json, junit, html, arguments] =
        withReports(server.port(), data, {"--reply-timeout", "60", "--manifest", manifest});
    sender.start(QStringLiteral(IPND_SEND), arguments);
    QTRY_COMPARE_WITH_TIMEOUT(server.idsSeen.size(), 2, 10000);
    QCOMPARE(::kill(pid_t(sender.processId()), signalNumber), 0);
    const Run run = finishedRun(sender, finished);

    QCOMPARE(run.exitCode, 128 + signalNumber);
    const QList<QJsonObject> lines = readJsonLines(json);
    QCOMPARE(outcomesOf(lines), QStringList({"accepted", "unanswered", "summary"}));
    const QJsonObject summary = lines.last().value("summary").toObject();
    QCOMPARE(summary.value("interrupted"), QJsonValue(true));
    QCOMPARE(summary.value("passed"), QJsonValue(false));
    QVERIFY(readFile(html).contains(R"(<p id="verdict" class="failed">Interrupted after 2 of 3 records</p>)"));
    const QMap<QString, QStringList> suites = junitSuites(junit);
    QCOMPARE(suites.value("interrupted"),
             QStringList({"1/1", "interrupted: Interrupted after 2 of 3 records"}));
    QCOMPARE(suites.value("valid").value(0), QStringLiteral("2/1"));
}

void tst_Send::manifestRunOutcomes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("stallMs"); // before the reply to record 1
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outcomes"); // "outcome:expect"
    QTest::addColumn<QByteArray>("logged");
    const QByteArray one = idOf(numbered(1)), two = idOf(numbered(2));
    const QByteArray refused = "not a log line\n";
    // The entry after the last record sent is for a line never read: no outcome.
    QTest::newRow("--count ends the manifest at the last line read")
        << numberedLines(2) + refused + rawLine(numbered(3))
        << entry(1, one, "valid") + entry(2, two, "valid") + entry(3, "09901999", "bad-timestamp", false)
               + entry(4, idOf(numbered(3)), "valid")
        << QStringList{"--period", "0", "--count", "2"} << 0 << 0 << QStringList{"accepted:valid", "accepted:valid"}
        << QByteArray();
    QTest::newRow("a refused line no entry planned")
        << rawLine(numbered(1)) + refused + rawLine(numbered(2)) << entry(1, one, "valid") + entry(2, two, "valid")
        << QStringList{"--period", "0"} << 0 << 1 << QStringList{"accepted:valid", "rejected:", "accepted:valid"}
        << QByteArray();
    // Each kind keeps its own: the refused line's, and the short record's.
    QTest::newRow("a refused line, then a record too short to send")
        << rawLine(numbered(1)) + refused + rawLine("1234") + rawLine(numbered(2))
        << entry(1, one, "valid") + entry(2, "09901999", "bad-timestamp", false) + entry(3, "1234", "too-short", false)
               + entry(4, two, "valid")
        << QStringList{"--period", "0"} << 0 << 0
        << QStringList{"accepted:valid", "rejected:bad-timestamp", "rejected:too-short", "accepted:valid"} << QByteArray();
    // Record 2 comes due 100 ms in, while the only link waits for a reply.
    QTest::newRow("a busy link") << numberedLines(2)
                                 << entry(1, one, "valid") + entry(2, two, "valid") << QStringList{"--period", "0.1"}
                                 << 700 << 1 << QStringList{"not-sent:valid", "accepted:valid"} << QByteArray();
    // Parts the reader dropped when the next record began, none refused.
    QTest::newRow("dropped parts")
        << "0010101" + numbered(1) + "\n0020301" + numbered(7).left(20) + "\n0020302" + numbered(7).mid(20, 20) + "\n0030101"
               + numbered(2) + '\n'
        << entry(1, one, "valid") + entry(2, idOf(numbered(7)), "missing-part", false) + entry(3, two, "valid")
        << QStringList{"--period", "0", "--format", "multipkt"} << 0 << 0
        << QStringList{"accepted:valid", "rejected:missing-part", "accepted:valid"} << QByteArray();
    // A reply both patterns take is no verdict, whatever the kind.
    QTest::newRow("a reply both patterns take")
        << numberedLines(2) << entry(1, one, "valid") + entry(2, two, "too-wide")
        << QStringList{"--period", "0", "--refuse", "(ACK|NAK) {id}"} << 0 << 1
        << QStringList{"unexpected:valid", "unexpected:too-wide"} << QByteArray();
    QTest::newRow("a kind with control bytes")
        << numberedLines(2)
        << entry(1, one, "valid") + entry(2, two, R"(\u001b[2J\u0000\r)") << QStringList{"--period", "0"} << 0 << 1
        << QStringList{"accepted:valid", QStringLiteral("false-accept:\x1b[2J") + QChar(0) + '\r'}
        << "Event: false-accept reply to record " + two + R"( (\x1b[2J\x00\r): ACK )" + two;
}

void tst_Send::manifestRunOutcomes()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, manifest);
    QFETCH(QStringList, extra);
    QFETCH(int, stallMs);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outcomes);
    QFETCH(QByteArray, logged);
    ScriptedReceiver server;
    QVERIFY(server.listen());
    for (int n = 1; n <= 3; ++n)
        server.answer(idOf(numbered(n)), "ACK " + idOf(numbered(n)));
    if (stallMs > 0)
        server.stall(idOf(numbered(1)), stallMs);
    const QString dataFile = writeFile(QStringLiteral("run.dat"), data);
    const QString manifestFile = writeFile(QStringLiteral("run.jsonl"), manifest);
    const QString json = dir.filePath(QStringLiteral("report.jsonl"));
    const Run run =
        send(to(server.port()) + QStringList{"--replay", dataFile, "--manifest", manifestFile, "--report", json} + extra);

    QCOMPARE(run.exitCode, exitCode);
    QStringList read;
    for (const QJsonObject &line : readJsonLines(json)) {
        if (!line.contains("summary"))
            read << line.value("outcome").toString() + ':' + line.value("expect").toString();
    }
    QCOMPARE(read, outcomes);
    if (!logged.isEmpty())
        QVERIFY(run.log.contains(logged));
    // Whatever the manifest holds, the terminal gets printable text.
    for (const QByteArray &line : run.log + run.summary)
        QVERIFY2(std::none_of(line.cbegin(), line.cend(), [](char c) { return uchar(c) < 0x20 && c != '\t'; }),
                 line.constData());
}

void tst_Send::signalEndsAWaitForTheManifest()
{
    // A FIFO whose writer holds back the second entry: the run waits for it
    // after the first reply, and a signal still ends it.
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.answer(idOf(numbered(1)), "ACK " + idOf(numbered(1)));
    const QString data = writeFile(QStringLiteral("two.dat"), numberedLines(2));
    const QString fifo = dir.filePath(QStringLiteral("manifest.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(writer >= 0);
    const auto closeWriter = qScopeGuard([writer] { ::close(writer); });
    const QByteArray first = entry(1, idOf(numbered(1)), "valid");
    QCOMPARE(::write(writer, first.constData(), size_t(first.size())), ssize_t(first.size()));
    const Run run = send(to(server.port()) + QStringList{"--replay", data, "--period", "0", "--manifest", fifo},
                         [](const QByteArray &out) { return out.contains("Data Pkt Rxd"); }, SIGTERM);

    QCOMPARE(run.exitCode, 128 + SIGTERM);
    QCOMPARE(run.errors, QByteArray());
    QVERIFY(run.summary.contains("Interrupted after 1 records"));
}

void tst_Send::latencyRunsFromTheIntendedTime_data()
{
    QTest::addColumn<QStringList>("backlog");
    QTest::addColumn<int>("sent");
    // Records 4 to 30 come due while the receiver sits on record 3.
    QTest::newRow("all wait their turn") << QStringList() << 30;
    QTest::newRow("a backlog of 5") << QStringList{"--max-backlog", "5"} << 8;
}

void tst_Send::latencyRunsFromTheIntendedTime()
{
    QFETCH(QStringList, backlog);
    QFETCH(int, sent);
    // One connection, a record due every 10 ms, and a receiver that stalls
    // for 500 ms on the third: the records due meanwhile wait, and their
    // latency shows it while their round trip does not.
    ScriptedReceiver server;
    QVERIFY(server.listen());
    server.stall(idOf(numbered(3)), 500);
    const QString file = writeFile(QStringLiteral("stall.dat"), numberedLines(30));
    const QString json = dir.filePath(QStringLiteral("stall.jsonl"));
    const QString html = dir.filePath(QStringLiteral("stall.html"));

    const Run run = send(to(server.port())
                         + QStringList{"--replay", file, "--rate", "100", "--report", json, "--html", html, "--progress", "0.1"}
                         + backlog);

    QCOMPARE(run.exitCode, sent == 30 ? 0 : 1);
    QCOMPARE(run.summary.value(0), summaryLine({.read = 30, .sent = sent, .answered = sent, .notSent = 30 - sent}));
    QCOMPARE(run.log.count("RSFP: Link busy, not sent: " + numbered(sent + 1)), sent == 30 ? 0 : 1);
    const QList<QJsonObject> lines = readJsonLines(json);
    QCOMPARE(lines.size(), 31);
    // A record the full backlog refused keeps its number: none is skipped.
    qint64 lastSeq = 0;
    for (const QJsonObject &line : lines.mid(0, 30))
        lastSeq = std::max(lastSeq, line.value("seq").toInteger());
    QCOMPARE(lastSeq, qint64(30));
    // Record 4 was due 30 ms in and went out after the reply to record 3,
    // at 520 ms at the soonest.
    // Lines go out as records end: the fourth is found by its seq.
    const QJsonObject fourth = *std::find_if(lines.begin(), lines.end(),
                                             [](const QJsonObject &line) { return line.value("seq").toInteger() == 4; });
    QCOMPARE(fourth.value("outcome").toString(), QStringLiteral("answered"));
    const double latency = fourth.value("latency_ms").toDouble();
    const double rtt = fourth.value("rtt_ms").toDouble();
    QVERIFY2(latency - rtt >= 480, qPrintable(QStringLiteral("latency %1 ms, round trip %2 ms").arg(latency).arg(rtt)));
    QVERIFY(fourth.value("connect_ms").isDouble());
    const QJsonObject summary = lines.last().value("summary").toObject();
    QVERIFY(summary.value("latency_ms").toObject().value("max").toDouble() >= 480);
    QVERIFY(summary.value("latency_ms").toObject().value("p99_9").isDouble());
    // Most records waited their turn: their median latency is the wait's, not the round trip's.
    QVERIFY(summary.value("latency_ms").toObject().value("p50").toDouble()
                - summary.value("rtt_ms").toObject().value("p50").toDouble()
            >= 100);
    QVERIFY(run.summary.value(3).startsWith("latency ms from the intended send time: min "));
    // The rate the schedule meant, beside the one reached.
    QVERIFY2(QRegularExpression(QStringLiteral(R"(^rate: .*, target \d+\.\d\d \(\d+ due\)$)"))
                 .match(QString::fromLatin1(run.summary.value(2)))
                 .hasMatch(),
             run.summary.value(2).constData());
    QVERIFY(summary.value("target_rate").isDouble());
    QVERIFY(readFile(html).contains("Latency p99.9 ms"));
    // Progress lines for a CI log, though standard error is no terminal.
    const QRegularExpression progress(QStringLiteral(
        R"(^progress: \d+\.\d s, sent \d+, answered \d+, unexpected 0, unanswered 0, not sent \d+, backlog \d+, )"
        R"(rate \d+\.\d/s, target 100\.0/s, p99 (\d+\.\d{3}|-) ms$)"));
    const QList<QByteArray> status = run.errors.split('\n');
    QVERIFY2(status.size() > 3, run.errors.constData());
    for (const QByteArray &line : status.mid(0, status.size() - 1))
        QVERIFY2(progress.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void tst_Send::progressShowsTheLatencyAtARate()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    // Each packet written 100 ms after its connection comes up: the records
    // due meanwhile wait, while the round trips stay short.
    const QString file = writeFile(QStringLiteral("delayed.dat"), numberedLines(4));
    const Run run = send(to(server.port())
                         + QStringList{"--replay", file, "--rate", "100", "--misbehave", "delay:100", "--progress", "0.1"});
    QCOMPARE(run.exitCode, 0);
    static const QRegularExpression P99(QStringLiteral(R"(, p99 (\d+\.\d+) ms$)"));
    double p99 = 0;
    for (const QByteArray &line : run.errors.split('\n')) {
        if (const QRegularExpressionMatch match = P99.match(QString::fromLatin1(line)); match.hasMatch())
            p99 = std::max(p99, match.captured(1).toDouble());
    }
    QVERIFY2(p99 >= 50, run.errors.constData());
}

void tst_Send::recordedPaceQueuesRecordsOfOneTime()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    // Logged at the same time: the second, due at once, waits for the one connection.
    const QByteArray line = "2026-12-09 10:00:00.000\tTCPIN\t127.0.0.1:50003\t";
    const QString file = writeFile(QStringLiteral("one-time.dat"), line + numbered(1) + '\n' + line + numbered(2) + '\n');
    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--pace", "Recorded"});
    QCOMPARE(run.summary.value(0), summaryLine({.read = 2, .sent = 2, .answered = 2}));
}

void tst_Send::recordedPaceKeepsTheGaps()
{
    ScriptedReceiver server;
    QVERIFY(server.listen());
    // Twice as fast: 0, 200 ms, then a line logged earlier and one whose
    // time is not read go right after it, then 500 ms.
    const QByteArray fields = "\tTCPIN\t127.0.0.1:50003\t";
    const QString file = writeFile(QStringLiteral("capture.dat"),
                                   "2026-12-09 10:00:00.000" + fields + numbered(1) + "\n2026-12-09 10:00:00.400"
                                       + fields + numbered(2) + "\n2026-12-09 10:00:00.300" + fields + numbered(3)
                                       + "\n09/12/2026 10:00:07" + fields + numbered(4) + "\n2026-12-09T10:00:01,0009"
                                       + fields + numbered(5) + '\n');
    const QString json = dir.filePath(QStringLiteral("paced.jsonl"));
    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--pace", "Recorded", "--speed", "2",
                                                         "--connections", "2", "--quiet", "--report", json});
    QCOMPARE(run.exitCode, 0);
    QMap<qint64, QDateTime> sentAt;
    QMap<qint64, double> intendedMs; // when each was due: its writing less its wait (latency - round trip)
    for (const QJsonObject &line : readJsonLines(json)) {
        if (line.contains("seq")) {
            const QDateTime sent = QDateTime::fromString(line.value("sent_at").toString(), Qt::ISODateWithMs);
            sentAt.insert(line.value("seq").toInteger(), sent);
            QVERIFY(line.value("latency_ms").isDouble()); // from the recorded time
            intendedMs.insert(line.value("seq").toInteger(),
                              double(sent.toMSecsSinceEpoch()) + line.value("rtt_ms").toDouble()
                                  - line.value("latency_ms").toDouble());
        }
    }
    QCOMPARE(sentAt.size(), 5);
    // The earlier line and the one without a time were due with the one before, not before it.
    for (qint64 seq = 2; seq <= 5; ++seq)
        QCOMPARE_GE(intendedMs.value(seq), intendedMs.value(seq - 1) - 5);
    const QList<qint64> intended{0, 200, 200, 200, 500};
    for (qint64 seq = 1; seq <= 5; ++seq) {
        const qint64 offset = sentAt.first().msecsTo(sentAt.value(seq));
        // Measured from the first record's sending, which its connection's
        // set-up may hold up by a few milliseconds.
        QVERIFY2(offset >= intended[seq - 1] - 10 && offset < intended[seq - 1] + 250,
                 qPrintable(QStringLiteral("record %1 went out %2 ms after the first").arg(seq).arg(offset)));
    }
}

void tst_Send::loopRunsForTheDuration()
{
    // Three records looped at 40 a second for half a second: 20 come due.
    ScriptedReceiver server;
    QVERIFY(server.listen());
    const QString file = writeFile(QStringLiteral("loop.dat"), numberedLines(3));

    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--rate", "40", "--duration", "0.5",
                                                         "--loop", "--quiet"});

    QCOMPARE(run.exitCode, 0);
    // A loaded machine may reach the end before the last few come due.
    QVERIFY2(server.idsSeen.size() >= 15 && server.idsSeen.size() <= 20, run.summary.value(0).constData());
    for (qsizetype i = 0; i < server.idsSeen.size(); ++i)
        QCOMPARE(server.idsSeen[i], idOf(numbered(int(i % 3) + 1)));
    QVERIFY(run.errors.isEmpty());
}

void tst_Send::loopStartsASequenceAfresh()
{
    // The file ends within a sequence of two parts: the next pass starts
    // with nothing held, not with that part as a duplicate of its first line.
    ScriptedReceiver server;
    QVERIFY(server.listen());
    const QString file =
        writeFile(QStringLiteral("cut.dat"), "0010101" + numbered(1) + "\n0020201" + numbered(2).left(20) + '\n');

    const Run run = send(to(server.port()) + QStringList{"--replay", file, "--format", "multipkt", "--period", "0",
                                                         "--count", "3", "--loop"});

    QVERIFY2(run.exitCode == 0, (run.summary.join('\n') + '\n' + run.log.join('\n')).constData());
    QCOMPARE(server.idsSeen, QList<QByteArray>(3, idOf(numbered(1))));
    QCOMPARE(run.log.count("SFIP: Found duplicate sequence pkt"), 0);
    QCOMPARE(run.log.count("SFIP: End of data file"), 2);
}

void tst_Send::handshakesGoSideBySide()
{
    // Handshakes that never complete: each of the four links asks for its
    // connection before the first gives up on its own.
    PendingListener listener;
    QVERIFY(listener.port() != 0);
    const QString file = writeFile(QStringLiteral("pending.dat"), numberedLines(4));

    const Run run = send(to(listener.port()) + QStringList{"--replay", file, "--period", "0", "--connections", "4",
                                                           "--connect-timeout", "0.5"});

    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.summary.value(0), summaryLine({.read = 4, .notSent = 4}));
    QList<QByteArray> asked, failed;
    for (const QByteArray &line : run.log) {
        if (line.contains("TCP TCP Originate"))
            asked << line.left(4);
        else if (line.contains("Event: Socket error") && asked.size() < 4)
            failed << line;
    }
    QCOMPARE(asked, (QList<QByteArray>{"[1] ", "[2] ", "[3] ", "[4] "}));
    QCOMPARE(failed, QList<QByteArray>());
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(run.log.count("[" + QByteArray::number(n) + "] RSFP: No connection, not sent: " + numbered(n)), 1);
    // Nothing went out, and the log does not say it did.
    for (const QByteArray &line : run.log)
        QVERIFY2(!line.contains("Data Sent"), line.constData());
}

QTEST_MAIN(tst_Send)
#include "tst_send.moc"
