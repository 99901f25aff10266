#include "TestSupport.h"

#include "PendingListener.h"

#include "platform/CommandLine.h"
#include "platform/Convert.h"
#include "platform/Dispatch.h"
#include "platform/JsonText.h"
#include "platform/OutputFile.h"
#include "platform/PlatformError.h"
#include "platform/SameFile.h"
#include "platform/TextSink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <limits>
#include <thread>
#include <vector>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Serves events the way ipnd-send does, with processEvents and never exec(),
// until the condition holds; a timer keeps waking the loop so that the
// deadline is seen.
template <typename Condition>
bool dispatchUntil(Condition condition, int timeoutMs = 5000)
{
    QTimer wake;
    wake.start(20);
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        waitAndDispatchEvents();
    return condition();
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size();
}

} // namespace

Q_DECLARE_METATYPE(OutputWay)

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    void wholeNumbers_data();
    void wholeNumbers();
    void timeAndDateTexts();
    void socketRefusesWhatItCannotDo_data();
    void socketRefusesWhatItCannotDo();
    void socketReadsBackWhatWasSet();
    void listenAcceptAndPeerClose_data();
    void listenAcceptAndPeerClose();
    void acceptEndsTheOtherRequests();
    void failureFoundInACallSparesTheNextConnection();
    void closeRaisesNoEvent();
    void packetLargerThanTheSystemTakesAtOnceArrivesWhole();
    void connectingStatesTellTheTruth_data();
    void connectingStatesTellTheTruth();
    void connectTimeoutCountsFromItsOwnConnect_data();
    void connectTimeoutCountsFromItsOwnConnect();
    void unansweredExchangesLeaveNothingBehind_data();
    void unansweredExchangesLeaveNothingBehind();
    void finishedConnectionClosedWhenIdle_data();
    void finishedConnectionClosedWhenIdle();
    void readAheadAnnouncesWhatItReads();
    void sameFileInAFolderNotAscii_data();
    void sameFileInAFolderNotAscii();
    void optionTableTakesAnOptionOnceByAnyName();
    void millisecondsRoundToTheNearest();
    void outputEdges_data();
    void outputEdges();
    void jsonStrings_data();
    void jsonStrings();
    void descriptorSinkWritesEveryByte();
};

void tst_Platform::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("int16");  // value, or the failure number as a negative
    QTest::addColumn<qint64>("int32");
    const qint64 mismatch = -ErrorNumber::TypeMismatch;
    const qint64 overflow = -ErrorNumber::Overflow;
    QTest::newRow("5") << "5" << qint64(5) << qint64(5);
    QTest::newRow("zero") << "0" << qint64(0) << qint64(0);
    QTest::newRow("blanks around") << " 42 " << qint64(42) << qint64(42);
    QTest::newRow("signs") << "-17" << qint64(-17) << qint64(-17);
    QTest::newRow("plus") << "+3" << qint64(3) << qint64(3);
    QTest::newRow("leading zeros") << "0050003" << qint64(overflow) << qint64(50003);
    QTest::newRow("int16 max") << "32767" << qint64(32767) << qint64(32767);
    QTest::newRow("int16 min") << "-32768" << qint64(-32768) << qint64(-32768);
    QTest::newRow("int16 max + 1") << "32768" << overflow << qint64(32768);
    QTest::newRow("int32 max") << "2147483647" << overflow << qint64(2147483647);
    QTest::newRow("int32 max + 1") << "2147483648" << overflow << overflow;
    QTest::newRow("huge") << "99999999999999999999999" << overflow << overflow;
    QTest::newRow("empty") << "" << mismatch << mismatch;
    QTest::newRow("letters") << "abc" << mismatch << mismatch;
    QTest::newRow("digits then letters") << "12ab" << mismatch << mismatch;
    QTest::newRow("fraction") << "1.5" << mismatch << mismatch;
    QTest::newRow("blank inside") << "1 2" << mismatch << mismatch;
    QTest::newRow("sign alone") << "-" << mismatch << mismatch;
}

void tst_Platform::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(qint64, int16);
    QFETCH(qint64, int32);
    // A negative expectation is the failure number that must be thrown.
    const auto check = [&](auto convert, qint64 expected) {
        qint64 outcome = 0;
        try {
            outcome = convert(text);
        } catch (const PlatformError &failure) {
            QVERIFY(!failure.description.isEmpty());
            outcome = -failure.number;
        }
        QCOMPARE(outcome, expected);
    };
    check([](const QString &t) { return qint64(toInt16(t)); }, int16);
    check([](const QString &t) { return qint64(toInt32(t)); }, int32);
}

void tst_Platform::timeAndDateTexts()
{
    const QTime time(13, 5, 9);
    const QString text = timeOfDayText(time);
    QVERIFY2(text.contains(QStringLiteral("05")) && text.contains(QStringLiteral("09")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("2026")));
    // Hours, minutes and seconds each show: morning and afternoon, and times
    // a minute or a second apart, read differently.
    QVERIFY(timeOfDayText(QTime(1, 5, 9)) != text);
    QVERIFY(timeOfDayText(QTime(13, 6, 9)) != text);
    QVERIFY(timeOfDayText(QTime(13, 5, 10)) != text);
    QCOMPARE(timeOfDayText(QTime(13, 5, 9, 999)), text);
    const QString both = dateTimeText(QDateTime(QDate(2026, 12, 8), time));
    QVERIFY2(both.endsWith(QLatin1Char(' ') + text), qPrintable(both));
    QVERIFY(both.size() > text.size() + 1);
}

void tst_Platform::socketRefusesWhatItCannotDo_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("port 0") << 0;
    QTest::newRow("port 65536") << 1;
    QTest::newRow("protocol 1") << 2;
    QTest::newRow("connect without host") << 3;
    QTest::newRow("send while closed") << 4;
    QTest::newRow("accept unknown request") << 5;
}

void tst_Platform::socketRefusesWhatItCannotDo()
{
    QFETCH(int, step);
    Socket socket;
    QSignalSpy errors(&socket, &Socket::error);
    bool threw = false;
    try {
        switch (step) {
        case 0: socket.setRemotePort(0); break;
        case 1: socket.setRemotePort(65536); break;
        case 2: socket.setProtocol(1); break;
        case 3: socket.setRemotePort(50003); socket.Connect(); break;
        case 4: socket.SendData("x"); break;
        case 5: socket.Accept(7); break;
        }
    } catch (const PlatformError &failure) {
        threw = true;
        QVERIFY(failure.number != 0);
        QVERIFY(!failure.description.isEmpty());
    }
    QVERIFY(threw);
    QCOMPARE(socket.State(), int(Socket::Closed));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(socket.GetData(), QByteArray());
}

void tst_Platform::socketReadsBackWhatWasSet()
{
    Socket socket;
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(65535);
    socket.setProtocol(0);
    QCOMPARE(socket.RemoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(socket.RemotePort(), 65535);
    QVERIFY(!socket.LocalIP().isEmpty());
    QCOMPARE(socket.RemoteHostIP(), QString());
}

void tst_Platform::listenAcceptAndPeerClose_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("peer closes") << false;
    QTest::newRow("peer resets") << true;
}

void tst_Platform::listenAcceptAndPeerClose()
{
    QFETCH(bool, reset);
    Socket socket;
    socket.setLocalPort(0);
    socket.Listen();
    QCOMPARE(socket.State(), int(Socket::Listening));
    QVERIFY(socket.LocalPort() > 0);
    QSignalSpy requests(&socket, &Socket::connectionRequest);
    QSignalSpy arrivals(&socket, &Socket::dataArrival);
    QSignalSpy closes(&socket, &Socket::closed);
    QSignalSpy errors(&socket, &Socket::error);

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QVERIFY(peer.waitForConnected(5000));
    peer.write("early bytes");
    QVERIFY(requests.wait(5000));
    const qint32 id = requests.first().first().toInt();
    socket.Close();
    socket.Accept(id);
    QCOMPARE(socket.State(), int(Socket::Connected));
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QTRY_VERIFY(arrivals.count() >= 1);
    QCOMPARE(socket.GetData(), QByteArray("early bytes"));

    if (reset) {
        // A reset ends the connection as a close does: it is no failure.
        const linger abortive{1, 0};
        QVERIFY(::setsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive) == 0);
        peer.abort();
    } else {
        peer.disconnectFromHost();
    }
    QTRY_COMPARE(closes.count(), 1);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(socket.State(), int(Socket::Closing));
    socket.Close();
    QCOMPARE(socket.State(), int(Socket::Closed));
}

// Taking one request ends the others: their clients are not left hanging,
// and an id passed over cannot be taken later.
void tst_Platform::acceptEndsTheOtherRequests()
{
    Socket socket;
    socket.Listen();
    QSignalSpy requests(&socket, &Socket::connectionRequest);
    QTcpSocket peers[2];
    for (QTcpSocket &peer : peers)
        peer.connectToHost(QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QTRY_COMPARE(requests.count(), 2);
    socket.Close();
    socket.Accept(requests.at(0).at(0).toInt());

    QTRY_COMPARE(int(peers[0].state() == QAbstractSocket::UnconnectedState)
                     + int(peers[1].state() == QAbstractSocket::UnconnectedState), 1);
    socket.Close();
    QVERIFY_THROWS_EXCEPTION(PlatformError, socket.Accept(requests.at(1).at(0).toInt()));
    QCOMPARE(socket.State(), int(Socket::Closed));
}

// A refusal that a call finds is reported after the call; by then a Close and
// a new Connect have made it history, and the new connection stands.
void tst_Platform::failureFoundInACallSparesTheNextConnection()
{
    quint16 deadPort = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        deadPort = closed.serverPort();
    }
    TestServer server;
    server.answer = TestServer::Answer::Silent;
    Socket socket;
    QSignalSpy connects(&socket, &Socket::connected);
    QSignalSpy errors(&socket, &Socket::error);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(deadPort);
    socket.Connect();
    // No event is served: the refusal is found by asking, and the attempt
    // lets go of its peer then.
    const QDeadlineTimer deadline(5000);
    do
        socket.pollConnect();
    while (!socket.RemoteHostIP().isEmpty() && !deadline.hasExpired());
    QCOMPARE(socket.RemoteHostIP(), QString());
    socket.Close();

    socket.setRemotePort(server.port());
    socket.Connect();
    QVERIFY(connects.wait(5000));
    QTRY_COMPARE(server.connectionCount(), 1);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(socket.State(), int(Socket::Connected));
}

void tst_Platform::closeRaisesNoEvent()
{
    TestServer server;
    server.answer = TestServer::Answer::Silent;
    Socket socket;
    QSignalSpy connects(&socket, &Socket::connected);
    QSignalSpy closes(&socket, &Socket::closed);
    QSignalSpy emptied(&socket, &Socket::becameClosed);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(server.port());
    socket.Connect();
    QVERIFY(socket.isConnecting());
    QVERIFY(connects.wait(5000));
    QCOMPARE(socket.State(), int(Socket::Connected));
    const quint64 before = socket.generation();
    socket.Close();
    QVERIFY(socket.generation() != before);
    QCOMPARE(emptied.count(), 1);
    QTRY_VERIFY(server.isPeerClosed(0));
    QCOMPARE(closes.count(), 0);
}

void tst_Platform::packetLargerThanTheSystemTakesAtOnceArrivesWhole()
{
    TestServer server;
    server.answer = TestServer::Answer::Silent;
    Socket socket;
    QSignalSpy connects(&socket, &Socket::connected);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(server.port());
    socket.Connect();
    QVERIFY(connects.wait(5000));
    QByteArray packet(8 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < packet.size(); ++i)
        packet[i] = char(i * 7 + i / 4099);

    socket.SendData(packet);

    QTRY_COMPARE_WITH_TIMEOUT(server.received(0).size(), packet.size(), 10000);
    QVERIFY(server.received(0) == packet);
    QCOMPARE(socket.State(), int(Socket::Connected));
}

void tst_Platform::connectingStatesTellTheTruth_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QList<int>>("states");
    QTest::newRow("address") << "127.0.0.1" << QList<int>{Socket::Connecting};
    QTest::newRow("name") << "localhost" << QList<int>{Socket::ResolvingHost, Socket::Connecting};
}

void tst_Platform::connectingStatesTellTheTruth()
{
    QFETCH(QString, host);
    QFETCH(QList<int>, states);
    // The handshake never completes: the listener's queue is full.
    PendingListener listener;
    QVERIFY(listener.port() != 0);
    Socket socket;
    QSignalSpy errors(&socket, &Socket::error);
    socket.setConnectTimeout(300);
    socket.setRemoteHost(host);
    socket.setRemotePort(listener.port());
    socket.Connect();

    QList<int> seen{socket.State()};
    QVERIFY(dispatchUntil([&] {
        if (seen.last() != socket.State())
            seen.append(socket.State());
        return !errors.isEmpty();
    }));
    seen.removeLast();
    QCOMPARE(seen, states);
    QCOMPARE(errors.first(), (QList<QVariant>{5, QStringLiteral("Connection timed out after 300 ms")}));
    QCOMPARE(socket.State(), int(Socket::Error));
    QVERIFY(!socket.isConnecting());
}

void tst_Platform::connectTimeoutCountsFromItsOwnConnect_data()
{
    // A connection closed while pending, after `waitMs`, with `firstMs` as
    // its timeout; the next one has 300 ms.
    QTest::addColumn<int>("firstMs");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("the first had a longer timeout") << 60000 << 0;
    QTest::newRow("the first would have timed out sooner") << 300 << 150;
}

void tst_Platform::connectTimeoutCountsFromItsOwnConnect()
{
    QFETCH(int, firstMs);
    QFETCH(int, waitMs);
    PendingListener listener;
    QVERIFY(listener.port() != 0);
    Socket socket;
    QSignalSpy errors(&socket, &Socket::error);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(listener.port());
    socket.setConnectTimeout(firstMs);
    socket.Connect();
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QVERIFY(dispatchUntil([&] { return sinceFirst.elapsed() >= waitMs; }));
    QVERIFY(errors.isEmpty());
    socket.Close();

    socket.setConnectTimeout(300);
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    socket.Connect();
    QVERIFY(dispatchUntil([&] { return !errors.isEmpty(); }));
    const qint64 tookMs = sinceSecond.elapsed();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first(), (QList<QVariant>{5, QStringLiteral("Connection timed out after 300 ms")}));
    QVERIFY2(tookMs >= 300 && tookMs < 3000, qPrintable(QString::number(tookMs)));
}

void tst_Platform::unansweredExchangesLeaveNothingBehind_data()
{
    QTest::addColumn<bool>("serverCloses");
    QTest::addColumn<bool>("closeWhenIdle");
    QTest::newRow("no reply: the client gives up") << false << false;
    QTest::newRow("server closes: the client listens, then gives up") << true << false;
    QTest::newRow("no reply, closed when idle") << false << true;
    QTest::newRow("server closes, closed when idle") << true << true;
}

void tst_Platform::unansweredExchangesLeaveNothingBehind()
{
    QFETCH(bool, serverCloses);
    QFETCH(bool, closeWhenIdle);
    TestServer server;
    server.answer = serverCloses ? TestServer::Answer::CloseWithoutReply : TestServer::Answer::Silent;
    Socket socket;
    socket.setCloseWhenIdle(closeWhenIdle);
    QSignalSpy closes(&socket, &Socket::closed);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(server.port());
    const auto exchange = [&] {
        socket.Connect();
        if (!dispatchUntil([&] { return socket.State() == Socket::Connected; }))
            return false;
        socket.SendData("x");
        if (serverCloses) {
            if (!dispatchUntil([&] { return socket.State() == Socket::Closing; }))
                return false;
            socket.Close();
            socket.Listen();
        }
        // Closed from outside any event handler, as ipnd-send does.
        socket.Close();
        return true;
    };
    const auto serverSeesAllClosed = [&](int connections) {
        return dispatchUntil([&] {
            for (int i = 0; i < connections; ++i)
                if (!server.isPeerClosed(i))
                    return false;
            return server.connectionCount() == connections;
        });
    };
    QVERIFY(exchange());
    QVERIFY(serverSeesAllClosed(1));
    const qsizetype objects = socket.children().size();
    const qsizetype descriptors = openDescriptors();

    const int connections = 40;
    for (int i = 1; i < connections; ++i)
        QVERIFY(exchange());

    QVERIFY(serverSeesAllClosed(connections));
    QCOMPARE(closes.count(), serverCloses ? connections : 0);
    QCOMPARE(socket.children().size(), objects);
    QCOMPARE(openDescriptors(), descriptors);
}

// A finished connection closed "when idle" stays open until the event loop
// goes to sleep, or for a millisecond in a loop that never sleeps, and never
// more than one of them; closed at once otherwise. The state says Closed
// straight away in both cases.
void tst_Platform::finishedConnectionClosedWhenIdle_data()
{
    QTest::addColumn<bool>("closeWhenIdle");
    QTest::newRow("at once") << false;
    QTest::newRow("when idle") << true;
}

void tst_Platform::finishedConnectionClosedWhenIdle()
{
    QFETCH(bool, closeWhenIdle);
    // Connections are taken from the listener by hand: what the server end
    // sees is read without any event loop.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    listener.pauseAccepting();
    std::vector<int> served;
    const auto cleanup = qScopeGuard([&] {
        for (const int fd : served)
            ::close(fd);
    });
    // Whether the client has closed the connection the server took n-th.
    const auto clientClosed = [&](size_t n) {
        char byte;
        return ::recv(served.at(n), &byte, 1, MSG_DONTWAIT) == 0;
    };

    Socket socket;
    socket.setCloseWhenIdle(closeWhenIdle);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(listener.serverPort());
    const auto connectAndClose = [&] {
        socket.Connect();
        // Up at once on loopback, as a rule; no turn of the loop then.
        socket.pollConnect();
        QVERIFY(socket.State() == Socket::Connected
                || dispatchUntil([&] { return socket.State() == Socket::Connected; }));
        served.push_back(::accept(int(listener.socketDescriptor()), nullptr, nullptr));
        QVERIFY(served.back() >= 0);
        socket.Close();
        QCOMPARE(socket.State(), int(Socket::Closed));
    };

    // The loop goes to sleep.
    connectAndClose();
    QCOMPARE(clientClosed(0), !closeWhenIdle);
    QTimer::singleShot(0, [] {});
    waitAndDispatchEvents();
    QVERIFY(clientClosed(0));

    // A loop that never sleeps, the way QTRY_VERIFY turns it.
    connectAndClose();
    QTRY_VERIFY(clientClosed(1));

    // At most one waits: the next one to finish sends it on its way.
    connectAndClose();
    QCOMPARE(clientClosed(2), !closeWhenIdle);
    connectAndClose();
    QVERIFY(clientClosed(2));
    QCOMPARE(clientClosed(3), !closeWhenIdle);
}

// What the read after one that emptied the socket takes is announced too.
void tst_Platform::readAheadAnnouncesWhatItReads()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    listener.pauseAccepting();
    Socket socket;
    socket.setReadAhead(true);
    socket.setRemoteHost(QStringLiteral("127.0.0.1"));
    socket.setRemotePort(listener.serverPort());
    socket.Connect();
    socket.pollConnect();
    QVERIFY(socket.State() == Socket::Connected
            || dispatchUntil([&] { return socket.State() == Socket::Connected; }));
    const int served = ::accept(int(listener.socketDescriptor()), nullptr, nullptr);
    QVERIFY(served >= 0);
    const auto cleanup = qScopeGuard([&] { ::close(served); });
    QByteArray got;
    // The second byte comes while the first is announced, before the read after it.
    connect(&socket, &Socket::dataArrival, &socket, [&] {
        got += socket.GetData();
        if (got == "A")
            QCOMPARE(::write(served, "B", 1), 1);
    });
    QCOMPARE(::write(served, "A", 1), 1);
    QTRY_COMPARE(got, QByteArray("AB"));
}

void tst_Platform::sameFileInAFolderNotAscii_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::newRow("UTF-8") << QByteArray("Gr\xc3\xbc\xc3\x9f" "e");
    QTest::newRow("not UTF-8") << QByteArray("x\xff");
}

// Names of files not made yet, one relative and one absolute, in a folder
// whose name is not ASCII.
void tst_Platform::sameFileInAFolderNotAscii()
{
    QFETCH(QByteArray, folder);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray here = QFile::encodeName(dir.path()) + '/' + folder;
    QCOMPARE(::mkdir(here.constData(), 0700), 0);
    char *before = ::getcwd(nullptr, 0);
    QVERIFY(before);
    // Back, and the folder gone: QTemporaryDir cannot remove a name that is
    // not UTF-8.
    const auto back = qScopeGuard([before, here] {
        QVERIFY(::chdir(before) == 0);
        std::free(before);
        QVERIFY(::rmdir(here.constData()) == 0);
    });
    QCOMPARE(::chdir(here.constData()), 0);

    QVERIFY(sameFile(QByteArray("run.json"), here + "/run.json"));
    QVERIFY(sameFile(here + "/sub/../run.json", QByteArray("./run.json")));
    QVERIFY(!sameFile(QByteArray("run.json"), here + "/run.jsonl"));
}

void tst_Platform::millisecondsRoundToTheNearest()
{
    int ms = 0;
    QCOMPARE(OptionRead::milliseconds(&ms, 0, 10, QStringLiteral("seconds"))({QStringLiteral("wait"), QStringLiteral("1.005")}),
             QString());
    QCOMPARE(ms, 1005); // 1.005 is a little less in binary
}

void tst_Platform::outputEdges_data()
{
    using File = OutputWay::File;
    using Other = OutputWay::Other;
    QTest::addColumn<QByteArray>("name"); // {} the folder; "pipe" a FIFO nobody reads
    QTest::addColumn<OutputWay>("way");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("failure"); // empty: the bytes are the file's
    const QByteArray notUtf8 = "{}/r\xff\xfe.out";
    QTest::newRow("- stays open after the file") << QByteArray("-") << OutputWay{File::Truncated, Other::InPlace, true}
                                                 << QByteArray() << QString();
    QTest::newRow("a pipe nobody reads, not waited for")
        << QByteArray("{}/pipe") << OutputWay{File::Truncated, Other::WithoutWaiting} << QByteArray("x")
        << QStringLiteral("no process is reading the pipe");
    QTest::newRow("a full device, unbuffered")
        << QByteArray("/dev/full") << OutputWay{File::Truncated, Other::WithoutWaiting, false, true} << QByteArray("x")
        << systemError(ENOSPC);
    QTest::newRow("a full device, in place") << QByteArray("/dev/full") << OutputWay{File::Replaced, Other::InPlace}
                                             << QByteArray("x") << systemError(ENOSPC);
    QTest::newRow("bytes not UTF-8, replaced") << notUtf8 << OutputWay{File::Replaced, Other::InPlace}
                                               << QByteArray("abc") << QString();
    QTest::newRow("a longer file, truncated") << QByteArray("{}/old") << OutputWay{File::Truncated, Other::AsFile}
                                              << QByteArray("abc") << QString();
    QTest::newRow("a file replaced") << QByteArray("{}/old") << OutputWay{File::Replaced, Other::AsFile}
                                     << QByteArray("abc") << QString();
    QTest::newRow("bytes not UTF-8, truncated") << notUtf8 << OutputWay{File::Truncated, Other::WithoutWaiting}
                                                << QByteArray("abc") << QString();
}

// Each way opens, writes and ends as it says, and a failure names the
// system's reason.
void tst_Platform::outputEdges()
{
    QFETCH(QByteArray, name);
    QFETCH(OutputWay, way);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!isDeviceOrPipe(QFile::encodeName(dir.path()))); // a folder is neither
    const QByteArray path = QByteArray(name).replace("{}", QFile::encodeName(dir.path()));
    if (name.startsWith("/dev/") && !isDeviceOrPipe(name))
        QSKIP("no such device here");
    if (name.endsWith("pipe"))
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    if (name.endsWith("old")) {
        QFile old(QFile::decodeName(path));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("older and longer") == 16);
        QCOMPARE(::chmod(path.constData(), 0600), 0);
    }
    // QTemporaryDir cannot remove a name that is not UTF-8; a device stays.
    const auto gone = qScopeGuard([&] {
        if (path != name)
            ::unlink(path.constData());
    });
    const auto entries = [&dir] {
        int count = 0;
        if (DIR *folder = ::opendir(QFile::encodeName(dir.path()).constData())) {
            while (const dirent *entry = ::readdir(folder))
                count += entry->d_name[0] != '.';
            ::closedir(folder);
        }
        return count;
    };

    const std::unique_ptr<QFileDevice> file = openOutput(path, way);
    if (isStandardOutput(name))
        QCOMPARE(file->handle(), STDOUT_FILENO);
    QString error;
    const bool written = file->isOpen() && writeAll(*file, bytes, &error) && commitWhole(*file);
    QCOMPARE(written ? QString() : (error.isEmpty() ? file->errorString() : error), failure);
    if (isStandardOutput(name))
        QVERIFY(::fcntl(STDOUT_FILENO, F_GETFD) != -1);
    else if (failure.isEmpty())
        QCOMPARE(entries(), 1); // no file beside it left
    if (!failure.isEmpty() || isStandardOutput(name))
        return;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    char back[8] = {};
    const ssize_t n = ::read(fd, back, sizeof back);
    ::close(fd);
    QCOMPARE(QByteArray(back, int(n)), bytes);
    struct stat info = {};
    if (name.endsWith("old")) // its mode kept
        QVERIFY(::stat(path.constData(), &info) == 0 && (info.st_mode & 07777) == 0600);
}

void tst_Platform::jsonStrings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("printable ASCII as it is") << QByteArray(" az~") << QByteArray("\" az~\"");
    QTest::newRow("control bytes") << QByteArray("\x00\x1f\n", 3) << QByteArray("\"\\u0000\\u001f\\u000a\"");
    QTest::newRow("DEL and beyond ASCII") << QByteArray("\x7f\x80\xff") << QByteArray("\"\\u007f\\u0080\\u00ff\"");
    QTest::newRow("quote and backslash") << QByteArray("\"\\") << QByteArray("\"\\u0022\\u005c\"");
}

void tst_Platform::jsonStrings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, json);
    QCOMPARE(Json::string(bytes), json);
    QCOMPARE(Json::Object().string("s", bytes).number("n", -2).boolean("b", false).text(),
             "{\"s\": " + json + ", \"n\": -2, \"b\": false}");
}

// A descriptor left non-blocking still takes the whole text, in as many
// writes as it needs.
void tst_Platform::descriptorSinkWritesEveryByte()
{
    int fds[2];
    QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
    QCOMPARE(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    QByteArray text;
    for (int n = 0; n < 40000; ++n)
        text += QByteArray::number(n) + ' '; // well beyond what a pipe holds
    QByteArray back;
    std::thread reader([&] {
        char piece[4096];
        for (ssize_t n; (n = ::read(fds[0], piece, sizeof piece)) > 0;)
            back.append(piece, n);
    });
    DescriptorSink sink(fds[1]);
    const bool written = sink.write(text);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    QVERIFY(written);
    QVERIFY(back == text);
}

QTEST_MAIN(tst_Platform)
// An option is given once, whichever of its names is typed, and its reader
// takes what was typed.
void tst_Platform::optionTableTakesAnOptionOnceByAnyName()
{
    for (const QStringList &arguments : {QStringList{"-s", "12"}, QStringList{"-s", "1", "--seed=2"}}) {
        qint64 seed = 0;
        CommandLine line(QStringLiteral("tool"), QStringLiteral("A tool."));
        line.addOptions({{{"seed", "s"}, "N", "The seed.", OptionRead::number(&seed, qint64(0), qint64(99), "a seed")}});
        const bool once = arguments.size() == 2;
        QCOMPARE(line.parse(QStringList{"tool"} + arguments, nullptr), once ? CommandLine::Outcome::Run : CommandLine::Outcome::Error);
        QCOMPARE(line.error(), once ? QString() : QStringLiteral("--seed is given twice"));
        QCOMPARE(seed, once ? 12 : 0);
    }
}

#include "tst_platform.moc"
