// The ipnd-receiver program, driven from outside: it is started on a free
// loopback port, a client sends it packets, and its replies, its output
// lines, its saved files and its exit status are checked.

#include "ReceiverProcess.h"

#include "receiver/ReceiverOptions.h"
#include "testpackets/TestRecords.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

const QString Program = QStringLiteral(IPND_RECEIVER);
constexpr int Bound = 5000; // ms: the most any one wait may take

const QByteArray Usage = "usage: ipnd-receiver [--bind ADDR] [--port N] [--reply TEXT] "
                         "[--misbehave MODE] [--idle-timeout SECONDS] [--save DIR] [--verdicts FILE] [--quiet]";

QByteArray withField(const QByteArray &record, int number, const QByteArray &value)
{
    QList<QByteArray> fields = record.split('|');
    fields[number - 1] = value;
    return fields.join('|');
}

QByteArray highBytes(int first, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(first + i));
    return bytes;
}

// One run of the program. A run still going at the end of a test is killed.
class ReceiverRun
{
public:
    // `descriptors`: the run's limit on open files, when above 0.
    explicit ReceiverRun(const QStringList &arguments, rlim_t descriptors = 0)
    {
        if (descriptors > 0) {
            m_process.setChildProcessModifier([descriptors] {
                const rlimit limit{descriptors, descriptors};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            });
        }
        m_process.start(Program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    }
    // Through the shell, for arguments that QProcess would pass as UTF-8.
    struct Shell
    {
        QByteArray arguments;
    };
    explicit ReceiverRun(const Shell &shell)
    {
        m_process.start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --port 0 ") + QString::fromLatin1(shell.arguments),
                         Program});
    }
    ~ReceiverRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(Bound);
        }
    }

    QByteArray nextLine() { return nextOutputLine(m_process, Bound); }

    // Reads the "listening on" line; false when it is not there.
    bool waitUntilListening()
    {
        m_port = listeningPort(m_process, Bound);
        return m_port != 0;
    }

    // Sends a signal, waits for the end and returns the rest of stdout as lines.
    QList<QByteArray> stop(int signalNumber)
    {
        ::kill(pid_t(m_process.processId()), signalNumber);
        m_process.waitForFinished(Bound);
        QByteArray rest = m_process.readAllStandardOutput();
        if (rest.endsWith('\n'))
            rest.chop(1);
        return rest.isEmpty() ? QList<QByteArray>() : rest.split('\n');
    }

    quint16 port() const { return m_port; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// What a client got back for one packet: the reply in the pieces it came in,
// when the first piece came, and whether the receiver closed the connection.
struct Exchange
{
    bool connected = false;
    quint16 clientPort = 0;
    QList<QByteArray> pieces;
    qint64 firstPieceAfter = -1; // ms from writing the packet
    bool closedByReceiver = false;

    QByteArray reply() const { return pieces.join(); }
};

// Connects, sends `packet` and reads until the receiver closes or the bound
// runs out. With closeAfterSending the client closes at once instead.
Exchange exchange(quint16 port, const QByteArray &packet, bool closeAfterSending = false)
{
    Exchange result;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(Bound))
        return result;
    result.connected = true;
    result.clientPort = socket.localPort();

    QElapsedTimer clock;
    clock.start();
    socket.write(packet);
    if (closeAfterSending) {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(Bound);
        return result;
    }
    const QDeadlineTimer deadline(Bound);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        const QByteArray piece = socket.readAll();
        if (piece.isEmpty())
            continue;
        if (result.pieces.isEmpty())
            result.firstPieceAfter = clock.elapsed();
        result.pieces.append(piece);
    }
    const QByteArray rest = socket.readAll();
    if (!rest.isEmpty())
        result.pieces.append(rest);
    result.closedByReceiver = socket.state() == QAbstractSocket::UnconnectedState;
    return result;
}

QByteArray packetLine(int number, const Exchange &client, const QByteArray &text)
{
    return "packet " + QByteArray::number(number) + " from 127.0.0.1:" + QByteArray::number(client.clientPort) +
           ": " + text;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<cannot read " + path.toLocal8Bit() + ">";
    return file.readAll();
}

} // namespace

class tst_Receiver : public QObject
{
    Q_OBJECT

private slots:
    void packets_data();
    void packets();
    void quietEndsPacket();
    void peerClosesFirst();
    void replyText_data();
    void replyText();
    void silent();
    void closeWithoutReply();
    void splitReply();
    void slowReply();
    void quiet();
    void idleConnectionsAreClosed();
    void outOfDescriptorsClientsWait();
    void replyBytesAreNotRecoded();
    void helpAndVersion_data();
    void helpAndVersion();
    void optionBounds_data();
    void optionBounds();
    void summaryOnSignal_data();
    void summaryOnSignal();
    void badArguments_data();
    void badArguments();
    void saveDirectoryCannotBeMade();
    void portInUse();
};

void tst_Receiver::packets_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("text");

    struct Fixed
    {
        const char *name;
        QByteArray record, header, id;
    };
    const QList<Fixed> fixed = {{"Standard", TestRecords::Standard, "0900311", "08903043"},
                                {"NoAdd", TestRecords::NoAdd, "0100164", "00101573"},
                                {"Min", TestRecords::Min, "0900120", "09901133"}};
    for (const Fixed &f : fixed) {
        QTest::addRow("%s bare", f.name) << f.record << "ACK " + f.id
                                         << "bare; 53 fields; fields ok; record id " + f.id;
        QTest::addRow("%s framed", f.name) << f.header + f.record << "ACK " + f.id
                                           << "framed code " + f.header.left(3) + " length " + f.header.mid(3) +
                                                  " ok; 53 fields; fields ok; record id " + f.id;
    }
    // Long and Max keep their widths and break the content rules on purpose.
    QTest::newRow("Max framed")
        << "0900713" + TestRecords::Max << QByteArray("ACK 99907063")
        << QByteArray("malformed: framed code 090 length 0713 ok; 53 fields; bad-state in field 36 STATE: not a state; "
                      "bad-flag in field 39 FLAG_39: not T or F; bad-flag in field 48 FLAG_48: not T or F; "
                      "bad-flag in field 52 FLAG_52: not T or F; record id 99907063");

    const QByteArray standard = TestRecords::Standard;
    QTest::newRow("framed, length too small")
        << "0900300" + standard << QByteArray("ACK 08903043")
        << QByteArray("malformed: framed length 0300 but 311 record bytes; 53 fields; fields ok; record id 08903043");
    QTest::newRow("framed, wrong code")
        << "0990311" + standard << QByteArray("ACK 08903043")
        << QByteArray("malformed: framed code 099 but record code 090; 53 fields; fields ok; record id 08903043");
    QTest::newRow("54 fields") << standard + "|F" << QByteArray("ACK 08903043")
                               << QByteArray("malformed: bare; 54 fields; field-count-54: 54 fields, 53 expected; record id 08903043");
    QTest::newRow("field 7 too wide")
        << withField(standard, 7, QByteArray(41, 'N')) << QByteArray("ACK 08903043")
        << QByteArray("malformed: bare; 53 fields; too-wide in field 7 CUST_NAME_1: 41 wide, at most 40; "
                      "record id 08903043");
    QTest::newRow("letter in header")
        << "09A0311" + standard << QByteArray("ACK 09A031108903043")
        << QByteArray("malformed: bare; 53 fields; too-wide in field 1 RECORD_ID: 15 wide, at most 8; "
                      "record id 09A031108903043");
    const QByteArray high9 = withField(standard, 9, highBytes(128, 128));
    QTest::newRow("bytes 128 to 255, framed")
        << "0900424" + high9 << QByteArray("ACK 08903043")
        << QByteArray("malformed: framed code 090 length 0424 ok; 53 fields; bad-char in field 9 LONG_NAME: byte 0x80 at 1; "
                      "record id 08903043");
    QTest::newRow("record id of high bytes")
        << withField(standard, 1, "\xc0\xff\x80") << QByteArray("ACK \xc0\xff\x80")
        << QByteArray("malformed: bare; 53 fields; bad-char in field 1 RECORD_ID: byte 0xc0 at 1; "
                      "record id \\xc0\\xff\\x80");
    const QByteArray r10000 = withField(standard, 9, QByteArray(9704, 'x'));
    QTest::newRow("framed 10000-byte record")
        << "09010000" + r10000 << QByteArray("ACK 08903043")
        << QByteArray("malformed: framed code 090 length 10000 ok; 53 fields; too-wide in field 9 LONG_NAME: 9704 wide, at most 80; "
                      "record id 08903043");
}

void tst_Receiver::packets()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, text);

    QTemporaryDir saved;
    QVERIFY(saved.isValid());
    ReceiverRun run({QStringLiteral("--save"), saved.path()});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), packet);
    QVERIFY(client.connected);
    QCOMPARE(client.reply(), reply);
    QVERIFY(client.closedByReceiver);
    QCOMPARE(run.nextLine(), packetLine(1, client, text));
    QCOMPARE(fileBytes(saved.filePath(QStringLiteral("packet-1.bin"))), packet);
    QVERIFY(!QFile::exists(saved.filePath(QStringLiteral("packet-2.bin"))));
}

void tst_Receiver::quietEndsPacket()
{
    // Too few fields and no header: whatever arrived is the packet once
    // nothing more has come for 500 ms.
    ReceiverRun run(QStringList{});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), "ABC|1|2|3|4|5|6|7|8|9|10|11");
    QCOMPARE(client.reply(), QByteArray("ACK ABC"));
    QCOMPARE_GE(client.firstPieceAfter, 495);
    QCOMPARE_LT(client.firstPieceAfter, 3000);
    QCOMPARE(run.nextLine(), packetLine(1, client, "malformed: bare; 12 fields; field-count-12: 12 fields, 53 expected; "
                                                   "record id ABC"));
}

void tst_Receiver::peerClosesFirst()
{
    // The client closes before the packet is whole: what arrived is the
    // packet, and there is nobody to reply to.
    QTemporaryDir saved;
    QVERIFY(saved.isValid());
    ReceiverRun run({QStringLiteral("--save"), saved.path()});
    QVERIFY(run.waitUntilListening());

    const QByteArray part = "0900311" + TestRecords::Standard.left(100);
    const Exchange client = exchange(run.port(), part, true);
    QVERIFY(client.connected);
    QCOMPARE(run.nextLine(),
             packetLine(1, client,
                        "malformed: framed length 0311 but 100 record bytes; 17 fields; "
                        "field-count-17: 17 fields, 53 expected; record id 08903043"));
    QCOMPARE(fileBytes(saved.filePath(QStringLiteral("packet-1.bin"))), part);
}

void tst_Receiver::replyText_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("words") << QByteArray("OK thanks") << TestRecords::Standard;
    QTest::newRow("for a packet without a record id")
        << QByteArray("NAK") << TestRecords::Standard.mid(TestRecords::Standard.indexOf('|'));
    QTest::newRow("one byte") << QByteArray("Y") << TestRecords::Max;
    QTest::newRow("empty") << QByteArray() << TestRecords::Long;
}

void tst_Receiver::replyText()
{
    QFETCH(QByteArray, argument);
    QFETCH(QByteArray, packet);

    ReceiverRun run({QStringLiteral("--reply"), QString::fromLatin1(argument)});
    QVERIFY(run.waitUntilListening());
    const Exchange client = exchange(run.port(), packet, false);
    QCOMPARE(client.reply(), argument);
    QVERIFY(client.closedByReceiver);
}

void tst_Receiver::silent()
{
    ReceiverRun run({QStringLiteral("--misbehave"), QStringLiteral("silent")});
    QVERIFY(run.waitUntilListening());

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, run.port());
    QVERIFY(socket.waitForConnected(Bound));
    socket.write(TestRecords::Standard);
    QVERIFY(socket.waitForBytesWritten(Bound));
    // Once the packet line is out the receiver has the whole packet; it
    // neither replies nor closes while the client waits.
    QCOMPARE(run.nextLine(),
             "packet 1 from 127.0.0.1:" + QByteArray::number(socket.localPort()) +
                 ": bare; 53 fields; fields ok; record id 08903043");
    QVERIFY(!socket.waitForReadyRead(300));
    QCOMPARE(socket.bytesAvailable(), qint64(0));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);

    socket.disconnectFromHost();
    QCOMPARE(run.stop(SIGINT),
             (QList<QByteArray>{"packets 1", "framed 0", "bare 1", "malformed 0", "idle closed 0",
                                "verdicts: valid 1"}));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
}

void tst_Receiver::closeWithoutReply()
{
    ReceiverRun run({QStringLiteral("--misbehave"), QStringLiteral("close")});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), TestRecords::NoAdd);
    QVERIFY(client.connected);
    QVERIFY(client.closedByReceiver);
    QCOMPARE(client.reply(), QByteArray());
    QCOMPARE(run.nextLine(), packetLine(1, client, "bare; 53 fields; fields ok; record id 00101573"));
}

void tst_Receiver::splitReply()
{
    ReceiverRun run({QStringLiteral("--misbehave"), QStringLiteral("split")});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), "0900311" + TestRecords::Standard);
    QVERIFY(client.closedByReceiver);
    QCOMPARE(client.pieces, (QList<QByteArray>{"ACK 08", "903043"}));
    QCOMPARE(client.reply(), QByteArray("ACK 08903043"));
}

void tst_Receiver::slowReply()
{
    ReceiverRun run({QStringLiteral("--misbehave"), QStringLiteral("slow:200")});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), TestRecords::Max);
    QCOMPARE(client.reply(), QByteArray("ACK 99907063"));
    QVERIFY(client.closedByReceiver);
    QCOMPARE_GE(client.firstPieceAfter, 195);
    QCOMPARE_LT(client.firstPieceAfter, 3000);
}

// --quiet: no line per packet, only the verdicts file and the summary.
void tst_Receiver::quiet()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString verdicts = dir.filePath(QStringLiteral("verdicts.jsonl"));
    ReceiverRun run({QStringLiteral("--quiet"), QStringLiteral("--verdicts=") + verdicts});
    QVERIFY(run.waitUntilListening());

    QCOMPARE(exchange(run.port(), TestRecords::Min).reply(), QByteArray("ACK 09901133"));
    QCOMPARE(exchange(run.port(), TestRecords::Standard + "|F").reply(), QByteArray("ACK 08903043"));
    const QByteArray oddId = withField(TestRecords::Standard, 1, "0890\"\\\x01\xe9");
    QCOMPARE(exchange(run.port(), "0900" + QByteArray::number(oddId.size()) + oddId).reply(),
             "ACK " + oddId.left(8));
    QCOMPARE(run.stop(SIGTERM), (QList<QByteArray>{"packets 3", "framed 1", "bare 2", "malformed 2", "idle closed 0",
                                                   "verdicts: valid 1, bad-char 1, field-count-54 1"}));
    QFile file(verdicts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("{\"packet\": 1, \"framed\": false, \"id\": \"09901133\", \"verdict\": \"valid\", "
                        "\"findings\": []}\n"
                        "{\"packet\": 2, \"framed\": false, \"id\": \"08903043\", \"verdict\": \"field-count-54\", "
                        "\"findings\": [{\"kind\": \"field-count-54\", \"field\": 0, "
                        "\"detail\": \"54 fields, 53 expected\"}]}\n"
                        "{\"packet\": 3, \"framed\": true, \"id\": \"0890\\u0022\\u005c\\u0001\\u00e9\", "
                        "\"verdict\": \"bad-char\", \"findings\": [{\"kind\": \"bad-char\", \"field\": 1, "
                        "\"detail\": \"byte 0x01 at 7\"}]}\n"));
    QCOMPARE(run.process().exitCode(), 0);
}

void tst_Receiver::summaryOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void tst_Receiver::summaryOnSignal()
{
    QFETCH(int, signalNumber);

    ReceiverRun run(QStringList{});
    QVERIFY(run.waitUntilListening());

    const QByteArray standard = TestRecords::Standard;
    // One exchange after the other, each packet's line read before the next
    // connection, so the numbers follow the order of sending.
    const Exchange first = exchange(run.port(), standard);
    QCOMPARE(first.reply(), QByteArray("ACK 08903043"));
    QCOMPARE(run.nextLine(), packetLine(1, first, "bare; 53 fields; fields ok; record id 08903043"));
    const Exchange second = exchange(run.port(), "0100164" + TestRecords::NoAdd);
    QCOMPARE(second.reply(), QByteArray("ACK 00101573"));
    QCOMPARE(run.nextLine(),
             packetLine(2, second, "framed code 010 length 0164 ok; 53 fields; fields ok; record id 00101573"));
    const Exchange third = exchange(run.port(), "0900300" + standard);
    QCOMPARE(third.reply(), QByteArray("ACK 08903043"));
    QCOMPARE(run.nextLine(), packetLine(3, third,
                                        "malformed: framed length 0300 but 311 record bytes; 53 fields; fields ok; "
                                        "record id 08903043"));
    const Exchange fourth = exchange(run.port(), "ABC|def", true);
    QCOMPARE(run.nextLine(), packetLine(4, fourth, "malformed: bare; 2 fields; field-count-2: 2 fields, 53 expected; "
                                                   "record id ABC"));
    const Exchange fifth = exchange(run.port(), "0900120" + TestRecords::Min);
    QCOMPARE(fifth.reply(), QByteArray("ACK 09901133"));
    QCOMPARE(run.nextLine(),
             packetLine(5, fifth, "framed code 090 length 0120 ok; 53 fields; fields ok; record id 09901133"));

    QCOMPARE(run.stop(signalNumber), (QList<QByteArray>{"packets 5", "framed 3", "bare 2", "malformed 2", "idle closed 0",
                                                        "verdicts: valid 3, bad-framing 1, field-count-2 1"}));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
    QCOMPARE(run.process().readAllStandardError(), QByteArray());
}

void tst_Receiver::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    const auto row = [](const char *name, const QStringList &arguments, const QByteArray &message) {
        QTest::newRow(name) << arguments << "ipnd-receiver: " + message;
    };
    row("port not a number", {"--port", "abc"}, "--port: \"abc\" is not a port number (0 to 65535)");
    row("port too big", {"--port", "65536"}, "--port: \"65536\" is not a port number (0 to 65535)");
    row("port negative", {"--port", "-1"}, "--port: \"-1\" is not a port number (0 to 65535)");
    row("port empty", {"--port="}, "--port: \"\" is not a port number (0 to 65535)");
    row("port without value", {"--port"}, "--port needs a value");
    row("unknown option", {"--foo"}, "unknown option --foo");
    row("unknown option with value", {"--foo=1"}, "unknown option --foo");
    row("idle timeout not a number", {"--idle-timeout", "soon"},
        "--idle-timeout: \"soon\" is not a number of seconds (0 to 86400)");
    row("stray argument", {"stray"}, "unexpected argument \"stray\"");
    row("misbehave misspelt", {"--misbehave", "sloww"},
        "--misbehave: \"sloww\" is not none, silent, close, split or slow:MS");
    row("slow without time", {"--misbehave", "slow:"},
        "--misbehave: \"slow:\" is not none, silent, close, split or slow:MS");
    row("slow time not a number", {"--misbehave=slow:1s"},
        "--misbehave: \"slow:1s\" is not none, silent, close, split or slow:MS");
    row("slow time too long", {"--misbehave", "slow:600001"},
        "--misbehave: \"slow:600001\" is not none, silent, close, split or slow:MS");
    row("misbehave without value", {"--misbehave"}, "--misbehave needs a value");
    row("bind not an address", {"--bind", "nowhere"}, "--bind: \"nowhere\" is not an IP address");
    row("reply without value", {"--reply"}, "--reply needs a value");
    row("save empty", {"--save", ""}, "--save: \"\" is not a directory name");
    row("quiet with value", {"--quiet=yes"}, "--quiet takes no value");
}

void tst_Receiver::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QProcess process;
    process.start(Program, arguments);
    QVERIFY(process.waitForFinished(Bound));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardError(), message + '\n' + Usage + '\n');
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void tst_Receiver::saveDirectoryCannotBeMade()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    const QString below = file.fileName() + QStringLiteral("/packets");

    QProcess process;
    process.start(Program, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--save"), below});
    QVERIFY(process.waitForFinished(Bound));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardError(),
             "ipnd-receiver: --save: cannot create directory \"" + below.toLocal8Bit() + "\"\n" + Usage + '\n');
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void tst_Receiver::portInUse()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const QByteArray port = QByteArray::number(holder.serverPort());

    QProcess process;
    process.start(Program, {QStringLiteral("--port"), QString::fromLatin1(port)});
    QVERIFY(process.waitForFinished(Bound));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3);
    QCOMPARE(process.readAllStandardError(),
             "ipnd-receiver: cannot listen on 127.0.0.1:" + port + ": address already in use\n");
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void tst_Receiver::idleConnectionsAreClosed()
{
    ReceiverRun run({QStringLiteral("--misbehave=silent"), QStringLiteral("--idle-timeout=0.2")});
    QVERIFY(run.waitUntilListening());

    // One connection that never sends, and one that sends a packet to a
    // silent receiver and then waits: both are closed by the receiver.
    QTcpSocket mute;
    mute.connectToHost(QHostAddress::LocalHost, run.port());
    QVERIFY(mute.waitForConnected(Bound));
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, run.port());
    QVERIFY(waiting.waitForConnected(Bound));
    waiting.write(TestRecords::Standard);
    QVERIFY(waiting.waitForBytesWritten(Bound));
    QCOMPARE(run.nextLine(), "packet 1 from 127.0.0.1:" + QByteArray::number(waiting.localPort()) +
                                 ": bare; 53 fields; fields ok; record id 08903043");
    for (QTcpSocket *socket : {&mute, &waiting}) {
        if (socket->state() != QAbstractSocket::UnconnectedState)
            QVERIFY(socket->waitForDisconnected(Bound));
        QCOMPARE(socket->readAll(), QByteArray());
    }
    QCOMPARE(run.stop(SIGINT),
             (QList<QByteArray>{"packets 1", "framed 0", "bare 1", "malformed 0", "idle closed 2",
                                "verdicts: valid 1"}));
}

// Out of descriptors, the receiver takes no more connections until one
// closes, instead of failing to accept them in a busy loop.
void tst_Receiver::outOfDescriptorsClientsWait()
{
    ReceiverRun run({QStringLiteral("--quiet")}, 64);
    QVERIFY(run.waitUntilListening());
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 60; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, run.port());
        QVERIFY(crowd.back()->waitForConnected(Bound));
    }
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += run.process().readAllStandardError()).endsWith('\n'), Bound);
    QCOMPARE(said, QByteArray("ipnd-receiver: 32 connections open, as many as the descriptor limit allows; "
                              "further clients wait until one closes\n"));

    // What waiting costs the receiver in processor time is measured in the
    // benchmarks (ipnd-bench-send [4]).
    crowd.resize(20);
    const Exchange client = exchange(run.port(), TestRecords::Standard);
    QCOMPARE(client.reply(), QByteArray("ACK 08903043"));
    QCOMPARE(run.stop(SIGTERM), (QList<QByteArray>{"packets 1", "framed 0", "bare 1", "malformed 0",
                                                   "idle closed 0", "verdicts: valid 1"}));
}

void tst_Receiver::replyBytesAreNotRecoded()
{
    // Bytes that are not UTF-8 reach the wire as they were typed.
    ReceiverRun run(ReceiverRun::Shell{"--reply \"$(printf '\\377\\200 \\351t\\351')\""});
    QVERIFY(run.waitUntilListening());
    QCOMPARE(exchange(run.port(), TestRecords::Standard).reply(), QByteArray("\xff\x80 \xe9t\xe9"));
}

void tst_Receiver::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("expected"); // the whole output, or lines that must be in it

    QTest::newRow("--version") << QStringLiteral("--version") << QByteArray("ipnd-receiver 1.10.23\n");
    QTest::newRow("--help") << QStringLiteral("--help")
                            << QByteArray("Usage: ipnd-receiver [options]\n|--bind <ADDR> |--port <N> |--reply <TEXT> "
                                          "|--misbehave <MODE> |--idle-timeout <SECONDS> |--save <DIR> |--quiet ");
}

void tst_Receiver::helpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, expected);

    QProcess process;
    process.start(Program, {option, QStringLiteral("--port=x")});
    QVERIFY(process.waitForFinished(Bound));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardError(), QByteArray());
    const QByteArray out = process.readAllStandardOutput();
    if (!expected.contains('|')) {
        QCOMPARE(out, expected);
        return;
    }
    // A line of its own for each option, with a word on what it does.
    for (const QByteArray &part : expected.split('|')) {
        const qsizetype at = out.indexOf(part);
        QVERIFY2(at >= 0, part.constData());
        const qsizetype end = out.indexOf('\n', at);
        QVERIFY2(out.mid(at + part.size(), end - at - part.size()).trimmed().size() > 8, part.constData());
    }
}

void tst_Receiver::optionBounds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("value"); // the value taken, in the option's unit; -1: refused

    const auto row = [](const char *option, const char *value, int taken) {
        QTest::addRow("%s %s", option, value) << QStringList{QLatin1String(option), QLatin1String(value)} << taken;
    };
    row("--port", "0", 0);
    row("--port", "-1", -1);
    row("--port", "65535", 65535);
    row("--port", "65536", -1);
    row("--misbehave", "slow:0", 0);
    row("--misbehave", "slow:-1", -1);
    row("--misbehave", "slow:600000", 600000);
    row("--misbehave", "slow:600001", -1);
    row("--idle-timeout", "0", 0);
    row("--idle-timeout", "-0.001", -1);
    row("--idle-timeout", "0.001", 1);
    row("--idle-timeout", "0.0004", -1);
    row("--idle-timeout", "86400", 86400000);
    row("--idle-timeout", "86400.001", -1);
}

void tst_Receiver::optionBounds()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, value);

    const ParsedOptions parsed = parseReceiverOptions(QStringList{QStringLiteral("ipnd-receiver")} + arguments);
    QCOMPARE(parsed.ok(), value >= 0);
    if (value < 0) {
        QVERIFY2(parsed.error.startsWith(arguments[0].toLatin1() + ": \"" + arguments[1].toLatin1() + "\" is not"),
                 parsed.error.constData());
        return;
    }
    const ReceiverOptions &o = parsed.options;
    const int taken = arguments[0] == QLatin1String("--port") ? o.port
                      : arguments[0] == QLatin1String("--misbehave") ? o.delay
                                                                      : o.idleTimeout;
    QCOMPARE(taken, value);
}

QTEST_GUILESS_MAIN(tst_Receiver)
#include "tst_receiver.moc"
