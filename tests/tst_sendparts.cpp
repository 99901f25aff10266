// The sender's parts, each built alone: the pacer on a clock the test sets,
// the exit policy, the run's log on sinks in memory, the judge of replies,
// and the connection pool against a server of the test's own on loopback.

#include "PendingListener.h"
#include "TestSupport.h"
#include "sender/ConnectionPool.h"
#include "sender/ExitPolicy.h"
#include "sender/Manifest.h"
#include "sender/Pacer.h"
#include "sender/ReplyJudge.h"
#include "sender/RunLog.h"

#include <QtTest>

#include <cerrno>
#include <csignal>

namespace {

class TestClock final : public RunClock
{
public:
    qint64 nsecsElapsed() const override { return ns; }
    qint64 ns = 0;
};

// One question put to the pacer, and the step it must answer with.
struct Ask
{
    qint64 ns = 0;
    bool linkFree = true;
    qint64 backlog = 0;
    bool dataOver = false;
    bool timeOver = false;
    QByteArray step; // "read AT", "wait UNTIL" or "end"
};

QByteArray stepText(const Pacer::Step &step)
{
    switch (step.kind) {
    case Pacer::Step::Kind::Read:
        return "read " + QByteArray::number(step.atNs);
    case Pacer::Step::Kind::Wait:
        return "wait " + QByteArray::number(step.atNs);
    case Pacer::Step::Kind::End:
        break;
    }
    return "end";
}

constexpr qint64 S = 1000000000;

// What a pool told its owner, in order, one line each.
class PoolEvents final : public ConnectionPool::Events
{
public:
    void linkLog(int connection, const QByteArray &line) override
    {
        if (clock && told.isEmpty())
            clock->ns += 1000000; // a millisecond for the connection to come up
        lastLine[connection] = line;
        told << "log " + QByteArray::number(connection) + ": " + line;
    }
    void written(const Exchange &exchange) override
    {
        told << "written " + exchange.record;
        if (clock)
            clock->ns += 3000000; // three milliseconds from the write to the reply
    }
    void ended(OutcomeRecord &&record) override
    {
        told << "ended " + outcomeName(record.outcome).toLatin1() + ": " + record.reply.value_or("-") + " / "
                + record.reason;
        last = record;
    }
    void notSent(Exchange &&exchange, const QByteArray &line) override
    {
        told << "not sent " + exchange.record + ": " + line;
    }
    void connectFailed(const QByteArray &line) override { told << "connect failed: " + line; }

    bool over() const
    {
        return !told.isEmpty() && (told.last().startsWith("ended") || told.last().startsWith("not sent"));
    }

    QByteArrayList told;
    QHash<int, QByteArray> lastLine;
    OutcomeRecord last;
    TestClock *clock = nullptr;
};

Exchange exchangeOf(const QByteArray &record, qint64 seq)
{
    Exchange exchange;
    exchange.record = record;
    exchange.packet = "0100" + QByteArray::number(record.size()).rightJustified(3, '0') + record;
    exchange.pending.seq = seq;
    return exchange;
}

} // namespace

Q_DECLARE_METATYPE(Ask)

class tst_SendParts : public QObject
{
    Q_OBJECT

private slots:
    void pacerSteps_data();
    void pacerSteps();
    void recordedPaceNeverRunsBackwards();
    void exitStatus_data();
    void exitStatus();
    void logLines();
    void logWhoseReaderHasGone();
    void judgeOfReplies_data();
    void judgeOfReplies();
    void poolExchanges_data();
    void poolExchanges();
    void poolWithNoServer();
    void poolConnectionsSideBySide();
    void liveStatusLine();
};

void tst_SendParts::pacerSteps_data()
{
    QTest::addColumn<Pacer::Settings>("settings");
    QTest::addColumn<QList<Ask>>("asks");
    Pacer::Settings period{Pacer::Mode::Period, 1.0, 2, {}, 1};
    QTest::newRow("period, two of them") << period << QList<Ask>{
        {0, true, 0, false, false, "read -1"},         {0, true, 0, false, false, "wait 1000000000"},
        {S - 1, true, 0, false, false, "wait 1000000000"}, {S, false, 0, false, false, "read -1"},
        {S, true, 0, false, false, "end"}};
    period.count = -1;
    QTest::newRow("period, to the data's end")
        << period << QList<Ask>{{0, true, 0, false, false, "read -1"}, {3 * S, true, 0, true, false, "end"}};
    QTest::newRow("period, to the duration")
        << period << QList<Ask>{{0, true, 0, false, true, "end"}};
    const Pacer::Settings closed{Pacer::Mode::ClosedLoop, 0, 1, {}, 1};
    QTest::newRow("closed loop") << closed << QList<Ask>{
        {0, false, 0, false, false, "wait -1"}, {5, true, 0, false, false, "read -1"}, {6, true, 0, false, false, "end"}};
    Pacer::Settings rate{Pacer::Mode::Rate, 0, -1, {10, 0, 0, -1, {}}, 1};
    QTest::newRow("rate") << rate << QList<Ask>{
        {0, false, 0, false, false, "read 0"},           {0, false, 0, false, false, "wait 100000000"},
        {S / 10, false, 2, false, false, "read 100000000"}, {S / 10, true, 1, true, false, "wait 200000000"},
        {S / 10, true, 0, true, false, "end"}};
    rate.load.durationSeconds = 0.15;
    QTest::newRow("rate, duration over with a backlog") << rate << QList<Ask>{
        {0, true, 0, false, true, "read 0"}, {S / 10, true, 0, false, true, "read 100000000"},
        {S / 5, true, 3, false, false, "end"}};
    const Pacer::Settings recorded{Pacer::Mode::RecordedPace, 0, 1, {}, 1};
    QTest::newRow("recorded pace") << recorded << QList<Ask>{
        {0, false, 0, false, false, "read -2"}, {0, true, 1, false, false, "wait -1"},
        {0, true, 0, false, false, "end"}};
}

void tst_SendParts::pacerSteps()
{
    QFETCH(Pacer::Settings, settings);
    QFETCH(QList<Ask>, asks);
    TestClock clock;
    Pacer pacer(settings, clock);
    for (const Ask &ask : asks) {
        clock.ns = ask.ns;
        const Pacer::Step step = pacer.next(ask.linkFree, ask.backlog, ask.dataOver, ask.timeOver);
        QCOMPARE(stepText(step), ask.step);
        if (step.kind == Pacer::Step::Kind::Read)
            pacer.readDone();
    }
}

void tst_SendParts::recordedPaceNeverRunsBackwards()
{
    TestClock clock;
    Pacer pacer({Pacer::Mode::RecordedPace, 0, -1, {}, 2}, clock);
    QCOMPARE(pacer.recordedNs(5000), 0);
    QCOMPARE(pacer.recordedNs(7000), S); // two seconds recorded, at twice the speed
    QCOMPARE(pacer.recordedNs(6000), S); // earlier than the last: right after it
    QCOMPARE(pacer.recordedNs(std::nullopt), S);
    QCOMPARE(pacer.recordedNs(9001), 2 * S + 500000);

    Pacer rate({Pacer::Mode::Rate, 0, -1, {10, 0, 0, -1, {}}, 1}, clock);
    clock.ns = 0;
    QVERIFY(rate.next(true, 0, false, false).kind == Pacer::Step::Kind::Read);
    QVERIFY(!rate.behind());
    clock.ns = S / 10;
    QVERIFY(rate.behind());
}

void tst_SendParts::exitStatus_data()
{
    QTest::addColumn<int>("counts");
    QTest::addColumn<QByteArray>("facts");
    QTest::addColumn<int>("status");
    QTest::newRow("passed") << 0 << QByteArray() << 0;
    QTest::newRow("a record failed") << 1 << QByteArray() << 1;
    QTest::newRow("no connection") << 3 << QByteArray() << 3;
    QTest::newRow("threshold missed") << 0 << QByteArray("missed") << 1;
    QTest::newRow("threshold missed, no connection") << 3 << QByteArray("missed") << 3;
    QTest::newRow("file not opened") << 3 << QByteArray("open") << 2;
    QTest::newRow("misfit") << 0 << QByteArray("misfit") << 2;
    QTest::newRow("report cut, failed") << 1 << QByteArray("reports") << 2;
    QTest::newRow("report cut, no connection") << 3 << QByteArray("reports") << 3;
    QTest::newRow("interrupted") << 0 << QByteArray("signal") << 128 + SIGINT;
    QTest::newRow("interrupted, report cut") << 1 << QByteArray("signal reports") << 128 + SIGINT;
    QTest::newRow("summary lost") << 0 << QByteArray("lost") << 128 + SIGPIPE;
    QTest::newRow("summary lost after a signal") << 0 << QByteArray("signal lost") << 128 + SIGINT;
}

void tst_SendParts::exitStatus()
{
    QFETCH(int, counts);
    QFETCH(QByteArray, facts);
    QFETCH(int, status);
    ExitFacts f;
    f.countsStatus = counts;
    f.openFailed = facts.contains("open");
    f.misfit = facts.contains("misfit");
    f.thresholdMissed = facts.contains("missed");
    f.interruptedBy = facts.contains("signal") ? SIGINT : 0;
    f.reportsFailed = facts.contains("reports");
    f.summaryLost = facts.contains("lost");
    QCOMPARE(::exitStatus(f), status);
}

void tst_SendParts::logLines()
{
    BufferSink out;
    BufferSink err;
    FixedClock clock;
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 7, 6, 5)));
    RunLog log(out, err, clock);
    log.line(2, "one");
    log.setNumbered(true);
    log.line(2, "two");
    log.line(0, "three");
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 7, 7, 950)));
    log.line(12, "four");
    log.setQuiet(true);
    log.line(1, "five");
    log.complain("six");
    QVERIFY(log.write("summary\n"));
    QCOMPARE(out.text, QByteArray("2026-12-09 08:07:06.005 one\n"
                                  "2026-12-09 08:07:06.005 [2] two\n"
                                  "2026-12-09 08:07:06.005 three\n"
                                  "2026-12-09 08:07:07.950 [12] four\n"
                                  "summary\n"));
    QCOMPARE(err.text, QByteArray("ipnd-send: six\n"));
}

void tst_SendParts::logWhoseReaderHasGone()
{
    BufferSink out;
    BufferSink err;
    FixedClock clock;
    RunLog log(out, err, clock);
    int gone = 0;
    log.setGoneHandler([&] { ++gone; });
    out.failWith = ENOSPC; // lost, but the reader is still there
    log.line(0, "lost");
    QVERIFY(log.write("lost too"));
    QCOMPARE(gone, 0);
    out.failWith = EPIPE;
    log.line(0, "gone");
    QCOMPARE(gone, 1);
    QVERIFY(log.gone());
    out.failWith = 0;
    log.line(0, "never written");
    QVERIFY(!log.write("summary"));
    QCOMPARE(gone, 1);
    QCOMPARE(out.text, QByteArray());
}

void tst_SendParts::judgeOfReplies_data()
{
    QTest::addColumn<QByteArray>("pattern"); // empty: none; "manifest": judged by kind
    QTest::addColumn<QByteArray>("expect");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("any reply") << QByteArray() << QByteArray() << QByteArray("NAK") << false << "answered"
                               << QByteArray();
    QTest::newRow("as expected") << QByteArray("ACK {id}") << QByteArray() << QByteArray("ACK 12345678") << false
                                 << "answered" << QByteArray();
    QTest::newRow("long, kept in part") << QByteArray() << QByteArray() << QByteArray(5000, 'x') << false
                                        << "answered" << QByteArray();
    QTest::newRow("not as expected")
        << QByteArray("ACK {id}") << QByteArray() << QByteArray("ACK 12345679") << true << "unexpected"
        << ReplyExpectation::unexpectedLine("123456789", "ACK 12345679");
    QTest::newRow("engine gave up")
        << QByteArray("(x+x+)+y {id}") << QByteArray() << QByteArray(40, 'x') + "z y 12345678" << true << "unmatched"
        << ReplyExpectation::gaveUpLine("123456789", QByteArray(40, 'x') + "z y 12345678");
    QTest::newRow("valid, accepted") << QByteArray("manifest") << QByteArray("valid") << QByteArray("ACK 12345678")
                                     << false << "accepted" << QByteArray();
    QTest::newRow("neither pattern")
        << QByteArray("manifest") << QByteArray("valid") << QByteArray("NAK 12345678\ttoo-wide") << true
        << "unexpected" << QByteArray("Event: unexpected reply to record 123456789 (valid): NAK 12345678\\ttoo-wide");
    QTest::newRow("valid, refused")
        << QByteArray("manifest") << QByteArray("valid") << QByteArray("NAK 12345678 too-wide") << true
        << "false-refuse" << QByteArray("Event: false-refuse reply to record 123456789 (valid): NAK 12345678 too-wide");
    QTest::newRow("broken, accepted")
        << QByteArray("manifest") << QByteArray("too-wide") << QByteArray("ACK 12345678") << true << "false-accept"
        << QByteArray("Event: false-accept reply to record 123456789 (too-wide): ACK 12345678");
}

void tst_SendParts::judgeOfReplies()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, expect);
    QFETCH(QByteArray, reply);
    QFETCH(bool, failed);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, reason);
    QString error;
    const std::optional<ReplyExpectation> none;
    const std::optional<ReplyExpectation> expectation =
        pattern.isEmpty() || pattern == "manifest" ? none : ReplyExpectation::fromPattern(pattern, &error);
    const std::optional<ReplyExpectation> accept = ReplyExpectation::fromPattern("ACK {id}", &error);
    const std::optional<ReplyExpectation> refuse = ReplyExpectation::fromPattern("NAK {id}( .*)?", &error);
    const ManifestMatch manifest(*accept, *refuse, [](OutcomeRecord &&) {});
    const ReplyJudge judge(expectation, pattern == "manifest" ? &manifest : nullptr);
    OutcomeRecord record;
    record.outcome = Outcome::Answered;
    record.id = "123456789";
    record.expect = expect;
    record.reply = reply;
    QCOMPARE(judge.judge(record), failed);
    QCOMPARE(outcomeName(record.outcome), outcome);
    QCOMPARE(record.reason, reason);
    QCOMPARE(record.reply->size(), std::min(reply.size(), OutcomeRecord::ReplyKeptBytes));
    QCOMPARE(record.replyBytes, reply.size());
}

void tst_SendParts::poolExchanges_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("answered") << int(TestServer::Answer::Reply) << false << QByteArray("ended answered: ACK / ");
    QTest::newRow("closed unanswered") << int(TestServer::Answer::CloseWithoutReply) << false
                                       << QByteArray("ended unanswered: - / LAST");
    QTest::newRow("no reply in time") << int(TestServer::Answer::Silent) << false
                                      << QByteArray("ended unanswered: - / Event: No reply within 200 ms: connection closed");
    QTest::newRow("stopped") << int(TestServer::Answer::Silent) << true
                             << QByteArray("ended unanswered: - / Event: Stopped before the reply: connection closed");
}

void tst_SendParts::poolExchanges()
{
    QFETCH(int, answer);
    QFETCH(bool, stop);
    QFETCH(QByteArray, end);
    TestServer server;
    server.answer = TestServer::Answer(answer);
    TestClock clock;
    PoolEvents events;
    events.clock = &clock;
    ConnectionPool pool({QStringLiteral("127.0.0.1"), QString::number(server.port()), 1, 2000, 200, -1, {}}, clock,
                        events);
    const Exchange exchange = exchangeOf("0990100|A|B", 7);
    QVERIFY(pool.start(pool.freeConnection(), exchange));
    QCOMPARE(pool.freeConnection(), 0);
    QVERIFY(pool.holds(1, 7));
    QTRY_VERIFY(events.told.contains("written 0990100|A|B"));
    QTRY_COMPARE(server.received(0), exchange.packet);
    if (stop)
        pool.stopAll();
    QTRY_VERIFY(events.over());
    QCOMPARE(events.told.last(), QByteArray(end).replace("LAST", events.lastLine.value(1)));
    QCOMPARE(events.told.count(events.told.last()), 1);
    QCOMPARE(pool.freeConnection(), 1);
    QVERIFY(!pool.holds(1, 7));
    QCOMPARE(events.last.seq, 7);
    QCOMPARE(events.last.connection, 1);
    if (answer == int(TestServer::Answer::Reply)) {
        QCOMPARE(events.last.rttMs.value_or(-1), 3.0);
        QCOMPARE(events.last.connectMs.value_or(-1), 1.0);
    }
    // The line that ended it was logged, once.
    if (events.last.reason.startsWith("Event: "))
        QCOMPARE(events.told.count("log 1: " + events.last.reason), 1);
    // The connection was closed: it takes the next record.
    QVERIFY(pool.start(1, exchangeOf("0990100|C", 8)));
    QTRY_COMPARE(server.connectionCount(), 2);
    pool.stopAll();
}

void tst_SendParts::poolWithNoServer()
{
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    TestClock clock;
    PoolEvents events;
    ConnectionPool pool({QStringLiteral("127.0.0.1"), QString::number(port), 1, 2000, 200, 10, {}}, clock, events);
    QVERIFY(pool.start(1, exchangeOf("0990100|A", 1)));
    QTRY_VERIFY(events.over());
    QCOMPARE(events.told.last(), QByteArray("not sent 0990100|A: RSFP: No connection, not sent: 0990100|A"));
    QCOMPARE(events.told.value(events.told.size() - 2), "connect failed: " + events.lastLine.value(1));
    QVERIFY(!events.lastLine.value(1).isEmpty());
    QVERIFY(!pool.anyBusy());
}

void tst_SendParts::poolConnectionsSideBySide()
{
    TestServer server;
    server.answer = TestServer::Answer::Silent;
    TestClock clock;
    PoolEvents events;
    ConnectionPool pool({QStringLiteral("127.0.0.1"), QString::number(server.port()), 2, 2000, 5000, 10, {}}, clock,
                        events);
    QVERIFY(pool.start(pool.freeConnection(), exchangeOf("0990100|A", 1)));
    QCOMPARE(pool.freeConnection(), 2);
    QVERIFY(pool.start(2, exchangeOf("0990200|B", 2)));
    QCOMPARE(pool.freeConnection(), 0);
    QVERIFY(pool.holds(2, 2) && !pool.holds(2, 1) && pool.holds(1, 1));
    QTRY_COMPARE(server.connectionCount(), 2);
    QTRY_COMPARE(events.told.count("written 0990100|A") + events.told.count("written 0990200|B"), 2);
    pool.stopAll();
    QCOMPARE(std::count_if(events.told.begin(), events.told.end(),
                           [](const QByteArray &told) { return told.startsWith("ended unanswered"); }),
             2);
    QVERIFY(!pool.anyBusy());
}

void tst_SendParts::liveStatusLine()
{
    BufferSink sink;
    StatusLine status(sink);
    status.showLive({.read = 6, .sent = 5, .answered = 4, .unexpected = 3, .unanswered = 2, .rejected = 1});
    status.clearLive();
    QCOMPARE(sink.text, QByteArray("\r\033[K6 read, 5 sent, 4 answered, 3 unexpected, 2 unanswered, 1 rejected\r\033[K"));
}

QTEST_GUILESS_MAIN(tst_SendParts)
#include "tst_sendparts.moc"
