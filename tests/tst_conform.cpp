// ipnd-conform: the battery against receivers that fail chosen cases, run
// in-process, and the program's exit statuses and interruption.

#include "ReceiverProcess.h"

#include "conform/ConformOptions.h"
#include "conform/ConformRun.h"
#include "link/Link.h"
#include "platform/Socket.h"
#include "receiver/PacketCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A receiving server inside the test that judges each packet with the
// receiver's own checks, and fails on purpose as the test sets it to.
class FaultyReceiver : public QObject
{
public:
    QByteArray acceptKind;  // a broken kind it accepts all the same
    bool ignoreLength = false; // reads the record to its 53rd field, whatever the header says
    int mostAtOnce = 0;     // closes connections beyond so many open; 0: no limit
    bool diesMidPacket = false; // stops listening when a source leaves half a packet
    QList<QByteArray> packets; // each judged packet, in order

    FaultyReceiver()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                if (mostAtOnce && m_open >= mostAtOnce) {
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                ++m_open;
                socket->setParent(this);
                auto *quiet = new QTimer(socket);
                quiet->setSingleShot(true);
                connect(quiet, &QTimer::timeout, socket, [this, socket] { judge(socket, m_bytes[socket], true); });
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, quiet] { read(socket, quiet); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] { ended(socket); });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }

private:
    void read(QTcpSocket *socket, QTimer *quiet)
    {
        QByteArray &bytes = m_bytes[socket];
        bytes += socket->readAll();
        if (m_judged.contains(socket))
            return;
        if (ignoreLength) {
            if (bytes.count('|') >= 52)
                judge(socket, bytes.mid(7), false);
            return;
        }
        bool digits = false;
        const int length = bytes.mid(3, 4).toInt(&digits);
        if (bytes.size() >= 7 && (!digits || bytes.left(3).toInt() < 0))
            judge(socket, bytes, false);
        else if (digits && bytes.size() >= 7 + length)
            judge(socket, bytes, false); // more than the length: the check finds the disagreement
        else
            quiet->start(300); // a bare record, or one whose length never comes
    }

    void judge(QTcpSocket *socket, const QByteArray &packet, bool quietEnded)
    {
        if (m_judged.contains(socket) || socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_judged.insert(socket);
        packets << packet;
        const PacketCheck::Result result = PacketCheck::check(packet);
        const bool incomplete = quietEnded && packet.count('|') < 52;
        QByteArray reply = "NAK " + result.recordId + " incomplete";
        if (!incomplete)
            reply = !result.malformed || result.verdict() == acceptKind ? "ACK " + result.recordId
                                                                        : "NAK " + result.recordId + ' ' + result.verdict();
        socket->write(reply);
        socket->disconnectFromHost();
    }

    void ended(QTcpSocket *socket)
    {
        --m_open;
        if (diesMidPacket && !m_judged.contains(socket) && !m_bytes.value(socket).isEmpty())
            m_server.close();
        m_bytes.remove(socket);
        m_judged.remove(socket);
        socket->deleteLater();
    }

    QTcpServer m_server;
    int m_open = 0;
    QHash<QTcpSocket *, QByteArray> m_bytes;
    QSet<QTcpSocket *> m_judged;
};

struct Finished
{
    int status = -1;
    QByteArray out;
    QJsonObject report;
    QHash<QString, QString> outcomes; // by case id
};

QByteArray readBack(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fclose(file);
    return bytes;
}

// The battery run in-process against 127.0.0.1:port with a 2 s timeout.
Finished conform(quint16 port, const QStringList &extra)
{
    QTemporaryDir dir;
    // The report the case names, else one of its own: an option goes once.
    const qsizetype named = extra.indexOf(QStringLiteral("--report"));
    const QString report = named >= 0 ? extra.value(named + 1) : dir.filePath(QStringLiteral("run.json"));
    const ParsedConformArguments parsed = parseConformArguments(
        QStringList{"ipnd-conform", "--host", "127.0.0.1", "--port", QString::number(port), "--timeout", "2"}
        + (named >= 0 ? QStringList() : QStringList{"--report", report}) + extra);
    Finished finished;
    if (!parsed.options) {
        qWarning("%s", qPrintable(parsed.error));
        return finished;
    }
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    ConformRun run(*parsed.options, out, err);
    finished.status = run.run();
    finished.out = readBack(out) + readBack(err);
    QFile file(report);
    if (file.open(QIODevice::ReadOnly))
        finished.report = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue &c : finished.report.value("cases").toArray())
        finished.outcomes.insert(c["id"].toString(), c["outcome"].toString());
    return finished;
}

using Outcomes = QHash<QString, QString>;

// The receiving end of one connection read straight from its descriptor,
// so that the end of the stream tells a FIN from a reset.
class RawPeer : public QObject
{
public:
    explicit RawPeer(int fd) : fd(fd), m_notifier(fd, QSocketNotifier::Read)
    {
        clock.start();
        connect(&m_notifier, &QSocketNotifier::activated, this, &RawPeer::read);
    }
    ~RawPeer() override { ::close(fd); }

    enum End { Open, Fin, Reset };
    const int fd;
    QElapsedTimer clock; // from the connection's acceptance
    QList<QByteArray> chunks;
    QList<qint64> at; // ms
    End end = Open;

private:
    void read()
    {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            chunks << QByteArray(buffer, n);
            at << clock.elapsed();
            return;
        }
        if (n == 0 || errno == ECONNRESET) {
            end = n == 0 ? Fin : Reset;
            m_notifier.setEnabled(false);
        }
    }
    QSocketNotifier m_notifier;
};

class QuietHost : public LinkHost
{
public:
    explicit QuietHost(quint16 port) : m_port(port) {}
    void InsertLog(const QByteArray &) override {}
    QString serverAddress() const override { return QStringLiteral("127.0.0.1"); }
    QString serverPort() const override { return QString::number(m_port); }
    void showReply(const QByteArray &) override {}
    void showProcessed(qint32) override {}

private:
    quint16 m_port;
};

} // namespace

class TestConform : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void arguments_data();
    void arguments();
    void strictAndCompare();
    void sameSeedSameBytes();
    void exitStatuses_data();
    void exitStatuses();
    void interruptedMidSuite();
    void judgingReceiverPassesTheBattery();
    void linkMisbehaves_data();
    void linkMisbehaves();
};

void TestConform::outcomes_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("cases");
    QTest::addColumn<Outcomes>("expected");
    QTest::addColumn<QString>("reason"); // the start of the first failing case's reason

    QTest::newRow("right") << QByteArray() << "1.1,1.2,1.4,1.12,2.1,2.3,2.4,2.6,2.9,3.2,3.5,3.6"
                           << Outcomes{{"1.1", "pass"}, {"1.2", "pass"}, {"1.4", "pass"}, {"1.12", "pass"},
                                       {"2.1", "pass"}, {"2.3", "pass"}, {"2.4", "pass"}, {"2.6", "pass"},
                                       {"2.9", "pass"}, {"3.2", "pass"}, {"3.5", "pass"}, {"3.6", "pass"}}
                           << QString();
    QTest::newRow("accepts bad dates") << QByteArray("accept") << "1.8,1.9,1.10"
                                       << Outcomes{{"1.8", "pass"}, {"1.9", "fail"}, {"1.10", "pass"}}
                                       << "accepted \"ACK 00";
    QTest::newRow("ignores the length field") << QByteArray("length") << "2.1,2.2,2.4,2.7"
                                              << Outcomes{{"2.1", "fail"}, {"2.2", "non-strict"}, {"2.4", "fail"},
                                                          {"2.7", "info"}}
                                              << "accepted \"ACK 01";
    QTest::newRow("serves 4 at once") << QByteArray("few") << "3.1,3.7,3.8"
                                      << Outcomes{{"3.1", "pass"}, {"3.7", "fail"}, {"3.8", "fail"}} << "closed ("; // how many of 64 hangs on how soon the first four end
    QTest::newRow("dies mid-packet") << QByteArray("dies") << "3.5,3.6,3.7"
                                     << Outcomes{{"3.5", "pass"}, {"3.6", "fail"}, {"3.7", "fail"}}
                                     << "the receiver stopped answering: the valid record after the case was no-connection";
}

void TestConform::outcomes()
{
    QFETCH(QByteArray, fault);
    QFETCH(QString, cases);
    QFETCH(Outcomes, expected);
    QFETCH(QString, reason);
    FaultyReceiver receiver;
    receiver.acceptKind = fault == "accept" ? "bad-date" : "";
    receiver.ignoreLength = fault == "length";
    receiver.mostAtOnce = fault == "few" ? 4 : 0;
    receiver.diesMidPacket = fault == "dies";
    QVERIFY(receiver.listen());

    const Finished run = conform(receiver.port(), {"--cases", cases});
    QCOMPARE(run.outcomes.size(), 34);
    int missing = 0;
    for (auto it = run.outcomes.cbegin(); it != run.outcomes.cend(); ++it) {
        QVERIFY2(it.value() == expected.value(it.key(), "missing"), qPrintable(it.key()));
        missing += it.value() == "missing";
    }
    QCOMPARE(missing, 34 - expected.size());
    const bool failed = std::any_of(expected.begin(), expected.end(), [](const QString &o) { return o == "fail"; });
    QCOMPARE(run.status, failed ? 1 : 0);
    QCOMPARE(run.report["summary"]["passed"].toBool(), !failed);
    QVERIFY2(run.out.contains("\ncases 34: pass "), run.out.constData());
    for (const QJsonValue &c : run.report["cases"].toArray()) {
        if (c["outcome"] == "fail") {
            QVERIFY2(c["reason"].toString().startsWith(reason), qPrintable(c["reason"].toString()));
            QVERIFY(run.out.contains(c["id"].toString().toLatin1() + ' ' + c["title"].toString().toLatin1() +
                                     " ... fail: " + c["reason"].toString().toLatin1()));
            break;
        }
    }
}

void TestConform::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: understood

    QTest::newRow("cases and sections") << QStringList{"--cases", "2,3.1", "--exclude", "2.10"} << QString();
    QTest::newRow("unknown case") << QStringList{"--cases", "2,3.11"}
                                  << "--cases: \"3.11\" is neither a case id nor a section number";
    QTest::newRow("unknown section") << QStringList{"--exclude", "5"}
                                     << "--exclude: \"5\" is neither a case id nor a section number";
    QTest::newRow("timeout 0") << QStringList{"--timeout", "0"}
                               << "--timeout: \"0\" is not a number of seconds from 0.01 to 3600";
    QTest::newRow("bad option") << QStringList{"--bogus"} << "unknown option --bogus";
    QTest::newRow("twice") << QStringList{"--seed", "1", "--seed", "2"} << "--seed is given twice";
}

void TestConform::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const ParsedConformArguments parsed =
        parseConformArguments(QStringList{"ipnd-conform", "--host", "127.0.0.1", "--port", "9"} + arguments);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.options.has_value(), error.isEmpty());
}

// A should case that fails is non-strict: it fails the run only under
// --strict. A case that passed before and fails now is a regression.
void TestConform::strictAndCompare()
{
    FaultyReceiver right;
    QVERIFY(right.listen());
    QTemporaryDir dir;
    const QString earlier = dir.filePath("earlier.json");
    const Finished first = conform(right.port(), {"--cases", "1.9,2.2", "--report", earlier});
    QCOMPARE(first.status, 0);

    FaultyReceiver faulty;
    faulty.acceptKind = "bad-date";
    faulty.ignoreLength = true;
    QVERIFY(faulty.listen());
    const Finished lenient = conform(faulty.port(), {"--cases", "2.2"});
    QCOMPARE(lenient.outcomes.value("2.2"), "non-strict");
    QCOMPARE(lenient.status, 0);
    QCOMPARE(conform(faulty.port(), {"--cases", "2.2", "--strict"}).status, 1);

    const QString html = dir.filePath("run.html");
    const Finished compared = conform(faulty.port(), {"--cases", "1.9,2.2", "--compare", earlier, "--html", html});
    QCOMPARE(compared.status, 1);
    QFile page(html);
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray text = page.readAll();
    QCOMPARE(text.count("<h2>"), 5); // a table per section, then the details
    QVERIFY(text.contains("<tr class=\"regression\"><td><a href=\"#c1.9\">1.9</a></td><td>must</td>"));
    QVERIFY(text.contains("<td class=\"fail\">fail</td><td class=\"pass\">pass (regression)</td>"));
    QVERIFY(text.contains("<td class=\"non-strict\">non-strict</td><td class=\"pass\">pass (changed)</td>"));
    QCOMPARE(compared.report["summary"]["regressions"].toInt(), 1);
    QVERIFY2(compared.out.contains(" [regression: was pass]\n"), compared.out.constData());
    for (const QJsonValue &c : compared.report["cases"].toArray()) {
        QCOMPARE(c["regression"].toBool(), c["id"] == "1.9");
        QCOMPARE(c["earlier"].toString(), c["id"] == "1.9" || c["id"] == "2.2" ? "pass" : "missing");
    }

    // Another suite's report is no ground for a comparison.
    QJsonObject other = first.report;
    other["suite"] = "0";
    QFile file(earlier);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(other).toJson());
    file.close();
    QCOMPARE(conform(faulty.port(), {"--cases", "1.9", "--compare", earlier}).status, 2);
}

void TestConform::sameSeedSameBytes()
{
    QList<QList<QByteArray>> sent;
    for (const char *seed : {"7", "7", "8"}) {
        FaultyReceiver receiver;
        QVERIFY(receiver.listen());
        const Finished run = conform(receiver.port(), {"--cases", "1.1,1.4,2.1", "--seed", seed});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.report["seed"].toDouble(), QByteArray(seed).toDouble());
        QCOMPARE(receiver.packets.size(), 50 + 10 + 2);
        sent << receiver.packets;
    }
    QCOMPARE(sent[0], sent[1]);
    // Another seed, other records, the valid ones and the broken ones.
    for (int i = 0; i < 60; ++i)
        QVERIFY2(sent[0][i] != sent[2][i], qPrintable(QString::number(i)));
}

void TestConform::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("output"); // a line it holds

    QTest::newRow("list") << QStringList{"--list"} << 0 << QByteArray("\n3.6 must a reset after half the packet\n");
    QTest::newRow("bad option") << QStringList{"--host", "127.0.0.1", "--port", "1", "--seed", "x"} << 2
                                << QByteArray("ipnd-conform: --seed: \"x\" is not a whole number from 0\n");
    QTest::newRow("no connection") << QStringList{"--host", "127.0.0.1", "--port", "PORT", "--timeout", "1"} << 3
                                   << QByteArray("ipnd-conform: no connection to 127.0.0.1:");
}

void TestConform::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, output);
    // A port that was free a moment ago: nobody listens on it.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(closed.serverPort());
    closed.close();
    arguments.replaceInStrings("PORT", port);

    QProcess program;
    program.start(IPND_CONFORM, arguments);
    QVERIFY(program.waitForFinished(20000));
    const QByteArray all = '\n' + program.readAllStandardOutput() + program.readAllStandardError();
    QCOMPARE(program.exitCode(), status);
    QVERIFY2(all.contains(output), all.constData());
    if (arguments.contains("--list"))
        QCOMPARE(all.count('\n'), 34 + 1);
}

// SIGINT in the middle of the battery: the case under way and the rest are
// missing, the report is written whole and says so.
void TestConform::interruptedMidSuite()
{
    FaultyReceiver receiver;
    QVERIFY(receiver.listen());
    QTemporaryDir dir;
    const QString report = dir.filePath("run.json");
    QProcess program;
    program.start(IPND_CONFORM, {"--host", "127.0.0.1", "--port", QString::number(receiver.port()), "--cases",
                                 "1.1,3.4,4.1", "--report", report});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).contains("1.1 50 valid"), 10000);
    ::kill(pid_t(program.processId()), SIGINT);
    QSignalSpy finished(&program, &QProcess::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(program.exitCode(), 130);
    out += program.readAllStandardOutput();
    QVERIFY2(out.contains("\ncases 34: pass 1, non-strict 0, fail 0, info 0, missing 33\n"), out.constData());
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(json["summary"]["interrupted"].toBool(), true);
    QCOMPARE(json["summary"]["passed"].toBool(), false);
    for (const QJsonValue &c : json["cases"].toArray()) {
        if (c["id"] == "3.4")
            QCOMPARE(c["reason"].toString(), "interrupted");
    }
}

// The bundled receiver, judging, passes every case it is given: all but the
// capacity steps, with a short load.
void TestConform::judgingReceiverPassesTheBattery()
{
    QProcess receiver;
    const quint16 port = startReceiver(receiver, {"--judge", "--quiet"}, 10000);
    QVERIFY(port);
    QTemporaryDir dir;
    QProcess program;
    program.start(IPND_CONFORM, {"--host", "127.0.0.1", "--port", QString::number(port), "--exclude", "4.2",
                                 "--duration", "1", "--strict", "--junit", dir.filePath("run.xml")});
    QSignalSpy finished(&program, &QProcess::finished);
    QVERIFY(finished.wait(60000));
    const QByteArray out = program.readAllStandardOutput();
    QVERIFY2(out.endsWith("\ncases 34: pass 30, non-strict 0, fail 0, info 3, missing 1\n"), out.constData());
    QCOMPARE(program.exitCode(), 0);
    QFile junit(dir.filePath("run.xml"));
    QVERIFY(junit.open(QIODevice::ReadOnly));
    const QByteArray xml = junit.readAll();
    QCOMPARE(xml.count("<testsuite "), 4);
    QCOMPARE(xml.count("<testcase "), 34);
    QCOMPARE(xml.count("<skipped "), 1);
    QCOMPARE(xml.count("<system-out>info: "), 3);
    QVERIFY(!xml.contains("<failure"));
    receiver.kill();
    receiver.waitForFinished();
}

void TestConform::linkMisbehaves_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<QByteArray>>("chunks"); // as they arrive
    QTest::addColumn<int>("end");                  // RawPeer::End
    QTest::addColumn<int>("gapMs");                // at least, before the last chunk

    QTest::newRow("whole") << "none" << QList<QByteArray>{"ABCDEFGH"} << int(RawPeer::Open) << 0;
    QTest::newRow("trickle") << "trickle:60" << QList<QByteArray>{"A", "B", "C", "D", "E", "F", "G", "H"}
                             << int(RawPeer::Open) << 50;
    QTest::newRow("split") << "split:3:300" << QList<QByteArray>{"ABC", "DEFGH"} << int(RawPeer::Open) << 280;
    QTest::newRow("delay") << "delay:400" << QList<QByteArray>{"ABCDEFGH"} << int(RawPeer::Open) << 380;
    QTest::newRow("half-close") << "half-close" << QList<QByteArray>{"ABCDEFGH"} << int(RawPeer::Fin) << 0;
    QTest::newRow("reset") << "reset:4" << QList<QByteArray>{"ABCD"} << int(RawPeer::Reset) << 0;
    QTest::newRow("in capitals") << "Half-Close" << QList<QByteArray>{"ABCDEFGH"} << int(RawPeer::Fin) << 0;
}

// ipnd-send --misbehave: the link writes the packet as told, and the reply
// still comes back to it (after a half-close too).
void TestConform::linkMisbehaves()
{
    QFETCH(QString, mode);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, end);
    QFETCH(int, gapMs);
    QString error;
    const std::optional<Misbehaviour> misbehaviour = Misbehaviour::fromText(mode, &error);
    QVERIFY2(misbehaviour, qPrintable(error));
    QVERIFY(!Misbehaviour::fromText(mode + ":1:2:3", &error));

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QuietHost host(server.serverPort());
    Link link(host);
    link.listenAfterPeerClose = false;
    link.setMisbehaviour(*misbehaviour);
    QSignalSpy sent(&link, &Link::packetSent);
    QSignalSpy replied(&link, &Link::replyHandled);
    std::unique_ptr<RawPeer> peer;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        // A descriptor of its own: the socket's close leaves the connection open.
        peer = std::make_unique<RawPeer>(::dup(int(socket->socketDescriptor())));
        socket->abort();
        delete socket;
    });
    QVERIFY(link.startSend("ABCDEFGH"));
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(peer && peer->chunks.join() == chunks.join() && int(peer->end) == end, 5000);
    QCOMPARE(peer->chunks, chunks);
    if (gapMs)
        QVERIFY2(peer->at.constLast() - (chunks.size() > 1 ? peer->at[peer->at.size() - 2] : 0) >= gapMs,
                 qPrintable(QString::number(peer->at.constLast())));
    if (end == RawPeer::Reset)
        return;
    QVERIFY(::send(peer->fd, "ACK", 3, MSG_NOSIGNAL) == 3);
    ::shutdown(peer->fd, SHUT_WR);
    QVERIFY(replied.wait(5000));
    QCOMPARE(replied.constFirst().constFirst().toByteArray(), "ACK");
}

QTEST_GUILESS_MAIN(TestConform)
#include "tst_conform.moc"
