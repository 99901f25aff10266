// The ipnd-receiver program, driven from outside: it is started on a free
// loopback port, a client sends it packets, and its replies, its output
// lines, its saved files and its exit status are checked.

#include "ReceiverProcess.h"

#include "DataFile/Framing.h"
#include "receiver/LineFile.h"
#include "receiver/ReceiverOptions.h"
#include "testpackets/TestRecords.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <utility>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString Program = QStringLiteral(IPND_RECEIVER);
constexpr int Bound = 5000; // ms: the most any one wait may take

const QByteArray Usage = "usage: ipnd-receiver [--bind ADDR] [--port N] [--reply TEXT] "
                         "[--misbehave MODE] [--idle-timeout SECONDS] [--save DIR] [--verdicts FILE] "
                         "[--max-packet BYTES] [--max-connections N] [--capture FILE] [--bare-gap MS] "
                         "[--port-file FILE] [--tls-cert FILE] [--tls-key FILE] [--tls-client-ca FILE] "
                         "[--judge] [--quiet]";

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
    // `descriptors`, `fileSize`: the run's limits on open files and on the
    // size of a file it writes, when above 0.
    explicit ReceiverRun(const QStringList &arguments, rlim_t descriptors = 0, rlim_t fileSize = 0)
    {
        if (descriptors > 0 || fileSize > 0) {
            m_process.setChildProcessModifier([descriptors, fileSize] {
                if (descriptors > 0) {
                    const rlimit limit{descriptors, descriptors};
                    ::setrlimit(RLIMIT_NOFILE, &limit);
                }
                if (fileSize > 0) {
                    const rlimit limit{fileSize, fileSize};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                }
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

    // Sends a signal, waits for the end and returns the rest of the output
    // it reads (stdout unless told otherwise) as lines.
    QList<QByteArray> stop(int signalNumber)
    {
        ::kill(pid_t(m_process.processId()), signalNumber);
        m_process.waitForFinished(Bound);
        QByteArray rest = m_process.readAll();
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
// runs out. With closeAfterSending the client closes at once instead. With
// `late` its bytes from `late->first` on come `late->second` ms after the rest.
Exchange exchange(quint16 port, const QByteArray &packet, bool closeAfterSending = false,
                  std::optional<std::pair<qsizetype, int>> late = {})
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
    if (late) {
        socket.write(packet.left(late->first));
        socket.waitForBytesWritten(Bound);
        QTest::qWait(late->second); // the delay under test
    }
    socket.write(late ? packet.mid(late->first) : packet);
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

// DIR/packet-1.bin, packet-2.bin, ... as --save left them.
QList<QByteArray> savedPackets(const QString &directory)
{
    QList<QByteArray> packets;
    for (int n = 1; QFile::exists(directory + QStringLiteral("/packet-%1.bin").arg(n)); ++n)
        packets.append(fileBytes(directory + QStringLiteral("/packet-%1.bin").arg(n)));
    return packets;
}

// ipnd-send replaying `file` as fast as the receiver answers; its exit code.
int replay(quint16 port, const QString &file, const QString &format, const QStringList &more = {})
{
    QProcess send;
    send.start(QStringLiteral(IPND_SEND), QStringList{"--host", "127.0.0.1", "--port", QString::number(port), "--replay",
                                                      file, "--format", format, "--period", "0", "--quiet"} + more);
    return send.waitForFinished(4 * Bound) ? send.exitCode() : -1;
}

// The packets `file` replays as, framed as they reach a receiver.
QList<QByteArray> replayedPackets(const QString &file)
{
    QTemporaryDir saved;
    ReceiverRun run({QStringLiteral("--quiet"), QStringLiteral("--save"), saved.path()});
    if (!run.waitUntilListening() || replay(run.port(), file, QStringLiteral("rawlog")) != 0)
        return {"<replay failed>"};
    run.stop(SIGTERM);
    return savedPackets(saved.path());
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
    void bareGap();
    void portFile();
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
    void outputsRefused_data();
    void outputsRefused();
    void portInUse();
    void judge_data();
    void judge();
    void connectionsBeyondTheBoundWait();
    void captureLeavesOut_data();
    void captureLeavesOut();
    void captureTargets_data();
    void captureTargets();
    void verdictsReaderStops();
    void linesWaitingForAStalledReaderAreBounded();
    void halfClosedSource_data();
    void halfClosedSource();
    void wideIdRefusedAsExpected_data();
    void wideIdRefusedAsExpected();
    void generatedRun_data();
    void generatedRun();
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
        << "09A0311" + standard << QByteArray("ACK 09A03110")
        << QByteArray("malformed: bare; 53 fields; too-wide in field 1 RECORD_ID: 15 wide, at most 8; "
                      "record id 09A03110");
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
    QTest::addColumn<QByteArray>("reply");

    const QByteArray noId = TestRecords::Standard.mid(TestRecords::Standard.indexOf('|'));
    QTest::newRow("words") << QByteArray("OK thanks") << TestRecords::Standard << QByteArray("OK thanks");
    QTest::newRow("for a packet without a record id") << QByteArray("NAK") << noId << QByteArray("NAK");
    QTest::newRow("one byte") << QByteArray("Y") << TestRecords::Max << QByteArray("Y");
    QTest::newRow("empty") << QByteArray() << TestRecords::Long << QByteArray();
    QTest::newRow("{id} and escapes") << QByteArray("OK {id}\\r\\n\\t\\\\{id}\\")
                                      << "0900120" + TestRecords::Min << QByteArray("OK 09901133\r\n\t\\09901133\\");
    QTest::newRow("{id} of none, an escape unknown") << QByteArray("[{id}]\\x") << noId << QByteArray("[]\\x");
}

void tst_Receiver::replyText()
{
    QFETCH(QByteArray, argument);
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, reply);

    ReceiverRun run({QStringLiteral("--reply"), QString::fromLatin1(argument)});
    QVERIFY(run.waitUntilListening());
    const Exchange client = exchange(run.port(), packet, false);
    QCOMPARE(client.reply(), reply);
    QVERIFY(client.closedByReceiver);
}

void tst_Receiver::silent()
{
    // An idle timeout of 0 never closes.
    ReceiverRun run({QStringLiteral("--misbehave"), QStringLiteral("silent"), QStringLiteral("--idle-timeout=0")});
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
    // Bytes after a whole packet are not part of it, and that is said once.
    socket.write("more");
    QVERIFY(socket.waitForBytesWritten(Bound));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += run.process().readAllStandardError()).endsWith('\n'), Bound);
    socket.write("and more");
    QVERIFY(socket.waitForBytesWritten(Bound));
    QCOMPARE(said, "ipnd-receiver: from 127.0.0.1:" + QByteArray::number(socket.localPort()) +
                       ": more bytes after its packet was judged; they are not part of it\n");

    socket.disconnectFromHost();
    QCOMPARE(run.stop(SIGINT),
             (QList<QByteArray>{"packets 1", "framed 0", "bare 1", "malformed 0", "idle closed 0",
                                "verdicts: valid 1"}));
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
    QCOMPARE(run.process().readAllStandardError(), QByteArray());
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
// --bare-gap: the quiet after which a record that may have ended is whole.
void tst_Receiver::bareGap()
{
    ReceiverRun run({QStringLiteral("--bare-gap"), QStringLiteral("300")});
    QVERIFY(run.waitUntilListening());

    const Exchange client = exchange(run.port(), TestRecords::Standard);
    QCOMPARE(client.reply(), QByteArray("ACK 08903043"));
    QCOMPARE_GE(client.firstPieceAfter, 295);
    QCOMPARE_LT(client.firstPieceAfter, 3000);
}

// --port-file: the port, once it listens, in a file a script can wait for.
void tst_Receiver::portFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("port"));
    QFile earlier(file);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("an earlier run's port, longer\n") > 0);
    earlier.close();
    ReceiverRun run({QStringLiteral("--port-file"), file});
    QVERIFY(run.waitUntilListening());
    QCOMPARE(fileBytes(file), QByteArray::number(run.port()) + '\n');
    QCOMPARE(exchange(run.port(), TestRecords::Min).reply(), QByteArray("ACK 09901133"));

    ReceiverRun refused({QStringLiteral("--port-file"), dir.filePath(QStringLiteral("none/port"))});
    QVERIFY(refused.process().waitForFinished(Bound));
    QCOMPARE(refused.process().exitCode(), 2);
    QVERIFY(refused.process().readAllStandardError().startsWith("ipnd-receiver: --port-file: cannot write \""));
}

void tst_Receiver::quiet()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString verdicts = dir.filePath(QStringLiteral("verdicts.jsonl"));
    const QString capture = dir.filePath(QStringLiteral("capture.dat"));
    const QByteArray earlier = "2026-12-08 10:00:00\tTCPIN\t127.0.0.1:40000\tearlier\n";
    QFile captured(capture);
    QVERIFY(captured.open(QIODevice::WriteOnly) && captured.write(earlier) == earlier.size());
    captured.close();
    ReceiverRun run({QStringLiteral("--quiet"), QStringLiteral("--verdicts=") + verdicts, QStringLiteral("--capture"),
                     capture});
    QVERIFY(run.waitUntilListening());

    const Exchange first = exchange(run.port(), TestRecords::Min);
    QCOMPARE(first.reply(), QByteArray("ACK 09901133"));
    // Each line is in its file by the time the reply is, for a reader during
    // the run or after a kill; a capture is appended to.
    QCOMPARE(fileBytes(verdicts), QByteArray("{\"packet\": 1, \"framed\": false, \"id\": \"09901133\", "
                                             "\"verdict\": \"valid\", \"findings\": []}\n"));
    const QByteArray line = "\tTCPIN\t127.0.0.1:" + QByteArray::number(first.clientPort) + '\t' + TestRecords::Min + '\n';
    QCOMPARE(fileBytes(capture).size(), earlier.size() + 23 + line.size());
    QVERIFY(fileBytes(capture).startsWith(earlier) && fileBytes(capture).endsWith(line));
    QCOMPARE(exchange(run.port(), TestRecords::Standard + "|F").reply(), QByteArray("ACK 08903043"));
    const QByteArray oddId = withField(TestRecords::Standard, 1, "0890\"\\\x01\xe9");
    QCOMPARE(exchange(run.port(), "0900" + QByteArray::number(oddId.size()) + oddId).reply(),
             "ACK " + oddId.left(8));
    // Four findings: one line still, counted under the first. The odd id
    // is no number a replay would send, so it is not captured.
    QCOMPARE(exchange(run.port(), "0900713" + TestRecords::Max).reply(), QByteArray("ACK 99907063"));
    QCOMPARE(run.stop(SIGTERM), (QList<QByteArray>{"packets 4", "framed 2", "bare 2", "malformed 3", "idle closed 0",
                                                   "not captured 1",
                                                   "verdicts: valid 1, bad-char 1, bad-state 1, field-count-54 1"}));
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
                        "\"detail\": \"byte 0x01 at 7\"}]}\n"
                        "{\"packet\": 4, \"framed\": true, \"id\": \"99907063\", \"verdict\": \"bad-state\", "
                        "\"findings\": [{\"kind\": \"bad-state\", \"field\": 36, \"detail\": \"not a state\"}, "
                        "{\"kind\": \"bad-flag\", \"field\": 39, \"detail\": \"not T or F\"}, "
                        "{\"kind\": \"bad-flag\", \"field\": 48, \"detail\": \"not T or F\"}, "
                        "{\"kind\": \"bad-flag\", \"field\": 52, \"detail\": \"not T or F\"}]}\n"));
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
    row("judge and reply", {"--reply", "OK", "--judge"}, "--judge and --reply cannot be used together");
    row("key without a certificate", {"--port", "0", "--tls-key", "k.pem"}, "--tls-cert and --tls-key go together");
    row("client CA without a certificate", {"--port", "0", "--tls-client-ca", "ca.pem"},
        "--tls-client-ca goes with --tls-cert");
    row("capture empty", {"--capture="}, "--capture: \"\" is not a file name");
    row("max packet not a number", {"--max-packet", "1M"},
        "--max-packet: \"1M\" is not a number of bytes (1 to 1073741824)");
    row("port twice", {"--port", "1", "--port=2"}, "--port is given twice");
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

void tst_Receiver::outputsRefused_data()
{
    QTest::addColumn<QStringList>("arguments"); // {} stands for a directory holding "file", "used/" and "pipe"
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("save below a file") << QStringList{"--save", "{}/file/packets"}
                                       << QByteArray("--save: cannot create directory \"{}/file/packets\"");
    QTest::newRow("save with an earlier run's packets")
        << QStringList{"--save", "{}/used"}
        << QByteArray("--save: \"{}/used\" holds packets of an earlier run; empty it or name another directory");
    QTest::newRow("save where nothing can be written")
        << QStringList{"--save", "/proc/self"}
        << QByteArray("--save: cannot write in \"/proc/self\": Operation not permitted");
    QTest::newRow("verdicts to a pipe nobody reads")
        << QStringList{"--verdicts", "{}/pipe"} << QByteArray("--verdicts: cannot write \"{}/pipe\": a pipe that nobody reads");
    QTest::newRow("capture to a pipe nobody reads")
        << QStringList{"--capture", "{}/pipe"} << QByteArray("--capture: cannot write \"{}/pipe\": a pipe that nobody reads");
    QTest::newRow("capture in no directory")
        << QStringList{"--capture", "{}/none/capture.dat"}
        << QByteArray("--capture: cannot write \"{}/none/capture.dat\": No such file or directory");
}

// Refused at start-up, before a packet is taken, never in open() for ever.
void tst_Receiver::outputsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("used")));
    QFile earlier(dir.filePath(QStringLiteral("used/packet-1.bin")));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    arguments.replaceInStrings(QStringLiteral("{}"), dir.path());

    QProcess process;
    process.start(Program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    QVERIFY(process.waitForFinished(Bound));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardError(),
             "ipnd-receiver: " + message.replace("{}", dir.path().toLocal8Bit()) + '\n' + Usage + '\n');
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("used/packet-1.bin"))), QByteArray());
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
                                          "|--misbehave <MODE> |--idle-timeout <SECONDS> |--save <DIR> "
                                          "|--max-packet <BYTES> |--max-connections <N> |--capture <FILE> "
                                          "|--bare-gap <MS> |--port-file <FILE> |--judge |--quiet ");
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
    row("--misbehave", "SLOW:7", 7);
    row("--idle-timeout", "0", 0);
    row("--idle-timeout", "-0.001", -1);
    row("--idle-timeout", "0.001", 1);
    row("--idle-timeout", "0.0004", -1);
    row("--idle-timeout", "86400", 86400000);
    row("--idle-timeout", "86400.001", -1);
    row("--max-packet", "0", -1);
    row("--max-packet", "1", 1);
    row("--max-packet", "1073741824", 1073741824);
    row("--max-packet", "1073741825", -1);
    row("--max-connections", "0", -1);
    row("--max-connections", "1", 1);
    row("--max-connections", "1000000", 1000000);
    row("--max-connections", "1000001", -1);
    row("--bare-gap", "0", 0);
    row("--bare-gap", "60000", 60000);
    row("--bare-gap", "60001", -1);
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
    const int taken = arguments[0] == QLatin1String("--port")              ? o.port
                      : arguments[0] == QLatin1String("--misbehave")       ? o.delay
                      : arguments[0] == QLatin1String("--max-packet")      ? int(o.maxPacket)
                      : arguments[0] == QLatin1String("--max-connections") ? o.maxConnections
                      : arguments[0] == QLatin1String("--bare-gap")        ? o.bareGap
                                                                           : o.idleTimeout;
    QCOMPARE(taken, value);
}

void tst_Receiver::judge_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<qsizetype>("lateFrom"); // -1: the packet comes whole
    QTest::addColumn<int>("lateBy");
    QTest::addColumn<QList<QByteArray>>("pieces");

    const QByteArray standard = "0900311" + TestRecords::Standard;
    const QByteArray max = "0900713" + TestRecords::Max;
    const QByteArray wideLast = withField(TestRecords::Standard, 53, "FF");
    const QStringList judge{"--judge"};
    const auto row = [](const char *name, const QStringList &arguments, const QByteArray &packet,
                        const QList<QByteArray> &pieces, qsizetype lateFrom = -1, int lateBy = 0) {
        QTest::newRow(name) << arguments << packet << lateFrom << lateBy << pieces;
    };
    row("valid", judge, standard, {"ACK 08903043"});
    row("bad framing", judge, "0990311" + TestRecords::Standard, {"NAK 08903043 bad-framing"});
    // The rest of what the length field says is awaited 2 s, then refused.
    row("framed, shorter than it says", judge, "0900312" + TestRecords::Standard, {"NAK 08903043 incomplete"});
    row("the first of four findings", judge, max, {"NAK 99907063 bad-state"});
    row("no record id", judge, "|x", {"NAK field-count-2"});
    row("split", {"--judge", "--misbehave", "split"}, max, {"NAK 9990706", "3 bad-state"});
    row("as large as allowed", {"--judge", "--max-packet", "318"}, standard, {"ACK 08903043"});
    row("one byte too large", {"--judge", "--max-packet", "317"}, standard, {"NAK 08903043 too-large"});
    row("too large, answered as the mode says", {"--max-packet", "20"}, QByteArray(40, '\0'),
        {"ACK " + QByteArray(8, '\0')});
    // However the bytes were cut on the way, the verdict is the whole packet's.
    row("bare, last field too wide, its last byte late", judge, wideLast, {"NAK 08903043 too-wide"},
        wideLast.size() - 1, 50);
    row("framed, cut where a short length ends", judge, "0900300" + TestRecords::Standard,
        {"NAK 08903043 bad-framing"}, 307, 50);
    // The idle timeout counts only silence.
    row("slower than the idle timeout", {"--judge", "--idle-timeout", "0.2"}, standard, {"ACK 08903043"}, 100, 300);
}

// --judge: ACK a record the checks pass, NAK with the verdict's kind any other.
void tst_Receiver::judge()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, packet);
    QFETCH(qsizetype, lateFrom);
    QFETCH(int, lateBy);
    QFETCH(QList<QByteArray>, pieces);

    ReceiverRun run(arguments);
    QVERIFY(run.waitUntilListening());
    const Exchange client =
        exchange(run.port(), packet, false, lateFrom < 0 ? std::nullopt : std::optional(std::pair(lateFrom, lateBy)));
    QCOMPARE(client.pieces, pieces);
    QVERIFY(client.closedByReceiver);
}

// At most --max-connections exchanges at once; the next client waits in the
// backlog, and that is said once a run however often it fills.
void tst_Receiver::connectionsBeyondTheBoundWait()
{
    ReceiverRun run({QStringLiteral("--max-connections"), QStringLiteral("2"), QStringLiteral("--quiet")});
    QVERIFY(run.waitUntilListening());
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<QTcpSocket>> crowd; // two hold the places, the third waits
        for (int i = 0; i < 3; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            crowd.back()->connectToHost(QHostAddress::LocalHost, run.port());
            QVERIFY(crowd.back()->waitForConnected(Bound));
        }
        QTcpSocket &waiting = *crowd.back();
        waiting.write("0900311" + TestRecords::Standard);
        if (round == 0) {
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += run.process().readAllStandardError()).endsWith('\n'), Bound);
            QCOMPARE(said, QByteArray("ipnd-receiver: 2 connections open, as many as --max-connections allows; "
                                      "further clients wait until one closes\n"));
            QVERIFY(!waiting.waitForReadyRead(300));
        }
        crowd[0]->abort();
        crowd[1]->abort();
        QVERIFY(waiting.waitForReadyRead(Bound));
        QCOMPARE(waiting.readAll(), QByteArray("ACK 08903043"));
    }
    QCOMPARE(run.stop(SIGTERM).constFirst(), QByteArray("packets 2"));
    QCOMPARE(run.process().readAllStandardError(), QByteArray());
}

void tst_Receiver::captureLeavesOut_data()
{
    QTest::addColumn<QString>("capture"); // "-": standard output

    QTest::newRow("file") << QStringLiteral("capture.dat");
    QTest::newRow("standard output") << QStringLiteral("-");
}

// A record a replay cannot give back is left out, said and counted; the
// records around it are captured, and replay as their packets (a bare one
// framed).
void tst_Receiver::captureLeavesOut()
{
    QFETCH(QString, capture);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const bool toStdout = capture == QLatin1String("-");
    const QString file = dir.filePath(QStringLiteral("capture.dat"));
    ReceiverRun run({QStringLiteral("--quiet"), QStringLiteral("--save"), dir.filePath(QStringLiteral("saved")),
                     QStringLiteral("--capture"), toStdout ? capture : file});
    if (toStdout)
        run.process().setReadChannel(QProcess::StandardError);
    QVERIFY(run.waitUntilListening());

    const QByteArray lineEnd = Framing::framePacket(withField(TestRecords::Standard, 9, "A\nB"));
    const QList<QByteArray> packets = {"0900311" + TestRecords::Standard, lineEnd, "0990311" + TestRecords::Standard,
                                       TestRecords::Min};
    QList<quint16> ports;
    for (const QByteArray &packet : packets) {
        const Exchange client = exchange(run.port(), packet);
        QVERIFY(client.closedByReceiver);
        ports.append(client.clientPort);
    }
    const QList<QByteArray> summary = run.stop(SIGTERM);
    const QByteArray said = toStdout ? QByteArray() : run.process().readAllStandardError();
    const QByteArray captured = toStdout ? run.process().readAllStandardOutput() : fileBytes(file);
    QCOMPARE(summary.mid(toStdout ? 2 : 0),
             (QList<QByteArray>{"packets 4", "framed 3", "bare 1", "malformed 2", "idle closed 0", "not captured 2",
                                "verdicts: valid 2, bad-char 1, bad-framing 1"}));
    const QList<QByteArray> reasons = {"ipnd-receiver: packet 2: not captured: the record holds CR or LF, which would "
                                       "end its line",
                                       "ipnd-receiver: packet 3: not captured: a replay would frame its record with "
                                       "another header"};
    QCOMPARE(toStdout ? summary.first(2) : said.trimmed().split('\n'), reasons);
    QCOMPARE(savedPackets(dir.filePath(QStringLiteral("saved"))), packets);

    const QList<QByteArray> lines = captured.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    for (int i = 0; i < 2; ++i) {
        // Received to the millisecond, for a replay at the recorded pace.
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(lines[i].left(23)), "yyyy-MM-dd HH:mm:ss.zzz");
        QVERIFY2(at.isValid() && qAbs(at.secsTo(QDateTime::currentDateTime())) < 60, lines[i].constData());
        QCOMPARE(lines[i].mid(23), "\tTCPIN\t127.0.0.1:" + QByteArray::number(ports[i * 3]) + '\t' +
                                       (i ? TestRecords::Min : TestRecords::Standard));
    }
    QFile replayed(file);
    if (toStdout)
        QVERIFY(replayed.open(QIODevice::WriteOnly) && replayed.write(captured) == captured.size());
    replayed.close();
    QCOMPARE(replayedPackets(file), (QList<QByteArray>{packets[0], Framing::framePacket(TestRecords::Min)}));
}

void tst_Receiver::captureTargets_data()
{
    QTest::addColumn<QString>("target"); // {fifo}, {file}: made by the test; "-" with nobody reading
    QTest::addColumn<int>("fileSize");   // the run's file size limit in bytes, 0: none
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<int>("kept");       // whole lines of this run the target holds; -1: it cannot be read

    const QByteArray ack = "ACK 08903043";
    const QByteArray nak = "NAK 08903043 not-captured";
    QTest::newRow("FIFO") << QStringLiteral("{fifo}") << 0 << QList<QByteArray>{ack, ack} << 2;
    QTest::newRow("/dev/stdout") << QStringLiteral("/dev/stdout") << 0 << QList<QByteArray>{ack, ack} << 2;
    QTest::newRow("/dev/full") << QStringLiteral("/dev/full") << 0 << QList<QByteArray>{nak, nak} << -1;
    QTest::newRow("standard output nobody reads") << QStringLiteral("-") << 0 << QList<QByteArray>{nak, nak} << -1;
    // The second line finds the file full part of the way.
    QTest::newRow("file that fills up") << QStringLiteral("{file}") << 500 << QList<QByteArray>{ack, nak} << 1;
    QTest::newRow("file full from the start") << QStringLiteral("{file}") << 100 << QList<QByteArray>{nak, nak} << 0;
}

// Any file that can be written takes a capture; a line it cannot take is
// lost whole, counted, not ACKed by a judging receiver, and fails the run.
void tst_Receiver::captureTargets()
{
    QFETCH(QString, target);
    QFETCH(int, fileSize);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(int, kept);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile reader;
    QVERIFY(reader.open(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), QIODevice::ReadOnly,
                        QFileDevice::AutoCloseHandle));
    const QString file = dir.filePath(QStringLiteral("capture.dat"));
    const QByteArray earlier = "2026-12-08 10:00:00\tTCPIN\t192.0.2.1:40000\tearlier\n";
    QFile earlierRun(file);
    QVERIFY(earlierRun.open(QIODevice::WriteOnly) && earlierRun.write(earlier) == earlier.size());
    earlierRun.close();
    const QString path = target == QLatin1String("{fifo}") ? fifo : target == QLatin1String("{file}") ? file : target;
    // Standard output on the FIFO, whose reader goes once it listens.
    const bool toStdout = target == QLatin1String("-");
    std::optional<ReceiverRun> started;
    if (toStdout)
        started.emplace(ReceiverRun::Shell{"--quiet --judge --capture - > '" + QFile::encodeName(fifo) + '\''});
    else
        started.emplace(QStringList{"--quiet", "--judge", "--capture", path}, 0, rlim_t(fileSize));
    ReceiverRun &run = *started;
    if (toStdout)
        run.process().setReadChannel(QProcess::StandardError);
    QVERIFY(run.waitUntilListening());
    if (toStdout)
        reader.close();

    QList<QByteArray> got;
    for (qsizetype i = 0; i < replies.size(); ++i)
        got.append(exchange(run.port(), "0900311" + TestRecords::Standard).reply());
    QCOMPARE(got, replies);
    const QList<QByteArray> summary = run.stop(SIGTERM);
    const int lost = int(std::count(replies.cbegin(), replies.cend(), "NAK 08903043 not-captured"));
    QCOMPARE(run.process().exitCode(), lost ? 1 : 0);
    QVERIFY2(summary.contains("not captured " + QByteArray::number(lost)), summary.join('/').constData());
    QCOMPARE(summary.contains("capture lines lost " + QByteArray::number(lost)), lost > 0);
    if (kept < 0)
        return;
    QByteArray captured = path == fifo ? reader.readAll() : path == file ? fileBytes(file) : summary.join('\n');
    const QByteArray line = "\tTCPIN\t127.0.0.1:";
    QCOMPARE(captured.count(line), kept);
    if (path == file) {
        QVERIFY2(captured.startsWith(earlier) && captured.endsWith((kept ? TestRecords::Standard : "earlier") + '\n'),
                 captured.constData());
        QCOMPARE(captured.count('\n'), 1 + kept);
    }
}

// A --verdicts FIFO whose reader stops reading holds no client back: the
// lines wait for it, and a signal still ends the run, counting the lines it
// never took.
void tst_Receiver::verdictsReaderStops()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("verdicts"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    ReceiverRun run({QStringLiteral("--quiet"), QStringLiteral("--verdicts"), fifo});
    QVERIFY(run.waitUntilListening());

    // A finding in every field makes a verdict line of some 3 kB: a few
    // dozen fill the pipe.
    const QByteArray record = QByteArray("\x01\x01") + QByteArray("|\x01").repeated(52);
    const QByteArray packet = "000" + QByteArray::number(record.size()).rightJustified(4, '0') + record;
    constexpr int Packets = 40;
    QByteArray taken;
    const auto take = [&taken, reader] {
        char bytes[65536];
        for (ssize_t n; (n = ::read(reader, bytes, sizeof bytes)) > 0;)
            taken.append(bytes, n);
        return taken.count('\n');
    };
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < Packets; ++i)
            QCOMPARE(exchange(run.port(), packet).reply(), QByteArray("ACK \x01\x01"));
        if (round == 1) // the reader comes back and gets every line
            QTRY_COMPARE_WITH_TIMEOUT(take(), Packets, Bound);
    }
    const QList<QByteArray> summary = run.stop(SIGTERM);
    QCOMPARE(run.process().state(), QProcess::NotRunning);
    QCOMPARE(run.process().exitCode(), 1);
    const qsizetype lost = 2 * Packets - take();
    ::close(reader);
    QVERIFY(taken.endsWith('\n'));
    QCOMPARE_GT(lost, 0);
    QVERIFY2(summary.contains("verdict lines lost " + QByteArray::number(lost)), summary.join('/').constData());
}

void tst_Receiver::linesWaitingForAStalledReaderAreBounded()
{
    // In process: a reader that holds the pipe open and never reads.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("stalled"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    LineFile file;
    QByteArray reason;
    QVERIFY2(file.open(fifo, false, &reason), reason.constData());
    const QByteArray line(4095, 'v');
    qsizetype taken = 0;
    while (taken < 2 * LineFile::MostWaiting / 4096 && file.writeLine(line, &reason))
        ++taken;
    ::close(reader);
    // The pipe's own buffer, then the bound: no more is kept in memory.
    QCOMPARE_LT(taken, 2 * LineFile::MostWaiting / 4096);
    QCOMPARE_GE(taken, LineFile::MostWaiting / 4096);
    QVERIFY2(reason.startsWith("its reader has left "), reason.constData());
}

void tst_Receiver::halfClosedSource_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("bare") << QStringList{} << TestRecords::Standard;
    QTest::newRow("bare, split reply") << QStringList{"--misbehave", "split"} << TestRecords::Standard;
    QTest::newRow("framed, slow reply") << QStringList{"--misbehave", "slow:100"} << "0900311" + TestRecords::Standard;
}

// A source may close its side once its packet is out and still read the reply.
void tst_Receiver::halfClosedSource()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, packet);

    ReceiverRun run(arguments);
    QVERIFY(run.waitUntilListening());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, run.port());
    QVERIFY(socket.waitForConnected(Bound));
    QCOMPARE(socket.write(packet), packet.size());
    QVERIFY(socket.waitForBytesWritten(Bound));
    QCOMPARE(::shutdown(int(socket.socketDescriptor()), SHUT_WR), 0);
    QByteArray reply;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(Bound))
        reply += socket.readAll();
    reply += socket.readAll();
    QCOMPARE(reply, QByteArray("ACK 08903043"));
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
}

void tst_Receiver::wideIdRefusedAsExpected_data()
{
    QTest::addColumn<QStringList>("judging"); // how ipnd-send judges the reply

    QTest::newRow("--expect") << QStringList{"--expect", "NAK {id} too-wide"};
    QTest::newRow("--manifest") << QStringList{"--manifest", "{manifest}"};
}

// The receiver names a record by its id cut to the field's width, and so
// does {id} in ipnd-send: a too-wide id refused is refused as expected.
void tst_Receiver::wideIdRefusedAsExpected()
{
    QFETCH(QStringList, judging);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray id = "089030431";
    const QString data = dir.filePath(QStringLiteral("wide.dat"));
    const QString manifest = dir.filePath(QStringLiteral("manifest.jsonl"));
    QFile out(data);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("2026-12-09 10:00:00\tTCPIN\t127.0.0.1:50003\t" + withField(TestRecords::Standard, 1, id) + '\n');
    out.close();
    QFile entries(manifest);
    QVERIFY(entries.open(QIODevice::WriteOnly));
    entries.write("{\"seq\": 1, \"id\": \"" + id + "\", \"expect\": \"too-wide\", \"arrives\": true}\n");
    entries.close();
    judging.replaceInStrings(QStringLiteral("{manifest}"), manifest);

    ReceiverRun run({QStringLiteral("--judge"), QStringLiteral("--quiet")});
    QVERIFY(run.waitUntilListening());
    QCOMPARE(replay(run.port(), data, QStringLiteral("rawlog"), judging), 0);
}

void tst_Receiver::generatedRun_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("judging");

    QTest::newRow("rawlog, --judge") << QStringLiteral("rawlog") << true;
    QTest::newRow("multipkt, --judge") << QStringLiteral("multipkt") << true;
    QTest::newRow("rawlog, plain") << QStringLiteral("rawlog") << false;
}

// A generated file and its manifest through ipnd-send: a judging receiver
// passes, a plain one (ACK to everything) fails with every broken record that
// arrives a false acceptance. What it captured replays as the same packets.
void tst_Receiver::generatedRun()
{
    QFETCH(QString, format);
    QFETCH(bool, judging);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("generated.dat"));
    const QString manifest = dir.filePath(QStringLiteral("manifest.jsonl"));
    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    const QString capture = dir.filePath(QStringLiteral("capture.dat"));
    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), {"--count", "300", "--seed", "16", "--invalid", "0.6", "--format", format,
                                          "--manifest", manifest, "--output", data});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.exitCode(), 0);

    ReceiverRun run(QStringList{"--quiet", "--capture", capture, "--save", dir.filePath(QStringLiteral("sent"))} +
                    (judging ? QStringList{"--judge"} : QStringList{}));
    QVERIFY(run.waitUntilListening());
    QCOMPARE(replay(run.port(), data, format, {"--manifest", manifest, "--report", report}), judging ? 0 : 1);
    QVERIFY(run.stop(SIGTERM).contains("not captured 0"));

    QMap<QString, int> outcomes;
    QJsonObject byExpect;
    for (const QByteArray &line : fileBytes(report).trimmed().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString outcome = entry.value(QStringLiteral("outcome")).toString();
        if (entry.contains(QStringLiteral("summary")))
            byExpect = entry.value(QStringLiteral("summary")).toObject().value(QStringLiteral("by_expect")).toObject();
        if (entry.contains(QStringLiteral("summary")) || outcome == QLatin1String("rejected"))
            continue;
        QCOMPARE(outcome, entry.value(QStringLiteral("expect")).toString() == QLatin1String("valid")
                              ? QStringLiteral("accepted")
                              : judging ? QStringLiteral("refused") : QStringLiteral("false-accept"));
        ++outcomes[outcome];
    }
    QCOMPARE_GT(outcomes.value(judging ? QStringLiteral("refused") : QStringLiteral("false-accept")), 20);
    QCOMPARE_GT(outcomes.value(QStringLiteral("accepted")), 60);
    // Kind by kind, as the manifest planned: the records that arrive are
    // sent, the others passed over as the reader refuses their lines.
    QMap<QString, std::pair<int, int>> planned; // kind: arriving, not arriving
    for (const QByteArray &line : fileBytes(manifest).trimmed().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        std::pair<int, int> &kind = planned[entry.value(QStringLiteral("expect")).toString()];
        ++(entry.value(QStringLiteral("arrives")).toBool() ? kind.first : kind.second);
    }
    QVERIFY(planned.size() > 8);
    QCOMPARE(byExpect.keys(), QStringList(planned.keys()));
    for (auto it = planned.cbegin(); it != planned.cend(); ++it) {
        const QJsonObject row = byExpect.value(it.key()).toObject();
        QCOMPARE(std::pair(row.value(QStringLiteral("sent")).toInt(), row.value(QStringLiteral("rejected")).toInt()),
                 it.value());
    }
    QCOMPARE(replayedPackets(capture), savedPackets(dir.filePath(QStringLiteral("sent"))));
}

QTEST_GUILESS_MAIN(tst_Receiver)
#include "tst_receiver.moc"
