// The verdict on replies, the thresholds and the three reports of a run.

#include "report/ReportOptions.h"
#include "ReportFiles.h"
#include "report/LogHistogram.h"
#include "platform/OutputFile.h"
#include "report/Reports.h"

#include <QCommandLineParser>
#include <QDir>
#include <QScopeGuard>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QDateTime Start = QDateTime::fromString(QStringLiteral("2026-12-08T21:40:01.123Z"), Qt::ISODateWithMs);
const QByteArray OddReply("ERR\r\n\x01\xe9", 7);
const QByteArray OddId("10\x01\x7f", 4);
const QString OddIdShown = QStringLiteral(R"(10\x01\x7f)");

// One line of each kind, in the order a run meets them.
QList<OutcomeRecord> knownRun()
{
    return {
        {1, Outcome::Answered, "1001", 2.5, QByteArray("OK 1001"), Start, 1, {}, {}, false, {}, {}},
        {2, Outcome::Unexpected, OddId, 3.25, OddReply, Start.addMSecs(100), 2, {}, {}, false, {}, {}},
        {3, Outcome::Rejected, {}, {}, {}, {}, 0, "RSFP: Line 3 has 2 fields, not 53", {}, false, {}, {}},
        {4, Outcome::Unanswered, "1004", {}, {}, Start.addMSecs(300), 3, "Event: No reply within 100 ms: connection closed", {}, false, {}, {}},
        {5, Outcome::NotSent, "1005", {}, {}, {}, 0, "Event: Send failed", {}, false, {}, {}},
    };
}

RunFigures knownFigures()
{
    RunFigures figures;
    for (const OutcomeRecord &record : knownRun())
        figures.count(record);
    // Made up, and each one different, so that no figure can stand in for another.
    figures.rttMs = RunFigures::RoundTrips{2.5, 2.75, 2.9, 3.1, 3.25, 3.25};
    figures.elapsedSeconds = 0.5;
    return figures;
}

} // namespace

class tst_Report : public QObject
{
    Q_OBJECT

private slots:
    void eachOutcomeInEveryReport();
    void cutShortRunLeavesReadableReports();
    void pageCatchesUpWithoutFurtherRecords();
    void pageStaysSmallForLongRuns();
    void pageRendersInBrowser();
    void chartsOfARun_data();
    void chartsOfARun();
    void reportsIntoPipes();
    void fullDiskLeavesTheLastWholeReports();
    void manyKindsHoldFewDescriptors();
    void expectation_data();
    void expectation();
    void unexpectedReplyLine();
    void thresholds_data();
    void thresholds();
    void maxP99JudgesLatencyWhenThereIsOne_data();
    void maxP99JudgesLatencyWhenThereIsOne();
    void options_data();
    void options();
    void logHistogram_data();
    void logHistogram();
    void runCountsByOutcome();
};

void tst_Report::eachOutcomeInEveryReport()
{
    QTemporaryDir dir;
    ReportOptions options;
    options.reportFile = dir.filePath(QStringLiteral("run.jsonl"));
    options.junitFile = dir.filePath(QStringLiteral("run.xml"));
    options.htmlFile = dir.filePath(QStringLiteral("run.html"));
    Reports reports;
    QString error;
    QVERIFY2(reports.open(options, QStringLiteral("ipnd-send 127.0.0.1:5000"), &error), qPrintable(error));
    // Over several connections exchanges end out of file order: each one is
    // in the reports as it ends, none held back for those before it.
    const QList<OutcomeRecord> run = knownRun();
    const QList<int> order{1, 0, 2, 4, 3};
    for (qsizetype n = 0; n < order.size(); ++n) {
        reports.add(run.at(order[n]));
        const QList<QJsonObject> lines = readJsonLines(options.reportFile);
        QCOMPARE(lines.size(), n + 1);
        QCOMPARE(lines.last().value("seq").toInteger(), run.at(order[n]).seq);
        // Until the end a failing case stands for the run not finished.
        const JUnit cases = readJUnit(options.junitFile);
        QCOMPARE(cases.names.size(), n + 2);
        QCOMPARE(cases.names.last(), QStringLiteral("unfinished"));
    }
    const QStringList missed{QStringLiteral("threshold missed: --min-rate: 10.00 records per second, limit 20 records per second")};
    RunFigures figures = knownFigures();
    const QString met = QStringLiteral("threshold met: --max-p99: p99 round trip 3.100 ms, limit 10 ms");
    figures.thresholdsMet = {met};
    figures.targetRate = 8.0;
    reports.finish(figures, missed, false);
    QCOMPARE(reports.takeErrors(), QStringList());

    QMap<qint64, QJsonObject> bySeq;
    const QList<QJsonObject> lines = readJsonLines(options.reportFile);
    QCOMPARE(lines.size(), 6);
    for (const QJsonObject &line : lines.first(5))
        bySeq.insert(line.value("seq").toInteger(), line);
    const QStringList outcomes{"answered", "unexpected", "rejected", "unanswered", "not-sent"};
    for (int i = 0; i < 5; ++i) {
        const OutcomeRecord record = knownRun().at(i);
        const QJsonObject line = bySeq.value(record.seq);
        QCOMPARE(line.value("outcome").toString(), outcomes[i]);
        QCOMPARE(line.contains("id"), record.outcome != Outcome::Rejected);
        QCOMPARE(line.value("id").toString().toLatin1(), record.id);
        QCOMPARE(line.value("rtt_ms").isDouble(), record.rttMs.has_value());
        QCOMPARE(line.value("reply").toString().toLatin1(), record.reply.value_or(QByteArray()));
        QCOMPARE(QDateTime::fromString(line.value("sent_at").toString(), Qt::ISODateWithMs), record.sentAt);
        // A record that never went out has no connection, not connection 0.
        if (record.outcome != Outcome::Rejected)
            QCOMPARE(line.value("connection"),
                     record.connection > 0 ? QJsonValue(record.connection) : QJsonValue(QJsonValue::Null));
    }
    QCOMPARE(bySeq.value(3).value("reason").toString().toLatin1(), knownRun().at(2).reason);
    const QJsonObject summary = lines[5].value("summary").toObject();
    for (const auto &[key, count] : {std::pair{"read", 4}, {"sent", 3}, {"answered", 1}, {"unexpected", 1},
                                     {"unanswered", 1}, {"not-sent", 1}, {"rejected", 1}})
        QCOMPARE(summary.value(QLatin1String(key)).toInt(-1), count);
    QCOMPARE(summary.value("elapsed_s").toDouble(), 0.5);
    const QJsonObject rtt = summary.value("rtt_ms").toObject();
    QCOMPARE(QList<double>({rtt.value("min").toDouble(), rtt.value("p50").toDouble(), rtt.value("p90").toDouble(),
                            rtt.value("p99").toDouble(), rtt.value("max").toDouble()}),
             QList<double>({2.5, 2.75, 2.9, 3.1, 3.25}));
    QCOMPARE(summary.value("rate").toDouble(), 6.0);
    QCOMPARE(summary.value("target_rate").toDouble(), 8.0);
    QCOMPARE(summary.value("thresholds_missed").toArray(), QJsonArray::fromStringList(missed));
    QCOMPARE(summary.value("thresholds_met").toArray(), QJsonArray{met});

    // Every line is a case, and a failed run has failures: each record that
    // failed or was not sent, each threshold missed. A rejected line is
    // skipped, a threshold met passes. The records' suite counts what the
    // summary calls read; the lines rejected and the run's own cases have
    // suites of their own.
    const JUnit junit = readJUnit(options.junitFile);
    QCOMPARE(junit.error, QString());
    QCOMPARE(junit.names, QStringList({OddIdShown, "1001", "1005", "1004", "line 3", "threshold --max-p99",
                                       "threshold --min-rate"}));
    const QString records = QStringLiteral("ipnd-send 127.0.0.1:5000");
    QCOMPARE(junit.suites.keys(), QStringList({records, "rejected lines", "run"}));
    const auto counts = [&](const QString &suite) {
        const QXmlStreamAttributes &a = junit.suites.value(suite);
        return QStringList{a.value(QLatin1String("tests")).toString(), a.value(QLatin1String("failures")).toString(),
                           a.value(QLatin1String("skipped")).toString()};
    };
    QCOMPARE(counts(records), QStringList({"4", "3", "0"}));
    QCOMPARE(counts("rejected lines"), QStringList({"1", "0", "1"}));
    QCOMPARE(counts("run"), QStringList({"2", "1", "0"}));
    QCOMPARE(junit.suites.value(records).value(QLatin1String("timestamp")).toString(), isoTime(Start));
    QCOMPARE(junit.failures, (QMap<QString, QString>{{OddIdShown, R"(unexpected reply: ERR\r\n\x01\xe9)"},
                                                      {"1004", "Event: No reply within 100 ms: connection closed"},
                                                      {"1005", "Event: Send failed"},
                                                      {"threshold --min-rate", missed.first()}}));
    QCOMPARE(junit.skipped, (QMap<QString, QString>{{"line 3", "RSFP: Line 3 has 2 fields, not 53"}}));

    const QByteArray page = readFile(options.htmlFile);
    QVERIFY2(page.startsWith("<!DOCTYPE html>\n<html"), page.left(40).constData());
    const Html html = readHtml(page);
    QCOMPARE(html.error, QString());
    QCOMPARE(html.externalReferences, QStringList());
    QCOMPARE(html.verdictClass, QStringLiteral("failed"));
    QCOMPARE(html.summary.value("Unexpected"), QStringLiteral("1"));
    QCOMPARE(html.summary.value("Lines rejected"), QStringLiteral("1"));
    QCOMPARE(html.summary.value("Round trip median ms"), QStringLiteral("2.750"));
    QCOMPARE(html.summary.value("Round trip p90 ms"), QStringLiteral("2.900"));
    QCOMPARE(html.summary.value("Round trip p99 ms"), QStringLiteral("3.100"));
    QCOMPARE(html.svgs, 2);
    // Each round trip in the bin that holds it: 2.5 ms in 2 to 2.51, 3.25 in 3.16 to 3.98.
    QVERIFY(page.contains("<title>2 to 2.51 ms: 1</title>"));
    QVERIFY(page.contains("<title>3.16 to 3.98 ms: 1</title>"));
    QVERIFY(page.contains("<li class=\"passed\">" + met.toLatin1() + "</li>"));
    QCOMPARE(html.failedIds, QStringList({OddIdShown, "1004", "1005"}));
    QCOMPARE(html.failedReplies, QStringList({R"(ERR\r\n\x01\xe9)", "Event: No reply within 100 ms: connection closed",
                                              "Event: Send failed"}));
}

void tst_Report::cutShortRunLeavesReadableReports()
{
    // What a crash leaves: the writers got their records and never finished.
    QTemporaryDir dir;
    JsonLinesReport json(dir.filePath(QStringLiteral("run.jsonl")));
    JUnitReport junit(dir.filePath(QStringLiteral("run.xml")), QStringLiteral("ipnd-send"));
    HtmlReport html(dir.filePath(QStringLiteral("run.html")), QStringLiteral("ipnd-send"), 0);
    QVERIFY(json.open() && junit.open() && html.open());
    const QList<OutcomeRecord> run = knownRun();
    for (const OutcomeRecord &record : run.first(4)) {
        json.add(record);
        junit.add(record);
        html.add(record);
    }

    QCOMPARE(readJsonLines(dir.filePath(QStringLiteral("run.jsonl"))).size(), 4);
    const JUnit cases = readJUnit(dir.filePath(QStringLiteral("run.xml")));
    QCOMPARE(cases.error, QString());
    // Killed before the end: never read as passed, even with no failure of its own.
    QCOMPARE(cases.names, QStringList({"1001", OddIdShown, "line 3", "1004", "unfinished"}));
    QCOMPARE(cases.suite.value(QLatin1String("tests")).toString(), QStringLiteral("5"));
    QCOMPARE(cases.suite.value(QLatin1String("failures")).toString(), QStringLiteral("3"));
    QCOMPARE(cases.failures.value("unfinished"), QStringLiteral("the run ended before its report was finished"));
    const Html page = readHtml(readFile(dir.filePath(QStringLiteral("run.html"))));
    QCOMPARE(page.error, QString());
    QCOMPARE(page.verdictClass, QStringLiteral("running"));
    QCOMPARE(page.summary.value("Unanswered"), QStringLiteral("1"));
    QCOMPARE(page.failedIds, QStringList({OddIdShown, "1004"}));
}

void tst_Report::pageCatchesUpWithoutFurtherRecords()
{
    // Records that come within the interval, and then no more for a while:
    // the page still shows them once the interval is over.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.html"));
    HtmlReport html(path, QStringLiteral("ipnd-send"), 200);
    QVERIFY(html.open());
    for (const OutcomeRecord &record : knownRun())
        html.add(record);
    QCOMPARE(readHtml(readFile(path)).summary.value("Records read"), QStringLiteral("0"));
    QTRY_COMPARE(readHtml(readFile(path)).summary.value("Records read"), QStringLiteral("4"));
}

void tst_Report::pageStaysSmallForLongRuns()
{
    HtmlReport html(QString(), QStringLiteral("ipnd-send"), std::numeric_limits<int>::max());
    const qint64 records = 100000;
    for (qint64 seq = 1; seq <= records; ++seq) {
        const bool failed = seq % 50 == 0;
        // The slowest is the second of a pair of spans at the first merge.
        const double ms = seq == 2 ? 1000.0 : 0.5 + double(seq % 997) / 10.0;
        html.add({seq, failed ? Outcome::Unanswered : Outcome::Answered, QByteArray::number(seq),
                  failed ? std::nullopt : std::optional<double>(ms),
                  failed ? std::nullopt : std::optional<QByteArray>("OK"), Start, 1, {}, {}, false, {}, {}});
    }
    const QByteArray page = html.page(nullptr, {}, false);
    QVERIFY2(page.size() < 400 * 1024, QByteArray::number(page.size()).constData());
    const Html read = readHtml(page);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.failedIds.size(), HtmlReport::MaxFailedRows);
    QVERIFY(read.paragraphs.contains(QStringLiteral("%1 more failed records are not shown here; the JSON Lines "
                                                    "report (--report) lists every record.")
                                         .arg(records / 50 - HtmlReport::MaxFailedRows)));
    QVERIFY(read.shapes < 2 * HtmlReport::MaxSpans);
    // The chart's scale runs to the slowest round trip, through every merge of spans.
    QVERIFY(page.contains(">1000.000</text>"));
}

void tst_Report::pageRendersInBrowser()
{
    const QString browser = QStandardPaths::findExecutable(QStringLiteral("chromium-headless-shell"));
    if (browser.isEmpty())
        QSKIP("chromium-headless-shell is not installed");
    QTemporaryDir dir;
    HtmlReport html(dir.filePath(QStringLiteral("run.html")), QStringLiteral("ipnd-send"));
    QVERIFY(html.open());
    for (const OutcomeRecord &record : knownRun())
        html.add(record);
    html.finish(knownFigures(), {}, false);

    QProcess chromium;
    chromium.start(browser, {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-background-networking"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                             QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("profile")),
                             QStringLiteral("--dump-dom"),
                             QUrl::fromLocalFile(dir.filePath(QStringLiteral("run.html"))).toString()});
    QVERIFY(chromium.waitForFinished(60000));
    QCOMPARE(chromium.exitCode(), 0);
    // The DOM as the browser built it: the page's own elements in their places.
    const QByteArray dom = chromium.readAllStandardOutput();
    QVERIFY(dom.contains("<table id=\"summary\"><tbody><tr><th>Records read</th><td class=\"n\">4</td></tr>"));
    QCOMPARE(dom.count("<svg id="), 2);
    QCOMPARE(dom.count("<rect "), 2 + 2 + 4); // two histogram bars, two failure marks, four legend swatches
    QVERIFY(dom.contains("<td class=\"t\">1005</td>"));
}

void tst_Report::chartsOfARun_data()
{
    QTest::addColumn<QList<OutcomeRecord>>("records");
    QTest::addColumn<int>("charts");
    QTest::addColumn<int>("failureMarks");
    const auto record = [](qint64 seq, Outcome outcome, std::optional<double> latencyMs) {
        OutcomeRecord r{seq, outcome, QByteArray::number(seq), 2.5, QByteArray("OK"), Start, 1, {}, {}, false, {}, {}};
        r.latencyMs = latencyMs;
        return r;
    };
    QTest::newRow("paced, one unexpected")
        << QList<OutcomeRecord>{record(1, Outcome::Answered, {}), record(2, Outcome::Unexpected, {})} << 2 << 1;
    // With --rate, latency from the intended time gets charts of its own.
    QTest::newRow("at a rate") << QList<OutcomeRecord>{record(1, Outcome::Answered, 40.0),
                                                        record(2, Outcome::Answered, 7.5)}
                               << 4 << 0;
    // A conformance run's right refusal is no failure.
    QTest::newRow("conformance, all right")
        << QList<OutcomeRecord>{record(1, Outcome::Accepted, {}), record(2, Outcome::Refused, {})} << 2 << 0;
    QTest::newRow("conformance, a false accept")
        << QList<OutcomeRecord>{record(1, Outcome::Refused, {}), record(2, Outcome::FalseAccept, {})} << 2 << 1;
}

void tst_Report::chartsOfARun()
{
    QFETCH(QList<OutcomeRecord>, records);
    QFETCH(int, charts);
    QFETCH(int, failureMarks);
    HtmlReport html(QString(), QStringLiteral("ipnd-send"), std::numeric_limits<int>::max());
    for (const OutcomeRecord &record : records)
        html.add(record);
    const QByteArray page = html.page(nullptr, {}, false);
    QCOMPARE(readHtml(page).error, QString());
    QCOMPARE(page.count("<svg "), charts);
    // Every chart names its axes and says what its colours are.
    QCOMPARE(page.count("<g class=\"legend\">"), charts);
    QCOMPARE(page.count("records sent, in order</text>"), charts / 2);
    QCOMPARE(page.count(">replies</text>"), charts / 2);
    QCOMPARE(page.count("failed</title>"), failureMarks * charts / 2);
    if (charts == 4) {
        QVERIFY(page.contains("<svg id=\"latency-histogram\""));
        QVERIFY(page.contains(">latency, ms</text>"));
        // The latency's own scale, not the round trip's; each bin's edges.
        QVERIFY(page.contains(">40.000</text>"));
        QVERIFY(page.contains("<title>6.31 to 7.94 ms: 1</title>"));
        QVERIFY(page.contains(">7.94</text>"));
    }
}

void tst_Report::reportsIntoPipes()
{
    // A pipe the shell made (/dev/fd/N) and a named pipe: the last page goes
    // into each, and the named pipe stays a pipe.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("page")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    int shell[2] = {-1, -1};
    QCOMPARE(::pipe2(shell, O_NONBLOCK | O_CLOEXEC), 0);
    const int fifoReader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fifoReader >= 0);
    for (const auto &[name, reader] : {std::pair{QStringLiteral("/dev/fd/%1").arg(shell[1]), shell[0]},
                                       std::pair{QFile::decodeName(fifo), fifoReader}}) {
        QCommandLineParser parser;
        addReportOptions(parser);
        QVERIFY(parser.parse({QStringLiteral("ipnd-send"), QStringLiteral("--html"), name}));
        ReportOptions options;
        QString error;
        QVERIFY2(readReportOptions(parser, &options, &error), qPrintable(error));
        Reports reports;
        QVERIFY2(reports.open(options, QStringLiteral("run"), &error), qPrintable(error));
        for (const OutcomeRecord &record : knownRun())
            reports.add(record);
        reports.finish(knownFigures(), {}, false);
        QCOMPARE(reports.takeErrors(), QStringList());
        QByteArray page(1 << 16, '\0');
        page.truncate(std::max<qsizetype>(0, ::read(reader, page.data(), size_t(page.size()))));
        QVERIFY2(page.trimmed().endsWith("</html>"), page.right(100).constData());
        QCOMPARE(readHtml(page).failedIds, QStringList({OddIdShown, "1004", "1005"}));
    }
    struct stat info = {};
    QVERIFY(::stat(fifo.constData(), &info) == 0 && S_ISFIFO(info.st_mode));

    // A reader that went before the page: said, and the reports have failed.
    {
        ReportOptions options;
        options.htmlFile = QStringLiteral("/dev/fd/%1").arg(shell[1]);
        Reports reports;
        QString error;
        QVERIFY2(reports.open(options, QStringLiteral("run"), &error), qPrintable(error));
        ::close(shell[0]);
        shell[0] = -1;
        const auto pipeSignal = std::signal(SIGPIPE, SIG_IGN);
        reports.finish(knownFigures(), {}, false);
        std::signal(SIGPIPE, pipeSignal);
        QCOMPARE(reports.takeErrors(), QStringList(options.htmlFile + QStringLiteral(": Broken pipe")));
        QVERIFY(reports.failed());
    }

    // A named pipe nobody reads: refused at once, not waited for in open().
    const QByteArray unread = QFile::encodeName(dir.filePath(QStringLiteral("unread")));
    QCOMPARE(::mkfifo(unread.constData(), 0600), 0);
    for (const bool html : {false, true}) {
        ReportOptions options;
        (html ? options.htmlFile : options.reportFile) = QFile::decodeName(unread);
        Reports reports;
        QString error;
        QVERIFY(!reports.open(options, QStringLiteral("run"), &error));
        QCOMPARE(error, QFile::decodeName(unread) + QStringLiteral(": no process is reading the pipe"));
    }

    // A reader that stopped reading: a signal ends the wait for room in the pipe.
    int full[2] = {-1, -1};
    QCOMPARE(::pipe2(full, O_NONBLOCK | O_CLOEXEC), 0);
    QFile into;
    QVERIFY(into.open(full[1], QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle));
    struct sigaction wake = {};
    wake.sa_handler = [](int) {};
    wake.sa_flags = SA_RESTART; // as the stop signals are handled
    struct sigaction before = {};
    QCOMPARE(::sigaction(SIGALRM, &wake, &before), 0);
    ::alarm(1);
    QString reason;
    QVERIFY(!writeAll(into, QByteArray(1 << 20, 'x'), &reason));
    ::sigaction(SIGALRM, &before, nullptr);
    QCOMPARE(reason, QStringLiteral("stopped while the pipe's reader was not reading"));
    ::close(full[0]);

    // The JUnit counts are rewritten in place: a pipe is refused at once.
    ReportOptions options;
    options.junitFile = QFile::decodeName(fifo);
    Reports reports;
    QString error;
    QVERIFY(!reports.open(options, QStringLiteral("run"), &error));
    QCOMPARE(error, options.junitFile + QStringLiteral(": not a regular file, and a JUnit report is rewritten in place"));
    for (const int fd : {shell[0], shell[1], fifoReader}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void tst_Report::fullDiskLeavesTheLastWholeReports()
{
    if (::geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    QTemporaryDir dir;
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=200k", "tmpfs", disk}) != 0)
        QSKIP("cannot mount a tmpfs here");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {disk}); });
    ReportOptions options;
    options.reportFile = disk + QStringLiteral("/run.jsonl");
    options.junitFile = disk + QStringLiteral("/run.xml");
    options.htmlFile = disk + QStringLiteral("/run.html");
    Reports reports;
    QString error;
    QVERIFY2(reports.open(options, QStringLiteral("run"), &error), qPrintable(error));
    // Long replies and reasons fill the disk within a few dozen records.
    QStringList errors;
    qint64 seq = 0;
    while (errors.size() < 2 && seq < 1000) {
        ++seq;
        const QByteArray id = QByteArray::number(seq);
        reports.add({seq, Outcome::Unexpected, id, 1.5, QByteArray(3000, 'r'), Start, 1, QByteArray(3000, 'w'), {}, false, {}, {}});
        errors += reports.takeErrors();
    }
    reports.finish(knownFigures(), {}, false);
    errors += reports.takeErrors();
    errors.sort();
    QCOMPARE(errors, QStringList({options.htmlFile + ": No space left on device",
                                  options.reportFile + ": No space left on device",
                                  options.junitFile + ": No space left on device"}));
    // Each file is the last whole document it was: lines that parse, a
    // JUnit file whose counts match its cases, a page that reads.
    const QByteArray json = readFile(options.reportFile);
    QVERIFY(json.endsWith('\n'));
    const QList<QJsonObject> lines = jsonLines(json);
    QVERIFY(!lines.isEmpty());
    for (const QJsonObject &line : lines)
        QVERIFY(line.contains("seq"));
    const JUnit junit = readJUnit(options.junitFile);
    QCOMPARE(junit.error, QString());
    QVERIFY(!junit.names.isEmpty());
    QVERIFY(junit.failures.contains(QStringLiteral("unfinished")));
    QCOMPARE(junit.suite.value(QLatin1String("tests")).toString(), QString::number(junit.names.size()));
    // The final page found no room: the page from before it stays.
    const Html page = readHtml(readFile(options.htmlFile));
    QCOMPARE(page.error, QString());
    QCOMPARE(page.verdictClass, QStringLiteral("running"));
}

void tst_Report::manyKindsHoldFewDescriptors()
{
    // A conformance run's cases go to a file per kind until the end; a
    // descriptor per kind would leave none for the connections.
    const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size(); };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.xml"));
    JUnitReport junit(path, QStringLiteral("ipnd-send"));
    QVERIFY(junit.open());
    const qsizetype before = openDescriptors();
    constexpr int Kinds = 300;
    RunFigures figures;
    // Last sent first: exchanges end in any order.
    for (int n = 2 * Kinds; n >= 1; --n) {
        OutcomeRecord record{n, Outcome::Accepted, QByteArray::number(n), 1.0, QByteArray("ACK"), Start.addMSecs(10 * n),
                             1, {}, {}, false, {}, {}};
        record.expect = "kind-" + QByteArray::number(n % Kinds);
        junit.add(record);
        figures.count(record);
    }
    QCOMPARE_LE(openDescriptors() - before, 16);
    figures.conformance = true;
    figures.thresholdsMet = {QStringLiteral("threshold met: --min-rate: 10.00 records per second, limit 1 records per second")};
    junit.finish(figures, {}, true);
    QCOMPARE(junit.error(), QString());
    const QByteArray xml = readFile(path);
    QCOMPARE(xml.count("<testsuite "), Kinds + 1);
    QCOMPARE(xml.count("<testcase "), 2 * Kinds + 1);
    // The run's own suite counts the threshold met as a test that passed.
    QVERIFY(xml.contains(R"(<testsuite name="run" tests="1" failures="0")"));
    // Its time is the wall time from its first record's sending to its last
    // one's reply: 70 ms to 3071 ms, not the sum of its round trips.
    QVERIFY(xml.contains(R"(<testsuite name="kind-7" tests="2" failures="0" errors="0" time="3.001000")"));
}

void tst_Report::expectation_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("matches");

    QTest::newRow("plain") << QByteArray("OK") << QByteArray("1") << QByteArray("OK") << true;
    QTest::newRow("whole reply") << QByteArray("OK") << QByteArray("1") << QByteArray("OK\r\n") << false;
    QTest::newRow("prefix is not enough") << QByteArray("OK") << QByteArray("1") << QByteArray("NOK") << false;
    QTest::newRow("id") << QByteArray("OK {id}") << QByteArray("A.1") << QByteArray("OK A.1") << true;
    QTest::newRow("id is literal") << QByteArray("OK {id}") << QByteArray("A.1") << QByteArray("OK AX1") << false;
    QTest::newRow("id with brackets") << QByteArray("OK {id}") << QByteArray("(1[") << QByteArray("OK (1[") << true;
    QTest::newRow("other record's id") << QByteArray("ACK\\|{id}\\|.*") << QByteArray("42")
                                       << QByteArray("ACK|43|x") << false;
    QTest::newRow("id twice") << QByteArray("{id}:{id}") << QByteArray("7") << QByteArray("7:7") << true;
    QTest::newRow("byte above ascii") << QByteArray("\\xe9\\r\\n") << QByteArray("1") << QByteArray("\xe9\r\n") << true;
    QTest::newRow("quantifier braces stay") << QByteArray("A{2}") << QByteArray("1") << QByteArray("AA") << true;
    // The id cannot make a count of braces around it, whatever its digits.
    QTest::newRow("braces around the id") << QByteArray("x{{id}}|ACK {id}") << QByteArray("0990100")
                                          << QByteArray("ACK 0990100") << true;
    // Text, the id, then the rest: the rest is matched alone, where that means the same.
    QTest::newRow("refusal with words") << QByteArray("NAK {id}( .*)?") << QByteArray("12")
                                        << QByteArray("NAK 12 too-wide") << true;
    QTest::newRow("refusal bare") << QByteArray("NAK {id}( .*)?") << QByteArray("12") << QByteArray("NAK 12") << true;
    QTest::newRow("refusal of a longer id") << QByteArray("NAK {id}( .*)?") << QByteArray("12")
                                            << QByteArray("NAK 123 x") << false;
    QTest::newRow("acceptance, line end after") << QByteArray("ACK {id}") << QByteArray("12")
                                                << QByteArray("ACK 12\r\n") << false;
    QTest::newRow("alternative takes in the head") << QByteArray("ACK {id}|BUSY") << QByteArray("12")
                                                   << QByteArray("BUSY") << true;
    // The id is one unit: a quantifier after it repeats the whole id.
    QTest::newRow("quantifier of the id") << QByteArray("ACK {id}+") << QByteArray("12")
                                          << QByteArray("ACK 1212") << true;
    QTest::newRow("any byte before the id") << QByteArray("ACK.{id}") << QByteArray("12") << QByteArray("ACK 12") << true;
    QTest::newRow("word boundary after the id") << QByteArray("ACK {id}\\b.*") << QByteArray("12")
                                                << QByteArray("ACK 123") << false;
    QTest::newRow("look-behind into the id") << QByteArray("ACK {id}(?<=2)x") << QByteArray("12")
                                             << QByteArray("ACK 12x") << true;
}

void tst_Report::expectation()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, reply);
    QFETCH(bool, matches);
    QString error;
    const std::optional<ReplyExpectation> expectation = ReplyExpectation::fromPattern(pattern, &error);
    QVERIFY2(expectation, qPrintable(error));
    QCOMPARE(expectation->matches(reply, id), matches);
}

void tst_Report::unexpectedReplyLine()
{
    QCOMPARE(ReplyExpectation::unexpectedLine("7\x01", QByteArray("NAK\r\n\0\xff\\", 8)),
             QByteArray(R"(Event: Unexpected reply to record 7\x01: NAK\r\n\x00\xff\\)"));
    // However long the reply, the line shows the part the reports keep.
    const QByteArray flood = "NAK " + QByteArray(20000, 'x');
    QCOMPARE(ReplyExpectation::unexpectedLine("7", flood),
             "Event: Unexpected reply to record 7: " + flood.left(OutcomeRecord::ReplyKeptBytes) + "... (20004 bytes)");
    // A match the engine gives up on is neither a match nor a mismatch.
    QString error;
    const std::optional<ReplyExpectation> heavy = ReplyExpectation::fromPattern("(x+x+)+y {id}", &error);
    QVERIFY2(heavy, qPrintable(error));
    QCOMPARE(heavy->match(QByteArray(40, 'x') + "z y 7", "7"), ReplyExpectation::Match::GaveUp);
    QCOMPARE(heavy->match("xxy 7", "7"), ReplyExpectation::Match::Yes);
    QCOMPARE(heavy->match("xxz 7", "7"), ReplyExpectation::Match::No);
    QCOMPARE(ReplyExpectation::gaveUpLine("7", "x\r"),
             QByteArray(R"(Event: Reply to record 7 not judged: the pattern engine gave up on it (too much backtracking): x\r)"));
}

void tst_Report::thresholds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<double>("p99");      // negative: no reply came
    QTest::addColumn<QStringList>("lines"); // met and missed, in the options' order

    const QString p99Missed = QStringLiteral("threshold missed: --max-p99: p99 round trip 12.346 ms, limit 10 ms");
    const QString rateMissed =
        QStringLiteral("threshold missed: --min-rate: 10.00 records per second, limit 20.5 records per second");
    QTest::newRow("none given") << QStringList() << 1e6 << QStringList();
    QTest::newRow("p99 met") << QStringList{"--max-p99", "10"} << 9.5
                             << QStringList{"threshold met: --max-p99: p99 round trip 9.500 ms, limit 10 ms"};
    QTest::newRow("p99 at the limit") << QStringList{"--max-p99", "10"} << 10.0
                                      << QStringList{"threshold met: --max-p99: p99 round trip 10.000 ms, limit 10 ms"};
    QTest::newRow("p99 missed") << QStringList{"--max-p99", "10"} << 12.3456 << QStringList{p99Missed};
    QTest::newRow("p99 without replies")
        << QStringList{"--max-p99", "10"} << -1.0
        << QStringList{QStringLiteral("threshold missed: --max-p99: no round trip measured, limit 10 ms")};
    // p50 1, p90 2, p95 3, p99.9 one above p99.
    QTest::newRow("every percentile")
        << QStringList{"--max-p99-9", "20", "--max-p95", "3", "--max-p90", "1.5", "--max-p50", "1"} << 12.3456
        << QStringList{"threshold met: --max-p50: p50 round trip 1.000 ms, limit 1 ms",
                       "threshold missed: --max-p90: p90 round trip 2.000 ms, limit 1.5 ms",
                       "threshold met: --max-p95: p95 round trip 3.000 ms, limit 3 ms",
                       "threshold met: --max-p99-9: p99.9 round trip 13.346 ms, limit 20 ms"};
    // 3 unexpected, 1 unanswered and 1 not sent of 100 read.
    QTest::newRow("failed share at the limit")
        << QStringList{"--max-failed", "0.05"} << 1.0
        << QStringList{"threshold met: --max-failed: 0.0500 of records failed (5 of 100), limit 0.05"};
    QTest::newRow("failed share missed")
        << QStringList{"--max-failed", "0"} << 1.0
        << QStringList{"threshold missed: --max-failed: 0.0500 of records failed (5 of 100), limit 0"};
    QTest::newRow("rate met") << QStringList{"--min-rate", "10"} << 1.0
                              << QStringList{"threshold met: --min-rate: 10.00 records per second, limit 10 records per second"};
    QTest::newRow("rate missed") << QStringList{"--min-rate", "20.5"} << 1.0 << QStringList{rateMissed};
    QTest::newRow("both missed") << QStringList{"--min-rate", "20.5", "--max-p99", "10"} << 12.3456
                                 << QStringList{p99Missed, rateMissed};
}

void tst_Report::thresholds()
{
    QFETCH(QStringList, arguments);
    QFETCH(double, p99);
    QFETCH(QStringList, lines);
    QCommandLineParser parser;
    addReportOptions(parser);
    QVERIFY(parser.parse(QStringList{"ipnd-send"} + arguments));
    ReportOptions options;
    QString error;
    QVERIFY2(readReportOptions(parser, &options, &error), qPrintable(error));
    RunFigures figures;
    figures.counts.read = 100;
    figures.counts.sent = 99;
    figures.counts.unexpected = 3;
    figures.counts.unanswered = 1;
    figures.counts.notSent = 1;
    figures.elapsedSeconds = 9.9; // 10 records per second
    if (p99 >= 0)
        figures.rttMs = RunFigures::RoundTrips{0.5, 1, 2, p99, p99 + 1, p99 + 1, 3};
    QStringList checked;
    QStringList missed;
    for (const ThresholdCheck &check : checkThresholds(options.thresholds, figures)) {
        checked << check.line();
        if (!check.met)
            missed << check.line();
        QCOMPARE(check.markedLine(), QByteArray(check.met ? "\u2713 " : "\u2717 ") + check.line().toLatin1());
    }
    QCOMPARE(checked, lines);
    QCOMPARE(missedThresholds(options.thresholds, figures), missed);
}

void tst_Report::maxP99JudgesLatencyWhenThereIsOne_data()
{
    QTest::addColumn<double>("rttP99");
    QTest::addColumn<double>("latencyP99");
    QTest::addColumn<QStringList>("missed");
    QTest::newRow("latency missed, round trip met")
        << 1.0 << 12.3456 << QStringList{QStringLiteral("threshold missed: --max-p99: p99 latency 12.346 ms, limit 10 ms")};
    QTest::newRow("latency met, round trip missed") << 12.3456 << 9.5 << QStringList();
}

void tst_Report::maxP99JudgesLatencyWhenThereIsOne()
{
    QFETCH(double, rttP99);
    QFETCH(double, latencyP99);
    QFETCH(QStringList, missed);
    Thresholds thresholds;
    thresholds.maxP99Ms = 10;
    RunFigures figures;
    figures.rttMs = RunFigures::RoundTrips{0, 0, 0, rttP99, rttP99, rttP99};
    figures.latencyMs = RunFigures::RoundTrips{0, 0, 0, latencyP99, latencyP99, latencyP99};
    QCOMPARE(missedThresholds(thresholds, figures), missed);
}

void tst_Report::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("all") << QStringList{"--report=r", "--junit", "j", "--html", "h", "--max-p99", "2.5", "--min-rate",
                                        "100", "--expect", "OK {id}"}
                         << QString();
    QTest::newRow("p99 not a number") << QStringList{"--max-p99", "fast"}
                                      << "--max-p99: \"fast\" is not a number of milliseconds above 0";
    QTest::newRow("p99 infinite") << QStringList{"--max-p99", "inf"}
                                  << "--max-p99: \"inf\" is not a number of milliseconds above 0";
    QTest::newRow("p99 zero") << QStringList{"--max-p99", "0"}
                              << "--max-p99: \"0\" is not a number of milliseconds above 0";
    QTest::newRow("p99.9 zero") << QStringList{"--max-p99-9", "0"}
                                << "--max-p99-9: \"0\" is not a number of milliseconds above 0";
    QTest::newRow("failed share above one") << QStringList{"--max-failed", "1.01"}
                                            << "--max-failed: \"1.01\" is not a fraction from 0 to 1";
    QTest::newRow("failed share not a number") << QStringList{"--max-failed", "nan"}
                                               << "--max-failed: \"nan\" is not a fraction from 0 to 1";
    QTest::newRow("rate zero") << QStringList{"--min-rate", "0"}
                               << "--min-rate: \"0\" is not a number of records per second above 0";
    QTest::newRow("rate infinite") << QStringList{"--min-rate", "inf"}
                                   << "--min-rate: \"inf\" is not a number of records per second above 0";
    QTest::newRow("bad pattern") << QStringList{"--expect", "OK("}
                                 << "--expect: not a valid regular expression: missing closing parenthesis "
                                    "(at character 3 of OK()";
    QTest::newRow("pattern breaking out of the anchors") << QStringList{"--expect", "OK)|(B"}
        << "--expect: not a valid regular expression: unmatched closing parenthesis (at character 2 of OK)|(B)";
    QTest::newRow("one file twice") << QStringList{"--report", "a", "--html", "./a"}
                                    << "--report and --html name the same file \"./a\"";
    QTest::newRow("report and junit") << QStringList{"--report", "a", "--junit", "./a"}
                                      << "--report and --junit name the same file \"./a\"";
    QTest::newRow("junit and html") << QStringList{"--junit", "a", "--html", "./a"}
                                    << "--junit and --html name the same file \"./a\"";
    QTest::newRow("valid only without an id") << QStringList{"--expect", "\\{id}"}
        << R"(--expect: not a valid regular expression with the id 0990.1 in place of {id}: unmatched closing )"
           R"(parenthesis (at character 17 of \\A(?:\\(?:0990\\.1))\\z))";
    QTest::newRow("report over the data") << QStringList{"--junit", "./in"}
                                          << "--junit would overwrite the file of --replay \"./in\"";
    QTest::newRow("no file name") << QStringList{"--junit="} << "--junit: no file name given";
    QTest::newRow("junit to standard output") << QStringList{"--junit", "-"}
                                              << "--junit: only --report can go to standard output (-)";
}

void tst_Report::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QCommandLineParser parser;
    addReportOptions(parser);
    QVERIFY(parser.parse(QStringList{"ipnd-send"} + arguments));
    ReportOptions options;
    QString reason;
    const bool read = readReportOptions(parser, &options, &reason);
    if (read)
        reason = reportOverwritesInput(options, QStringLiteral("in"), QStringLiteral("--replay"));
    QCOMPARE(read && reason.isEmpty(), error.isEmpty());
    QCOMPARE(reason, error);
    if (error.isEmpty()) {
        QCOMPARE(options.reportFile, QStringLiteral("r"));
        QCOMPARE(options.junitFile, QStringLiteral("j"));
        QCOMPARE(options.htmlFile, QStringLiteral("h"));
        QCOMPARE(options.thresholds.maxP99Ms, 2.5);
        QCOMPARE(options.thresholds.minRate, 100.0);
        QVERIFY(options.expectation && options.expectation->matches("OK 9", "9"));
    }
}

void tst_Report::logHistogram_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<int>>("bins"); // of each value counted, on a scale of one bin a decade from 1
    QTest::addColumn<double>("p");
    QTest::addColumn<qint64>("rank");
    QTest::addColumn<double>("percentile");
    QTest::newRow("empty") << QList<double>{} << QList<int>{} << 50.0 << qint64(0) << 0.0;
    QTest::newRow("one value") << QList<double>{7.3} << QList<int>{0} << 99.9 << qint64(1) << 7.3;
    // An edge is the lower one of its bin, however the logarithm rounds.
    QTest::newRow("values on the edges") << QList<double>{10, 100, 1000} << QList<int>{1, 2, 3} << 50.0 << qint64(2)
                                         << std::pow(10.0, 2.5);
    // Below 0 counts as 0, NaN not at all; the last bin takes everything above.
    QTest::newRow("outside the bins") << QList<double>{0.5, -3, 5000, 1e12, std::nan("")} << QList<int>{0, 0, 3, 3}
                                      << 25.0 << qint64(1) << 0.0;
    QList<double> thousand;
    for (int i = 1; i <= 1000; ++i)
        thousand << i;
    QTest::newRow("p99.9 of 1000") << thousand << QList<int>{} << 99.9 << qint64(999) << std::pow(10.0, 2.5);
}

void tst_Report::logHistogram()
{
    QFETCH(QList<double>, values);
    QFETCH(QList<int>, bins);
    QFETCH(double, p);
    QFETCH(qint64, rank);
    QFETCH(double, percentile);
    LogHistogram histogram(LogHistogram::Scale{1, 10, 4});
    for (const double value : values)
        histogram.add(value);
    QCOMPARE(histogram.count(), std::count_if(values.cbegin(), values.cend(), [](double v) { return !std::isnan(v); }));
    if (!bins.isEmpty()) {
        for (int bin = 0; bin < histogram.bins(); ++bin)
            QCOMPARE(histogram.binCount(bin), bins.count(bin));
    }
    QCOMPARE(nearestRank(p, histogram.count()), rank);
    QCOMPARE(histogram.percentile(p), percentile);
}

// Each outcome in its own count, as the summary, the progress and the live line show them.
void tst_Report::runCountsByOutcome()
{
    RunCounts counts;
    for (const Outcome outcome : {Outcome::Answered, Outcome::Accepted, Outcome::Refused, Outcome::Unexpected,
                                  Outcome::Unmatched, Outcome::FalseAccept, Outcome::FalseRefuse, Outcome::Unanswered,
                                  Outcome::NotSent, Outcome::Rejected}) {
        OutcomeRecord record;
        record.outcome = outcome;
        counts.count(record);
    }
    QCOMPARE(QList<qint64>({counts.read, counts.sent, counts.answered, counts.unexpected, counts.unanswered,
                            counts.notSent, counts.rejected}),
             QList<qint64>({9, 8, 3, 4, 1, 1, 1}));
}

QTEST_GUILESS_MAIN(tst_Report)
#include "tst_report.moc"
