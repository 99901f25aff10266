#include "report/LogHistogram.h"
#include "sender/LoadSchedule.h"
#include "sender/Manifest.h"
#include "sender/PeriodSchedule.h"
#include "sender/RunSummary.h"
#include "sender/SendOptions.h"
#include "testpackets/TestRecords.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <future>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The arguments as the program gets them; help and version go to `out`.
ParsedSendArguments parse(const QStringList &arguments, std::FILE *out = nullptr)
{
    std::FILE *sink = out ? out : std::tmpfile();
    ParsedSendArguments parsed = parseSendArguments(QStringList{QStringLiteral("ipnd-send")} + arguments, sink);
    if (!out)
        std::fclose(sink);
    return parsed;
}

QByteArray printed(std::FILE *file)
{
    QByteArray text(1 << 16, '\0');
    std::rewind(file);
    text.resize(qsizetype(std::fread(text.data(), 1, size_t(text.size()), file)));
    return text;
}

} // namespace

namespace {
// The exact nearest-rank percentile (0 < p <= 100) of the values; 0 for none:
// what the histogram's figures are held against.
double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = qsizetype(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<qsizetype>(rank - 1, 0, values.size() - 1)];
}
} // namespace

class tst_SendOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void goodArguments_data();
    void goodArguments();
    void badArgumentsNameTheArgument_data();
    void badArgumentsNameTheArgument();
    void numericBounds_data();
    void numericBounds();
    void helpAndVersion();
    void histogramPercentilesAreWithinOnePercent_data();
    void histogramPercentilesAreWithinOnePercent();
    void quickExchangeNeverGetsASecondTurn_data();
    void quickExchangeNeverGetsASecondTurn();
    void intendedTimes_data();
    void intendedTimes();
    void recordsComeDueOnTheTestClock();
    void stagesShapeTheRate_data();
    void stagesShapeTheRate();
    void durationAndCountEndTheSchedule_data();
    void durationAndCountEndTheSchedule();
    void backlogKeepsOrderAndBound();
    void progressLine_data();
    void progressLine();
    void progressIntervals();
    void percentiles_data();
    void percentiles();
    void exitStatus_data();
    void exitStatus();
    void summaryText();
    void manifestReadToItsEnd_data();
    void manifestReadToItsEnd();
    void droppedPartsHaveAReasonOfTheirOwn();

private:
    QTemporaryDir dir;
    QString dataFile;
};

void tst_SendOptions::initTestCase()
{
    QVERIFY(dir.isValid());
    dataFile = dir.filePath(QStringLiteral("ipnd.dat"));
    QFile file(dataFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x\n");
}

void tst_SendOptions::goodArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("period");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<int>("connectMs");
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QString>("host");
    const QStringList base = {"--host", "127.0.0.1", "--port", "50003"};
    QTest::newRow("standard") << base + QStringList{"--record", "standard"} << TestRecords::Standard << QString() << 1.0
                              << qint64(-1) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("max, equals form, quiet")
        << QStringList{"--host=127.0.0.1", "--port=50003", "--record=max", "--quiet"} << TestRecords::Max << QString()
        << 1.0 << qint64(-1) << 10000 << 10000 << true << QString("127.0.0.1");
    QTest::newRow("noadd with timeouts")
        << base + QStringList{"--record", "noadd", "--connect-timeout", "0.25", "--reply-timeout", "3"}
        << TestRecords::NoAdd << QString() << 1.0 << qint64(-1) << 250 << 3000 << false << QString("127.0.0.1");
    QTest::newRow("replay defaults") << base + QStringList{"--replay", "FILE"} << QByteArray() << "RAWLOG" << 1.0
                                     << qint64(-1) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("replay multipkt, fraction, count")
        << base + QStringList{"--replay", "FILE", "--format", "multipkt", "--period", "0.2", "--count", "20"}
        << QByteArray() << "MULTIPKT" << 0.2 << qint64(20) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("choices in any letter case")
        << base + QStringList{"--replay", "FILE", "--format", " MultiPkt"} << QByteArray() << "MULTIPKT" << 1.0
        << qint64(-1) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("record in capitals") << base + QStringList{"--record", "NOADD"} << TestRecords::NoAdd << QString()
                                        << 1.0 << qint64(-1) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("closed loop") << base + QStringList{"--replay", "FILE", "--period", "0"} << QByteArray() << "RAWLOG"
                                 << 0.0 << qint64(-1) << 10000 << 10000 << false << QString("127.0.0.1");
    QTest::newRow("IPv6 in brackets") << QStringList{"--host", " [::1] ", "--port", "50003", "--record", "min"}
                                      << TestRecords::Min << QString() << 1.0 << qint64(-1) << 10000 << 10000 << false
                                      << QString("::1");
}

void tst_SendOptions::goodArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, record);
    QFETCH(QString, format);
    QFETCH(double, period);
    QFETCH(qint64, count);
    QFETCH(int, connectMs);
    QFETCH(int, replyMs);
    QFETCH(bool, quiet);
    QFETCH(QString, host);
    arguments.replaceInStrings(QStringLiteral("FILE"), dataFile);
    const ParsedSendArguments parsed = parse(arguments);
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const SendOptions &o = *parsed.options;
    QCOMPARE(o.host, host);
    QCOMPARE(o.port, QStringLiteral("50003"));
    QCOMPARE(o.mode, record.isEmpty() ? SendOptions::Mode::Replay : SendOptions::Mode::Record);
    QCOMPARE(o.record, record);
    QCOMPARE(o.mode == SendOptions::Mode::Replay ? QString(dataFormatName(o.format)) : QString(), format);
    QCOMPARE(o.replayFile, record.isEmpty() ? dataFile : QString());
    QCOMPARE(o.periodSeconds, period);
    QCOMPARE(o.count, count);
    QCOMPARE(o.connectTimeoutMs, connectMs);
    QCOMPARE(o.replyTimeoutMs, replyMs);
    QCOMPARE(o.quiet, quiet);
}

void tst_SendOptions::badArgumentsNameTheArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    const QStringList hostPort = {"--host", "127.0.0.1", "--port", "50003"};
    QTest::newRow("nothing") << QStringList() << "--host is required";
    QTest::newRow("no port") << QStringList{"--host", "127.0.0.1", "--record", "min"} << "--port is required";
    QTest::newRow("empty host") << QStringList{"--host", " ", "--port", "1", "--record", "min"}
                                << "--host: no address given";
    for (const char *port : {"abc", "0", "65536", "-1", ""})
        QTest::newRow(qPrintable(QStringLiteral("port %1").arg(port)))
            << QStringList{"--host", "127.0.0.1", "--port", port, "--record", "min"}
            << QStringLiteral("--port: \"%1\" is not a port number (1 to 65535)").arg(port);
    QTest::newRow("neither") << hostPort << "give either --record or --replay";
    QTest::newRow("both") << hostPort + QStringList{"--record", "min", "--replay", "FILE"}
                          << "give either --record or --replay";
    QTest::newRow("bad record") << hostPort + QStringList{"--record", "huge"}
                                << "--record: \"huge\" is not standard, noadd, long, min or max";
    QTest::newRow("ca without tls") << hostPort + QStringList{"--record", "min", "--ca", "FILE"}
                                    << "--ca goes with --tls";
    QTest::newRow("cert without key") << hostPort + QStringList{"--record", "min", "--tls", "--cert", "FILE"}
                                      << "--cert and --key go together";
    QTest::newRow("insecure with ca") << hostPort + QStringList{"--record", "min", "--tls", "--insecure", "--ca", "FILE"}
                                      << "--insecure checks no certificate: it does not go with --ca";
    QTest::newRow("period with record") << hostPort + QStringList{"--record", "min", "--period", "1"}
                                        << "--period goes with --replay, not --record";
    QTest::newRow("missing file") << hostPort + QStringList{"--replay", "/nonexistent/ipnd.dat"}
                                  << "--replay: \"/nonexistent/ipnd.dat\" is not a readable file";
    QTest::newRow("bad format") << hostPort + QStringList{"--replay", "FILE", "--format", "RAW"}
                                << "--format: \"RAW\" is not rawlog or multipkt";
    QTest::newRow("negative period") << hostPort + QStringList{"--replay", "FILE", "--period", "-1"}
                                     << "--period: \"-1\" is not 0 or a number of seconds from 0.001 to 86400";
    QTest::newRow("period text") << hostPort + QStringList{"--replay", "FILE", "--period", "fast"}
                                 << "--period: \"fast\" is not 0 or a number of seconds from 0.001 to 86400";
    QTest::newRow("count 0") << hostPort + QStringList{"--replay", "FILE", "--count", "0"}
                             << "--count: \"0\" is not a whole number of 1 or more";
    QTest::newRow("count fraction") << hostPort + QStringList{"--replay", "FILE", "--count", "2.5"}
                                    << "--count: \"2.5\" is not a whole number of 1 or more";
    QTest::newRow("zero connect timeout") << hostPort + QStringList{"--record", "min", "--connect-timeout", "0"}
                                          << "--connect-timeout: \"0\" is not a number of seconds from 0.001 to 86400";
    QTest::newRow("bad reply timeout") << hostPort + QStringList{"--record", "min", "--reply-timeout", "soon"}
                                       << "--reply-timeout: \"soon\" is not a number of seconds from 0.001 to 86400";
    QTest::newRow("unknown option") << hostPort + QStringList{"--record", "min", "--verbose"}
                                    << "unknown option --verbose";
    QTest::newRow("stray argument") << hostPort + QStringList{"--record", "min", "extra"}
                                    << "unexpected argument \"extra\"";
    QTest::newRow("value missing") << QStringList{"--host", "127.0.0.1", "--port"} << "--port needs a value";
    QTest::newRow("twice") << hostPort + QStringList{"--record", "min", "--port", "2"} << "--port is given twice";
    QTest::newRow("flag twice") << hostPort + QStringList{"--record", "min", "--quiet", "--quiet"}
                                << "--quiet is given twice";
    QTest::newRow("stages with rate") << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:5", "--rate", "5"}
                                      << "--stages takes the place of --rate";
    QTest::newRow("stages with duration")
        << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:5", "--duration", "5"}
        << "--stages takes the place of --duration";
    QTest::newRow("stage without a rate") << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:5,2s"}
                                          << "--stages: \"2s\" in \"1s:5,2s\" is not DURATION:RATE, such as 30s:100";
    QTest::newRow("stage of no time") << hostPort + QStringList{"--replay", "FILE", "--stages", "0.5ms:5"}
                                      << "--stages: \"0.5ms:5\" in \"0.5ms:5\" does not last from 1ms to 24h";
    QTest::newRow("stage in days") << hostPort + QStringList{"--replay", "FILE", "--stages", "2d:5"}
                                   << "--stages: \"2d:5\" in \"2d:5\" does not last from 1ms to 24h";
    QTest::newRow("stage rate negative") << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:-1"}
        << "--stages: \"1s:-1\" in \"1s:-1\" does not end at a rate from 0 to 1000000 records per second";
    QTest::newRow("stages never sending") << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:0,1m:0"}
                                          << "--stages: \"1s:0,1m:0\" never sends: no stage has a rate above 0";
    QTest::newRow("stages over a day") << hostPort + QStringList{"--replay", "FILE", "--stages", "24h:1,1s:1"}
                                       << "--stages: \"24h:1,1s:1\" lasts longer than 24h";
    QTest::newRow("ramp-up with stages") << hostPort + QStringList{"--replay", "FILE", "--stages", "1s:5", "--ramp-up", "1"}
                                         << "--stages takes the place of --ramp-up";
    QTest::newRow("speed alone") << hostPort + QStringList{"--replay", "FILE", "--speed", "2"}
                                 << "--speed goes with --pace recorded";
    QTest::newRow("pace unknown") << hostPort + QStringList{"--replay", "FILE", "--pace", "fast"}
                                  << "--pace: \"fast\" is not recorded";
    QTest::newRow("pace of multipkt") << hostPort + QStringList{"--replay", "FILE", "--format", "multipkt", "--pace", "recorded"}
                                      << "--pace recorded needs --format rawlog: MULTIPKT lines carry no time";
    QTest::newRow("speed zero") << hostPort + QStringList{"--replay", "FILE", "--pace", "recorded", "--speed", "0"}
                                << "--speed: \"0\" is not a number from 0.001 to 1000";
    QTest::newRow("pace with rate") << hostPort + QStringList{"--replay", "FILE", "--pace", "recorded", "--rate", "5"}
                                    << "--pace recorded does not go with --rate";
    QTest::newRow("pace with loop")
        << hostPort + QStringList{"--replay", "FILE", "--pace", "recorded", "--loop", "--count", "3"}
        << "--pace recorded does not go with --loop";
    QTest::newRow("bad threshold") << hostPort + QStringList{"--record", "min", "--max-p99", "soon"}
                                   << "--max-p99: \"soon\" is not a number of milliseconds above 0";
    // A value no reader takes is named first, whatever else is missing.
    QTest::newRow("bad threshold, no host") << QStringList{"--max-p99", "soon"}
                                            << "--max-p99: \"soon\" is not a number of milliseconds above 0";
    QTest::newRow("manifest is the data") << hostPort + QStringList{"--replay", "FILE", "--manifest", "FILE"}
                                          << "--manifest: \"FILE\" is the data file itself";
    QTest::newRow("manifest with loop")
        << hostPort + QStringList{"--replay", "FILE", "--loop", "--count", "2", "--manifest", "/dev/null"}
        << "--loop does not go with --manifest";
    QTest::newRow("empty brackets") << QStringList{"--host", "[]", "--port", "1", "--record", "min"}
                                    << "--host: no address given";
    QTest::newRow("loop on standard input") << hostPort + QStringList{"--replay", "-", "--loop", "--count", "2"}
                                            << "--loop cannot start standard input (--replay -) again";
    // Options of the open loop mean nothing without it, whatever else is given.
    QTest::newRow("backlog with a period") << hostPort + QStringList{"--replay", "FILE", "--period", "0", "--max-backlog", "5"}
                                           << "--max-backlog goes with --rate, --stages or --pace";
    QTest::newRow("ramp-up with a duration")
        << hostPort + QStringList{"--replay", "FILE", "--duration", "5", "--ramp-up", "2", "--connections", "2"}
        << "--ramp-up goes with --rate";
    QTest::newRow("report over the data") << hostPort + QStringList{"--replay", "FILE", "--report", "FILE"}
                                          << "--report would overwrite the file of --replay \"FILE\"";
}

void tst_SendOptions::badArgumentsNameTheArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    arguments.replaceInStrings(QStringLiteral("FILE"), dataFile);
    error.replace(QStringLiteral("FILE"), dataFile);
    const ParsedSendArguments parsed = parse(arguments);
    QVERIFY(!parsed.options);
    QCOMPARE(parsed.error, error);
}

void tst_SendOptions::percentiles_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("expected");
    QTest::newRow("none") << QList<double>() << 50.0 << 0.0;
    QTest::newRow("one") << QList<double>{4} << 99.0 << 4.0;
    QTest::newRow("median of four is the second") << QList<double>{4, 1, 3, 2} << 50.0 << 2.0;
    QList<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred << i;
    QTest::newRow("p99 of 1..100") << hundred << 99.0 << 99.0;
    QTest::newRow("max") << hundred << 100.0 << 100.0;
    QTest::newRow("min") << hundred << 0.0001 << 1.0;
    QList<double> thousand;
    for (int i = 1; i <= 1000; ++i)
        thousand << i;
    QTest::newRow("p99 of 1..1000") << thousand << 99.0 << 990.0;
}

void tst_SendOptions::percentiles()
{
    QFETCH(QList<double>, values);
    QFETCH(double, p);
    QFETCH(double, expected);
    QCOMPARE(percentile(values, p), expected);
}

void tst_SendOptions::exitStatus_data()
{
    QTest::addColumn<qint64>("read");
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("answered");
    QTest::addColumn<qint64>("tooShort");
    QTest::addColumn<qint64>("failures");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("status");
    QTest::newRow("all answered") << qint64(5) << qint64(5) << qint64(5) << qint64(0) << qint64(0) << true << 0;
    QTest::newRow("nothing read") << qint64(0) << qint64(0) << qint64(0) << qint64(0) << qint64(0) << false << 1;
    QTest::newRow("nothing long enough to send")
        << qint64(2) << qint64(0) << qint64(0) << qint64(2) << qint64(0) << false << 1;
    QTest::newRow("one unanswered") << qint64(5) << qint64(5) << qint64(4) << qint64(0) << qint64(0) << true << 1;
    QTest::newRow("one not sent") << qint64(5) << qint64(4) << qint64(4) << qint64(0) << qint64(1) << true << 1;
    QTest::newRow("too short to send") << qint64(3) << qint64(1) << qint64(1) << qint64(2) << qint64(0) << true << 0;
    QTest::newRow("never reached") << qint64(3) << qint64(0) << qint64(0) << qint64(0) << qint64(3) << false << 3;
}

void tst_SendOptions::exitStatus()
{
    QFETCH(qint64, read);
    QFETCH(qint64, sent);
    QFETCH(qint64, answered);
    QFETCH(qint64, tooShort);
    QFETCH(qint64, failures);
    QFETCH(bool, connected);
    QFETCH(int, status);
    RunSummary summary;
    summary.counts.read = read;
    summary.counts.sent = sent;
    summary.counts.answered = answered;
    summary.counts.unanswered = sent - answered;
    summary.counts.tooShort = tooShort;
    summary.connectFailures = failures;
    summary.everConnected = connected;
    QCOMPARE(summary.exitStatus(), status);
}

void tst_SendOptions::summaryText()
{
    RunSummary summary;
    summary.counts.read = 4;
    summary.counts.sent = 3;
    summary.counts.answered = 2;
    summary.counts.unanswered = 1;
    summary.counts.rejected = 7;
    summary.roundTrips.add(2.5);
    summary.roundTrips.add(0.5);
    summary.elapsedSeconds = 1.5;
    QCOMPARE(summary.text(),
             QByteArray("summary: records read 4, sent 3, answered 2, unexpected 0, unanswered 1, not sent 1, lines rejected 7\n"
                        "round trip ms: min 0.500, median 0.500, p99 2.500, max 2.500\n"
                        "rate: 2.00 records per second (3 sent in 1.500 s)\n"));
    summary.roundTrips = {};
    QVERIFY(summary.text().contains("\nround trip ms: none\n"));

    // The figures the reports take: each percentile its own.
    for (int ms = 1; ms <= 100; ++ms)
        summary.roundTrips.add(ms);
    const RunFigures figures = summary.figures();
    const RunCounts &counts = figures.counts;
    QCOMPARE((QList<qint64>{counts.read, counts.sent, counts.answered, counts.unanswered, counts.notSent,
                            counts.rejected}),
             (QList<qint64>{4, 3, 2, 1, 1, 7}));
    QVERIFY(figures.rttMs);
    const QList<std::pair<double, double>> rtt{{figures.rttMs->min, 1}, {figures.rttMs->p50, 50}, {figures.rttMs->p90, 90},
                                               {figures.rttMs->p99, 99}, {figures.rttMs->max, 100}};
    for (const auto &[read, exact] : rtt)
        QVERIFY2(std::abs(read - exact) <= 0.01 * exact, qPrintable(QStringLiteral("%1 for %2").arg(read).arg(exact)));
    QCOMPARE(figures.elapsedSeconds, 1.5);
    // The rate the schedule meant: the records that came due, sent or not.
    summary.dueRecords = 6;
    QCOMPARE(summary.figures().targetRate, std::optional<double>(4.0));
}

void tst_SendOptions::numericBounds_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("taken"); // as kept: seconds, milliseconds or a number
    const auto row = [](const char *option, const char *value, bool accepted, double taken = 0) {
        QTest::addRow("--%s %s", option, value) << option << value << accepted << taken;
    };
    // Just below, at and just above both ends; `scale` turns a value into what is kept.
    const auto bounds = [&](const char *option, const char *under, const char *least, const char *most,
                            const char *over, double scale = 1) {
        row(option, under, false);
        row(option, least, true, QByteArray(least).toDouble() * scale);
        row(option, most, true, QByteArray(most).toDouble() * scale);
        row(option, over, false);
    };
    bounds("port", "0", "1", "65535", "65536");
    bounds("period", "0.000999", "0.001", "86400", "86400.001");
    row("period", "0", true, 0);
    row("period", "1e-300", false);
    row("period", "1e300", false);
    bounds("count", "0", "1", "9223372036854775807", "9223372036854775808");
    bounds("connections", "0", "1", "256", "257");
    bounds("rate", "0.000999", "0.001", "1000000", "1000000.1");
    bounds("max-backlog", "-1", "0", "1000000", "1000001");
    for (const char *timeout : {"duration", "ramp-up", "progress"})
        bounds(timeout, "0", "0.001", "86400", "86400.001");
    bounds("reply-gap", "0", "1", "86400000", "86400001");
    bounds("speed", "0.000999", "0.001", "1000", "1000.1");
    for (const char *timeout : {"connect-timeout", "reply-timeout"})
        bounds(timeout, "0.000999", "0.001", "86400", "86400.001", 1000);
}

void tst_SendOptions::numericBounds()
{
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(bool, accepted);
    QFETCH(double, taken);
    QStringList arguments = {"--host", "127.0.0.1", "--port", option == "port" ? value : "50003", "--replay", dataFile};
    if (option != "port")
        arguments << "--" + option << value;
    if (option == "max-backlog" || option == "ramp-up")
        arguments << "--rate" << "1";
    if (option == "speed")
        arguments << "--pace" << "recorded" << "--format" << "rawlog";

    const ParsedSendArguments parsed = parse(arguments);
    if (!accepted) {
        QVERIFY(!parsed.options);
        QVERIFY2(parsed.error.startsWith("--" + option + ": \"" + value + '"'), qPrintable(parsed.error));
        return;
    }
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const SendOptions &o = *parsed.options;
    const QHash<QString, double> kept = {{"port", o.port.toDouble()},
                                         {"period", o.periodSeconds},
                                         {"count", double(o.count)},
                                         {"connections", double(o.connections)},
                                         {"rate", o.rate},
                                         {"max-backlog", double(o.maxBacklog)},
                                         {"duration", o.durationSeconds},
                                         {"ramp-up", o.rampUpSeconds},
                                         {"progress", o.progressSeconds},
                                         {"connect-timeout", double(o.connectTimeoutMs)},
                                         {"reply-timeout", double(o.replyTimeoutMs)},
                                         {"reply-gap", double(o.replyGapMs)},
                                         {"speed", o.speed}};
    QCOMPARE(kept.value(option), taken);
}

void tst_SendOptions::helpAndVersion()
{
    std::FILE *out = std::tmpfile();
    QVERIFY(parse({"--version"}, out).printed);
    QCOMPARE(printed(out), QByteArray("ipnd-send 1.10.23\n"));
    std::fclose(out);

    out = std::tmpfile();
    QVERIFY(parse({"--host=127.0.0.1", "--help"}, out).printed);
    const QByteArray help = printed(out);
    std::fclose(out);
    QVERIFY2(help.startsWith("Usage: ipnd-send [options]\n"), help.constData());
    // Every option has a line that says what it does.
    for (const char *option : {"--host <HOST>", "--port <N>", "--record <NAME>", "--replay <FILE>",
                               "--format <rawlog|multipkt>", "--period <SECONDS>", "--count <N>", "--connections <N>",
                               "--connect-timeout <SECONDS>", "--reply-timeout <SECONDS>", "--quiet", "--version"}) {
        const qsizetype at = help.indexOf(QByteArray(" ") + option);
        QVERIFY2(at >= 0, option);
        const QByteArray line = help.mid(at, help.indexOf('\n', at) - at);
        QVERIFY2(line.simplified().size() > qsizetype(qstrlen(option)) + 10, line.constData());
    }
}

void tst_SendOptions::histogramPercentilesAreWithinOnePercent_data()
{
    QTest::addColumn<QList<double>>("samples");
    QList<double> spread; // round trips from 20 microseconds to 3 s, most near 1 ms
    quint32 state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        const double unit = double(state >> 8) / double(1u << 24);
        spread << 0.02 * std::pow(150000.0, unit * unit);
    }
    QTest::newRow("spread") << spread;
    QList<double> steps;
    for (int i = 1; i <= 1000; ++i)
        steps << i * 0.25;
    QTest::newRow("steps") << steps;
    QTest::newRow("two far apart") << QList<double>{0.05, 40000};
    QTest::newRow("one") << QList<double>{7.3};
}

void tst_SendOptions::histogramPercentilesAreWithinOnePercent()
{
    QFETCH(QList<double>, samples);
    LogHistogram histogram;
    for (double sample : samples)
        histogram.add(sample);
    QCOMPARE(histogram.count(), samples.size());
    for (double p : {0.0001, 1.0, 10.0, 25.0, 50.0, 75.0, 90.0, 99.0, 99.9, 100.0}) {
        const double exact = percentile(samples, p);
        const double read = histogram.percentile(p);
        QVERIFY2(std::abs(read - exact) <= 0.01 * exact,
                 qPrintable(QStringLiteral("p%1: %2 against %3").arg(p).arg(read).arg(exact)));
    }
    QCOMPARE(histogram.min(), percentile(samples, 0.0001));
    QCOMPARE(histogram.max(), percentile(samples, 100));
}

void tst_SendOptions::quickExchangeNeverGetsASecondTurn_data()
{
    QTest::addColumn<double>("periodSeconds");
    QTest::addColumn<qint64>("exchangeNs"); // from a period's start to the end of its exchange
    // Periods that are not whole milliseconds, where the starts are rounded.
    for (double period : {0.0104, 0.0015, 0.3333, 1.0005, 0.2}) {
        for (qint64 exchange : {qint64(0), qint64(1), qint64(300000)})
            QTest::addRow("%g s, exchange %lld ns", period, static_cast<long long>(exchange)) << period << exchange;
    }
}

void tst_SendOptions::quickExchangeNeverGetsASecondTurn()
{
    QFETCH(double, periodSeconds);
    QFETCH(qint64, exchangeNs);
    const double periodNs = periodSeconds * 1e9;
    PeriodSchedule schedule(periodNs);
    qint64 start = 0;
    for (qint64 k = 1; k <= 2000; ++k) {
        // The sleep ends at the start asked for, and the exchange is quick.
        const qint64 next = schedule.next(start + exchangeNs);
        QVERIFY2(next == std::llround(double(k) * periodNs),
                 qPrintable(QStringLiteral("period %1 starts at %2 ns after %3 ns").arg(k).arg(next).arg(start)));
        start = next;
    }
    // A late exchange skips the slots that passed, and does not bunch up.
    const qint64 late = schedule.next(start + qint64(2.5 * periodNs));
    QCOMPARE(late, std::llround(double(2001 + 2) * periodNs));
}

namespace {
// Time as a test sets it.
class TestClock final : public RunClock
{
public:
    qint64 nsecsElapsed() const override { return ns; }
    qint64 ns = 0;
};

constexpr qint64 Ms = 1000000;
} // namespace

void tst_SendOptions::intendedTimes_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("rampUp");
    QTest::addColumn<qint64>("index");
    QTest::addColumn<qint64>("intendedNs");
    QTest::newRow("first at the start") << 4.0 << 0.0 << qint64(0) << qint64(0);
    QTest::newRow("i / rate") << 4.0 << 0.0 << qint64(3) << 750 * Ms;
    QTest::newRow("a third") << 3.0 << 0.0 << qint64(1) << qint64(333333333);
    QTest::newRow("fast") << 1e6 << 0.0 << qint64(1000001) << 1000 * Ms + 1000;
    // 100 a second after 2 s: 100 records come due during the ramp, as
    // many as in the one second at full rate that the ramp takes the place of.
    QTest::newRow("ramp: first at the start") << 100.0 << 2.0 << qint64(0) << qint64(0);
    QTest::newRow("ramp: a quarter of its records by half its time") << 100.0 << 2.0 << qint64(25) << 1000 * Ms;
    QTest::newRow("ramp: half of its records") << 100.0 << 2.0 << qint64(50) << qint64(1414213562);
    QTest::newRow("ramp: its end") << 100.0 << 2.0 << qint64(100) << 2000 * Ms;
    QTest::newRow("ramp: then the full rate") << 100.0 << 2.0 << qint64(101) << 2010 * Ms;
}

void tst_SendOptions::intendedTimes()
{
    QFETCH(double, rate);
    QFETCH(double, rampUp);
    QFETCH(qint64, index);
    QFETCH(qint64, intendedNs);
    TestClock clock;
    const LoadSchedule schedule({rate, rampUp, 0, -1, {}}, clock);
    QCOMPARE(schedule.intendedNs(index), intendedNs);
}

void tst_SendOptions::stagesShapeTheRate_data()
{
    QTest::addColumn<qint64>("index");
    QTest::addColumn<qint64>("intendedNs"); // -1: never due
    QTest::addColumn<double>("rateAt");     // the target rate at intendedNs, or after the end
    // Up to 100 a second over 2 s (100 records), held 1 s (100), down to 0
    // over 2 s (100): 300 records in 5 s.
    QTest::newRow("first at the start") << qint64(0) << qint64(0) << 0.0;
    QTest::newRow("rising: half of its records") << qint64(50) << qint64(1414213562) << 70.711;
    QTest::newRow("held: its start") << qint64(100) << 2000 * Ms << 100.0;
    QTest::newRow("held: its middle") << qint64(150) << 2500 * Ms << 100.0;
    QTest::newRow("falling: half of its records") << qint64(250) << qint64(3585786438) << 70.711;
    QTest::newRow("falling: the last record") << qint64(299) << 4800 * Ms << 10.0;
    QTest::newRow("none after the stages") << qint64(300) << qint64(-1) << 0.0;
}

void tst_SendOptions::stagesShapeTheRate()
{
    QFETCH(qint64, index);
    QFETCH(qint64, intendedNs);
    QFETCH(double, rateAt);
    const ParsedSendArguments parsed = parse({"--host", "127.0.0.1", "--port", "1", "--replay", dataFile, "--stages",
                                              "2s:100, 1000ms:100,0.0333333333333333m:0"});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const SendOptions &o = *parsed.options;
    QCOMPARE(o.durationSeconds, 5.0);
    TestClock clock;
    LoadSchedule schedule({o.rate, o.rampUpSeconds, o.durationSeconds, o.count, o.stages}, clock);
    const qint64 due = schedule.intendedNs(index);
    QCOMPARE(due, intendedNs < 0 ? std::numeric_limits<qint64>::max() : intendedNs);
    QCOMPARE(std::round(schedule.rateAt(intendedNs < 0 ? 6000 * Ms : due) * 1000) / 1000, rateAt);
    clock.ns = 6000 * Ms;
    qint64 taken = 0;
    while (schedule.takeDue())
        ++taken;
    QCOMPARE(taken, qint64(300));
    QVERIFY(schedule.ended());
}

void tst_SendOptions::recordsComeDueOnTheTestClock()
{
    TestClock clock;
    LoadSchedule schedule({4, 0, 0, -1, {}}, clock);
    QCOMPARE(schedule.takeDue(), std::optional<qint64>(0));
    QCOMPARE(schedule.takeDue(), std::optional<qint64>());
    QCOMPARE(schedule.wakeNs(), 250 * Ms);
    clock.ns = 250 * Ms - 1;
    QCOMPARE(schedule.takeDue(), std::optional<qint64>());
    clock.ns = 250 * Ms;
    QCOMPARE(schedule.takeDue(), std::optional<qint64>(250 * Ms));
    // A run that fell behind gets every record that came due meanwhile, each
    // with its own intended time: none is skipped, none moved.
    clock.ns = 1100 * Ms;
    QList<qint64> due;
    while (const std::optional<qint64> next = schedule.takeDue())
        due << *next;
    QCOMPARE(due, (QList<qint64>{500 * Ms, 750 * Ms, 1000 * Ms}));
    QCOMPARE(schedule.wakeNs(), 1250 * Ms);
    QVERIFY(!schedule.ended());
}

void tst_SendOptions::durationAndCountEndTheSchedule_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<int>("records");
    QTest::addColumn<qint64>("lastWakeNs"); // -1: no wake once the records are out
    // At 4 a second, a record due exactly at the end is not sent.
    QTest::newRow("duration") << 1.0 << qint64(-1) << 4 << 1000 * Ms;
    QTest::newRow("duration between records") << 1.1 << qint64(-1) << 5 << 1100 * Ms;
    QTest::newRow("count") << 0.0 << qint64(3) << 3 << qint64(-1);
    QTest::newRow("count before the duration") << 10.0 << qint64(2) << 2 << 10000 * Ms;
    QTest::newRow("duration before the count") << 0.5 << qint64(9) << 2 << 500 * Ms;
}

void tst_SendOptions::durationAndCountEndTheSchedule()
{
    QFETCH(double, duration);
    QFETCH(qint64, count);
    QFETCH(int, records);
    QFETCH(qint64, lastWakeNs);
    TestClock clock;
    LoadSchedule schedule({4, 0, duration, count, {}}, clock);
    int taken = 0;
    for (; clock.ns <= 20000 * Ms && !schedule.ended(); clock.ns += Ms)
        taken += schedule.takeDue().has_value();
    QCOMPARE(taken, records);
    QCOMPARE(schedule.takeDue(), std::optional<qint64>());
    // Records still waiting may go out until the duration is over, and not after.
    QCOMPARE(schedule.wakeNs(), lastWakeNs);
    QVERIFY(!schedule.durationOver());
    if (duration > 0) {
        // A run that reaches the last record only after the end still gets it.
        LoadSchedule late({4, 0, duration, count, {}}, clock);
        clock.ns = 30000 * Ms;
        int takenLate = 0;
        while (late.takeDue())
            ++takenLate;
        QCOMPARE(takenLate, records);
        clock.ns = lastWakeNs - 1;
        QVERIFY(!schedule.durationOver());
        clock.ns = lastWakeNs;
        QVERIFY(schedule.durationOver());
        QCOMPARE(schedule.wakeNs(), qint64(-1));
        // The progress line's target: nothing comes due once the run's time is up.
        QCOMPARE(schedule.rateAt(lastWakeNs - 1), 4.0);
        QCOMPARE(schedule.rateAt(lastWakeNs), 0.0);
    }
}

void tst_SendOptions::backlogKeepsOrderAndBound()
{
    Backlog<int> backlog(3);
    for (int n = 1; n <= 3; ++n)
        QVERIFY(backlog.push(n));
    QVERIFY(!backlog.push(4));
    QCOMPARE(backlog.size(), qint64(3));
    QCOMPARE(backlog.pop(), std::optional<int>(1));
    QVERIFY(backlog.push(5));
    QList<int> rest;
    while (const std::optional<int> n = backlog.pop())
        rest << *n;
    QCOMPARE(rest, (QList<int>{2, 3, 5}));
    Backlog<int> none(0);
    QVERIFY(!none.push(1));
    QCOMPARE(none.pop(), std::optional<int>());
}

void tst_SendOptions::progressLine_data()
{
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<double>("rate");
    QTest::addColumn<std::optional<double>>("p99");
    QTest::addColumn<QByteArray>("line");
    const QByteArray counts = "sent 7, answered 4, unexpected 1, unanswered 2, not sent 3";
    QTest::newRow("figures") << 12.04 << 1999.96 << std::optional<double>(3.25)
                             << "progress: 12.0 s, " + counts + ", rate 2000.0/s, p99 3.250 ms\n";
    QTest::newRow("no reply in the interval") << 0.96 << 0.0 << std::optional<double>()
                                              << "progress: 1.0 s, " + counts + ", rate 0.0/s, p99 - ms\n";
    // An open loop's backlog, and the rate its schedule means at the time.
    QTest::newRow("open loop") << 2.0 << 49.94 << std::optional<double>(1.0)
                               << "progress: 2.0 s, " + counts + ", backlog 5, rate 49.9/s, target 62.5/s, p99 1.000 ms\n";
}

void tst_SendOptions::progressLine()
{
    QFETCH(double, elapsed);
    QFETCH(double, rate);
    QFETCH(std::optional<double>, p99);
    QFETCH(QByteArray, line);
    ProgressFigures figures;
    figures.elapsedSeconds = elapsed;
    figures.counts.sent = 7;
    figures.counts.answered = 4;
    figures.counts.unexpected = 1;
    figures.counts.unanswered = 2;
    figures.counts.notSent = 3;
    figures.intervalRate = rate;
    figures.intervalP99Ms = p99;
    if (line.contains("target")) {
        figures.targetRate = 62.5;
        figures.backlog = 5;
    }
    QCOMPARE(::progressLine(figures), line);
}

void tst_SendOptions::progressIntervals()
{
    // Each line's rate and p99 are its own interval's, not the run's so far.
    ProgressIntervals intervals;
    intervals.replied(40);
    const ProgressFigures first = intervals.next(2'000'000'000, RunCounts{.sent = 100});
    QCOMPARE(first.elapsedSeconds, 2.0);
    QCOMPARE(first.counts.sent, qint64(100));
    QCOMPARE(first.intervalRate, 50.0);
    QCOMPARE(first.intervalP99Ms.has_value(), true);
    intervals.replied(2);
    const ProgressFigures second = intervals.next(2'500'000'000, RunCounts{.sent = 110});
    QCOMPARE(second.intervalRate, 20.0);
    QVERIFY2(std::abs(*second.intervalP99Ms - 2) < 0.05, qPrintable(QString::number(*second.intervalP99Ms)));
    const ProgressFigures third = intervals.next(3'500'000'000, RunCounts{.sent = 110});
    QCOMPARE(third.intervalRate, 0.0);
    QCOMPARE(third.intervalP99Ms, std::optional<double>());
}

namespace {
QByteArray entryLine(int seq, const QByteArray &expect, bool arrives = true)
{
    return "{\"seq\": " + QByteArray::number(seq) + ", \"id\": \"" + QByteArray::number(seq) + "\", \"expect\": \""
        + expect + "\", \"arrives\": " + (arrives ? "true" : "false") + "}\n";
}
} // namespace

void tst_SendOptions::manifestReadToItsEnd_data()
{
    QTest::addColumn<QString>("kind");     // "file", "pipe", or "fifo" with no writer
    QTest::addColumn<QByteArray>("first"); // there when it is opened
    QTest::addColumn<QByteArray>("later"); // a pipe's, written as the reader waits; none: the wait is stopped
    QTest::addColumn<QList<QByteArray>>("kinds");
    const QByteArray a = entryLine(1, "valid"), b = entryLine(2, "too-wide").chopped(1);
    const QList<QByteArray> both{"valid", "too-wide"};
    QTest::newRow("no line end at the end") << "file" << a + b << QByteArray() << both;
    QTest::newRow("pipe paused inside a line") << "pipe" << a + b.left(9) << b.mid(9) << both;
    QTest::newRow("pipe stopped while waiting") << "pipe" << a << QByteArray() << QList<QByteArray>{"valid"};
    QTest::newRow("fifo with no writer") << "fifo" << QByteArray() << QByteArray() << QList<QByteArray>();
    // Kinds as they are, each its own: control bytes, and beyond Latin-1.
    QTest::newRow("kinds") << "file"
                           << entryLine(1, R"(\u001b[2J\u0000)") + entryLine(2, R"(\u263a)") + entryLine(3, R"(\u2639)")
                                  + entryLine(4, R"(\u00e9)")
                           << QByteArray()
                           << QList<QByteArray>{QByteArray("\x1b[2J\0", 5), "\xe2\x98\xba", "\xe2\x98\xb9", "\xe9"};
}

void tst_SendOptions::manifestReadToItsEnd()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, later);
    QFETCH(QList<QByteArray>, kinds);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("m.jsonl"));
    int pipe[2] = {-1, -1};
    if (kind == QLatin1String("pipe")) {
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        QCOMPARE(::write(pipe[1], first.constData(), size_t(first.size())), ssize_t(first.size()));
        path = QStringLiteral("/proc/self/fd/%1").arg(pipe[0]);
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(first) == first.size());
    }
    const auto closePipe = qScopeGuard([&] { ::close(pipe[0]), ::close(pipe[1]); });
    ManifestReader reader;
    reader.setKeepWaiting([&] {
        [[maybe_unused]] const ssize_t n = ::write(pipe[1], later.constData(), size_t(later.size()));
        ::close(std::exchange(pipe[1], -1));
        return !std::exchange(later, {}).isEmpty();
    });
    QString error;
    std::future<bool> opening = std::async(std::launch::async, [&] { return reader.open(path, &error); });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // The open waits for a writer: one comes, so that it returns.
        ::close(::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        opening.wait();
        QFAIL("the open waited for a writer");
    }
    QCOMPARE(opening.get(), kind != QLatin1String("fifo"));
    QList<QByteArray> read;
    for (; reader.peek(); reader.take())
        read << reader.peek()->expect;
    QCOMPARE(read, kinds);
    QCOMPARE(reader.error(), QString());
    QCOMPARE(reader.stopped(), kind == QLatin1String("pipe") && kinds.size() == 1);
    if (kind == QLatin1String("fifo"))
        QVERIFY2(error.endsWith(QLatin1String("no process is writing to the pipe")), qPrintable(error));
}

void tst_SendOptions::droppedPartsHaveAReasonOfTheirOwn()
{
    // Two entries that do not arrive between records 1 and 2, over four lines
    // that went into no record, one refused.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("m.jsonl")));
    const QByteArray manifest =
        entryLine(1, "valid") + entryLine(2, "bad-header", false) + entryLine(3, "missing-part", false) + entryLine(4, "valid");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(manifest) == manifest.size());
    file.close();
    QString error;
    QList<QByteArray> reasons;
    ManifestMatch match(*ReplyExpectation::fromPattern("ACK {id}", &error), *ReplyExpectation::fromPattern("NAK", &error),
                        [&](OutcomeRecord &&record) { reasons << record.reason; });
    QVERIFY(match.open(file.fileName(), &error));
    QVERIFY(match.recordRead("1", 1, true, 0));
    match.lineRejected("SFIP: Dumping pkt out of sequence");
    QVERIFY(match.recordRead("4", 6, true, 4));
    QCOMPARE(reasons, (QList<QByteArray>{"SFIP: Dumping pkt out of sequence",
                                         "Not sent: the reader put no record together from its lines"}));
}

QTEST_MAIN(tst_SendOptions)
#include "tst_sendoptions.moc"
