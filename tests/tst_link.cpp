#include "TestSupport.h"

#include "testpackets/TestRecords.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>

#include <limits>

#include "PendingListener.h"

class tst_Link : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeExchange();
    void replyBoxShowsWhenTheReplyCame();
    void secondPressSendsAgainOverNewConnection();
    void serverClosesWithoutReplyThenPeerConnects();
    void closeButton_data();
    void closeButton();
    void pressWhileBusySendsAndLogsNothing();
    void refusedConnectionIsLoggedAndClosed();
    void unresolvableNameIsLoggedAndClosed();
    void typedNameOutsideLatin1IsLoggedAsTyped();
    void connectionThatNeverComesUpTimesOut();
    void badEndpointIsLoggedAndWindowGoesOn_data();
    void badEndpointIsLoggedAndWindowGoesOn();
    void highBytesTravelUnchanged();
    void unloadClosesTheSocket();
    void peerCloseLeavesTheSocketClosed_data();
    void peerCloseLeavesTheSocketClosed();
    void replyHandledInOrderAndCounted_data();
    void replyHandledInOrderAndCounted();
    void turnOfTheEventLoopBeforeTheSend_data();
    void turnOfTheEventLoopBeforeTheSend();
    void gatheredReplyEndsAtCloseLineEndOrGap_data();
    void gatheredReplyEndsAtCloseLineEndOrGap();

private:
    QByteArray stamp() const { return timeOfDayText(clock.now().time()).toLatin1() + ' '; }
    QString replyBoxFor(const QByteArray &reply) const
    {
        return dateTimeText(clock.now()) + QLatin1Char(' ') + QString::fromLatin1(reply);
    }
    QByteArray originateLine() const
    {
        return "TCP TCP Originate: Local port <" + QByteArray::number(server->port()) + "> Local IP <127.0.0.1 > ";
    }

    FixedClock clock;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<frmIPNDTCPServer> window;
};

void tst_Link::init()
{
    server = std::make_unique<TestServer>();
    window = makeLoopbackWindow(*server, clock);
}

void tst_Link::cleanup()
{
    window.reset();
    server.reset();
}

void tst_Link::wholeExchange()
{
    server->reply = "ACK 08903043";
    server->replyAfter = TestRecords::Standard.size();

    window->cmdStandard_Click();

    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->connectionCount(), 1);
    QCOMPARE(server->received(0), TestRecords::Standard);
    QCOMPARE(newestLogTexts(*window, clock, 3),
             (QList<QByteArray>{"Event: <127.0.0.1> Data Pkt Rxd", "Event: Connected", originateLine()}));
    QCOMPARE(logLineCount(*window), 3);
    QTRY_COMPARE(window->txbMessage->toPlainText(), replyBoxFor("ACK 08903043"));
    QTRY_COMPARE(window->lbProcessed->text(), QStringLiteral("1"));
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(window->TCPConnected, qint16(0));
    QTRY_VERIFY(server->isPeerClosed(0));
}

void tst_Link::replyBoxShowsWhenTheReplyCame()
{
    // The box is brought up to date later; the time it shows is the reply's.
    const QString expected = replyBoxFor("ACK");
    connect(&window->link(), &Link::replyHandled, this, [this] { clock.set(clock.now().addSecs(75)); });
    window->cmdMinAdd_Click();
    QTRY_COMPARE(window->Processed, 1);
    QTRY_COMPARE(window->txbMessage->toPlainText(), expected);
}

void tst_Link::secondPressSendsAgainOverNewConnection()
{
    server->replyAfter = TestRecords::Min.size();
    window->cmdMinAdd_Click();
    QTRY_COMPARE(window->Processed, 1);

    clock.set(clock.now().addSecs(75));
    server->reply = "second";
    window->cmdMinAdd_Click();
    QTRY_COMPARE(window->Processed, 2);

    QCOMPARE(server->connectionCount(), 2);
    QCOMPARE(server->received(1), TestRecords::Min);
    QTRY_COMPARE(window->lbProcessed->text(), QStringLiteral("2"));
    QTRY_COMPARE(window->txbMessage->toPlainText(), replyBoxFor("second"));
    QCOMPARE(logLineCount(*window), 6);
}

void tst_Link::serverClosesWithoutReplyThenPeerConnects()
{
    server->answer = TestServer::Answer::CloseWithoutReply;
    server->replyAfter = TestRecords::Standard.size();
    window->cmdStandard_Click();

    QTRY_COMPARE(window->wskMessage->State(), int(Socket::Listening));
    QCOMPARE(newestLogTexts(*window, clock, 1).first(), QByteArray("Event: Port Closed"));
    QCOMPARE(window->TCPConnected, qint16(0));
    QCOMPARE(window->Processed, 0);
    QCOMPARE(window->lbProcessed->text(), QString());

    // While the socket listens a press sends nothing and logs nothing.
    const QString logBefore = window->eventLog().render();
    window->cmdStandard_Click();
    QCOMPARE(window->eventLog().render(), logBefore);
    QCOMPARE(server->connectionCount(), 1);

    // A peer that connects to the listening socket has its data handled as a reply.
    const quint16 listeningPort = quint16(window->wskMessage->LocalPort());
    QVERIFY(listeningPort != 0);
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, listeningPort);
    QVERIFY(peer.waitForConnected(5000));
    QTRY_COMPARE(window->wskMessage->State(), int(Socket::Connected));
    const QByteArray requestLine = newestLogTexts(*window, clock, 1).first();
    QVERIFY2(requestLine.startsWith("Event: Connect request id = ") && requestLine.endsWith(" from <127.0.0.1>"),
             requestLine.constData());

    peer.write("PEER SAYS HI");
    QTRY_COMPARE(window->Processed, 1);
    QTRY_COMPARE(window->txbMessage->toPlainText(), replyBoxFor("PEER SAYS HI"));
    QCOMPARE(newestLogTexts(*window, clock, 1).first(), QByteArray("Event: <127.0.0.1> Data Pkt Rxd"));
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QTRY_COMPARE(peer.state(), QAbstractSocket::UnconnectedState);

    // The link is free again: the next press goes out on a fresh connection.
    server->answer = TestServer::Answer::Reply;
    window->cmdStandard_Click();
    QTRY_COMPARE(window->Processed, 2);
    QCOMPARE(server->received(1), TestRecords::Standard);
}

void tst_Link::closeButton_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("closed") << int(Socket::Closed);
    QTest::newRow("connected, awaiting reply") << int(Socket::Connected);
    QTest::newRow("listening after peer close") << int(Socket::Listening);
}

void tst_Link::closeButton()
{
    QFETCH(int, state);
    server->replyAfter = TestRecords::Standard.size();
    if (state == Socket::Connected)
        server->answer = TestServer::Answer::Silent;
    if (state == Socket::Listening)
        server->answer = TestServer::Answer::CloseWithoutReply;
    if (state != Socket::Closed) {
        window->cmdStandard_Click();
        QTRY_COMPARE(window->wskMessage->State(), state);
        QTRY_COMPARE(server->received(0), TestRecords::Standard);
    }
    const QString logBefore = window->eventLog().render();

    QTest::mouseClick(window->cmdClose, Qt::LeftButton);

    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(window->TCPConnected, qint16(0));
    QCOMPARE(window->eventLog().render(), logBefore);
    QCOMPARE(window->Processed, 0);

    // After Close the next press waits for its own, new connection and sends.
    server->answer = TestServer::Answer::Reply;
    window->cmdStandard_Click();
    QTRY_COMPARE(window->Processed, 1);
    const int last = server->connectionCount() - 1;
    QCOMPARE(server->received(last), TestRecords::Standard);
}

void tst_Link::pressWhileBusySendsAndLogsNothing()
{
    server->answer = TestServer::Answer::Silent;
    window->cmdStandard_Click();
    QTRY_COMPARE(server->received(0), TestRecords::Standard);
    const QString logBefore = window->eventLog().render();

    window->cmdMaxAdd_Click();
    window->cmdNoAdd_Click();

    QCOMPARE(window->eventLog().render(), logBefore);
    QCOMPARE(server->connectionCount(), 1);
    QCOMPARE(server->received(0), TestRecords::Standard);
    QCOMPARE(window->wskMessage->State(), int(Socket::Connected));
}

void tst_Link::refusedConnectionIsLoggedAndClosed()
{
    quint16 deadPort = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        deadPort = closed.serverPort();
    }
    window->txbPort->setText(QString::number(deadPort));

    window->cmdStandard_Click();

    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    const QList<QByteArray> lines = newestLogTexts(*window, clock, 2);
    QVERIFY2(lines[0].startsWith("Event: Socket error ") && lines[0].contains("refused"), lines[0].constData());
    QVERIFY(lines[1].startsWith("TCP TCP Originate: Local port <" + QByteArray::number(deadPort) + ">"));
    QCOMPARE(logLineCount(*window), 2);

    // The window goes on working: the next press reaches a live server.
    window->txbPort->setText(QString::number(server->port()));
    window->cmdStandard_Click();
    QTRY_COMPARE(window->Processed, 1);
    // Only the port changed: the line names the new one.
    QCOMPARE(newestLogTexts(*window, clock, 3).last(), originateLine());
}

void tst_Link::unresolvableNameIsLoggedAndClosed()
{
    // Not a valid host name: the resolver fails it locally, without a query.
    window->txbAddress->setText(QStringLiteral("no such host"));

    window->cmdLongAdd_Click();

    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    const QByteArray line = newestLogTexts(*window, clock, 1).first();
    QVERIFY2(line.startsWith("Event: Socket error ") && line.contains("not found"), line.constData());
    QCOMPARE(server->connectionCount(), 0);
}

void tst_Link::typedNameOutsideLatin1IsLoggedAsTyped()
{
    // Not a valid host name either, so nothing leaves the machine.
    const QString name = QStringLiteral("r\u00e9cepteur \u6771\u4eac \u2013 no such host");
    window->txbAddress->setText(name);

    window->cmdStandard_Click();

    QCOMPARE(window->eventLog().slot(EventLog::Slots - 1),
             timeOfDayText(clock.now().time()) + QStringLiteral(" TCP TCP Originate: Local port <%1> Local IP <%2 > ")
                                                      .arg(server->port())
                                                      .arg(name));
    QCOMPARE(server->connectionCount(), 0);
}

void tst_Link::connectionThatNeverComesUpTimesOut()
{
    PendingListener listener;
    QVERIFY(listener.port() != 0);

    window->wskMessage->setConnectTimeout(300);
    window->txbPort->setText(QString::number(listener.port()));
    window->cmdStandard_Click();

    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(newestLogTexts(*window, clock, 1).first(),
             QByteArray("Event: Socket error 5: Connection timed out after 300 ms"));
    QCOMPARE(window->TCPConnected, qint16(0));
}

void tst_Link::badEndpointIsLoggedAndWindowGoesOn_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QByteArray>("logLine");
    QTest::newRow("empty port") << "127.0.0.1" << ""
                                << QByteArray("Send failed: Type mismatch: \"\" is not a whole number (error 13)");
    QTest::newRow("abc") << "127.0.0.1" << "abc"
                         << QByteArray("Send failed: Type mismatch: \"abc\" is not a whole number (error 13)");
    QTest::newRow("0") << "127.0.0.1" << "0"
                       << QByteArray("Send failed: Invalid port 0: a port is a number from 1 to 65535 (error 380)");
    QTest::newRow("70000") << "127.0.0.1" << "70000"
                           << QByteArray("Send failed: Invalid port 70000: a port is a number from 1 to 65535 "
                                         "(error 380)");
    QTest::newRow("-1") << "127.0.0.1" << "-1"
                        << QByteArray("Send failed: Invalid port -1: a port is a number from 1 to 65535 (error 380)");
    QTest::newRow("beyond 32 bits") << "127.0.0.1" << "99999999999"
                                    << QByteArray("Send failed: Overflow: 99999999999 is outside -2147483648 to "
                                                  "2147483647 (error 6)");
    QTest::newRow("empty address") << "" << "PORT"
                                   << QByteArray("Send failed: No server address given (error 40020)");
}

void tst_Link::badEndpointIsLoggedAndWindowGoesOn()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QByteArray, logLine);
    window->txbAddress->setText(address);
    window->txbPort->setText(port == QLatin1String("PORT") ? QString::number(server->port()) : port);

    QTest::mouseClick(window->cmdStandard, Qt::LeftButton);

    QCOMPARE(logLineCount(*window), 1);
    QCOMPARE(newestLogTexts(*window, clock, 1).first(), logLine);
    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(server->connectionCount(), 0);

    window->txbAddress->setText(QStringLiteral("127.0.0.1"));
    window->txbPort->setText(QString::number(server->port()));
    QTest::mouseClick(window->cmdStandard, Qt::LeftButton);
    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), TestRecords::Standard);
}

void tst_Link::highBytesTravelUnchanged()
{
    QByteArray allBytes;
    for (int b = 1; b < 256; ++b)
        allBytes += char(b);
    QByteArray high;
    for (int b = 128; b < 256; ++b)
        high += char(b);
    server->reply = high;
    server->replyAfter = allBytes.size();

    window->SendTCPPacket(allBytes);

    QTRY_COMPARE(window->Processed, 1);
    QCOMPARE(server->received(0), allBytes);
    // toPlainText() folds U+00A0 into a blank; the raw text is what the box holds.
    QTRY_VERIFY(!window->txbMessage->document()->isEmpty());
    const QString shown = window->txbMessage->document()->toRawText();
    QCOMPARE(shown, replyBoxFor(high));
    QCOMPARE(shown.right(128).front(), QChar(0x80));
    QCOMPARE(shown.back(), QChar(0xFF));
}

void tst_Link::unloadClosesTheSocket()
{
    server->answer = TestServer::Answer::Silent;
    window->cmdStandard_Click();
    QTRY_COMPARE(window->wskMessage->State(), int(Socket::Connected));
    const QString logBefore = window->eventLog().render();

    QVERIFY(window->close());

    QCOMPARE(window->wskMessage->State(), int(Socket::Closed));
    QCOMPARE(window->eventLog().render(), logBefore);
    QTRY_VERIFY(server->isPeerClosed(0));
}

namespace {
// A link's owner without a window: it keeps the log lines, oldest first, and
// every call made to it in order.
struct HeadlessHost final : LinkHost
{
    QString port;
    QList<QByteArray> log;
    QList<QByteArray> calls;
    void InsertLog(const QByteArray &line) override
    {
        log.append(line);
        calls.append("log " + line);
    }
    QString serverAddress() const override { return QStringLiteral("127.0.0.1"); }
    QString serverPort() const override { return port; }
    void showReply(const QByteArray &reply) override { calls.append("reply " + reply); }
    void showProcessed(qint32 processed) override { calls.append("processed " + QByteArray::number(processed)); }
};
} // namespace

void tst_Link::peerCloseLeavesTheSocketClosed_data()
{
    QTest::addColumn<bool>("listen");
    QTest::newRow("headless: no listening") << false;
    QTest::newRow("window: listening refused, port taken") << true;
}

// A headless link does not listen after a peer's close; the window's does,
// and when its port is taken the socket stays closed. Either way the next
// send goes out.
void tst_Link::peerCloseLeavesTheSocketClosed()
{
    QFETCH(bool, listen);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::Any, 0));
    HeadlessHost host;
    host.port = QString::number(server->port());
    server->answer = TestServer::Answer::CloseWithoutReply;
    server->replyAfter = TestRecords::Standard.size();
    Link link(host);
    link.listenAfterPeerClose = listen;
    // Headless, a listen would get a port of its own, and show.
    if (listen)
        link.wskMessage->setLocalPort(taken.serverPort());
    QSignalSpy peerClosed(&link, &Link::peerClosed);

    QCOMPARE(link.SendTCPPacket(TestRecords::Standard), SendResult::Sent);
    QVERIFY(peerClosed.wait(5000));
    QCOMPARE(host.log.constLast(), QByteArray("Event: Port Closed"));
    QCOMPARE(link.wskMessage->State(), int(Socket::Closed));
    QCOMPARE(link.TCPConnected, qint16(0));

    server->answer = TestServer::Answer::Reply;
    QCOMPARE(link.SendTCPPacket(TestRecords::Min), SendResult::Sent);
    QTRY_COMPARE(server->received(1), TestRecords::Min);
}

void tst_Link::replyHandledInOrderAndCounted_data()
{
    QTest::addColumn<qint32>("before");
    QTest::addColumn<qint32>("first");
    QTest::addColumn<qint32>("second");
    constexpr qint32 most = std::numeric_limits<qint32>::max();
    QTest::newRow("from 0") << 0 << 1 << 2;
    QTest::newRow("up to the maximum") << most - 1 << most << most;
}

// A reply is logged, shown, its connection closed, then counted; the count
// stops at its maximum.
void tst_Link::replyHandledInOrderAndCounted()
{
    QFETCH(qint32, before);
    QFETCH(qint32, first);
    QFETCH(qint32, second);
    HeadlessHost host;
    host.port = QString::number(server->port());
    server->reply = "ACK 08903043";
    Link link(host);
    link.Processed = before;
    connect(link.wskMessage, &Socket::becameClosed, this, [&host] { host.calls.append("closed"); });
    QSignalSpy handled(&link, &Link::replyHandled);

    for (const qint32 count : {first, second}) {
        QCOMPARE(link.SendTCPPacket(TestRecords::Standard), SendResult::Sent);
        host.calls.clear();
        QVERIFY(handled.wait(5000));
        QCOMPARE(host.calls, (QList<QByteArray>{"log Event: <127.0.0.1> Data Pkt Rxd", "reply ACK 08903043", "closed",
                                                "processed " + QByteArray::number(count)}));
        QCOMPARE(link.Processed, count);
    }
}

// The window's send serves pending events while its connection comes up, even
// one that is up at once; the headless sender sends on such a connection
// straight away, and a refusal still ends the send as a failure.
void tst_Link::turnOfTheEventLoopBeforeTheSend_data()
{
    QTest::addColumn<bool>("serveEvents");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<bool>("turnExpected");

    QTest::newRow("window") << true << true << true;
    QTest::newRow("headless") << false << true << false;
    QTest::newRow("headless, refused") << false << false << true;
}

void tst_Link::turnOfTheEventLoopBeforeTheSend()
{
    QFETCH(bool, serveEvents);
    QFETCH(bool, serverUp);
    QFETCH(bool, turnExpected);
    HeadlessHost host;
    host.port = QString::number(server->port());
    if (!serverUp) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        host.port = QString::number(closed.serverPort());
    }
    Link link(host);
    link.listenAfterPeerClose = false;
    link.serveEventsWhileConnecting = serveEvents;
    bool turned = false;
    QTimer::singleShot(0, this, [&turned] { turned = true; });

    const SendResult result = link.SendTCPPacket(TestRecords::Standard);

    QCOMPARE(turned, turnExpected);
    const QByteArray originate = "TCP TCP Originate: Local port <" + host.port.toLatin1() + "> Local IP <127.0.0.1 > ";
    if (serverUp) {
        QCOMPARE(result, SendResult::Sent);
        QCOMPARE(host.log, (QList<QByteArray>{originate, "Event: Connected"}));
        QTRY_COMPARE(server->received(0), TestRecords::Standard);
    } else {
        QCOMPARE(result, SendResult::NoConnection);
        QCOMPARE(host.log, (QList<QByteArray>{originate, "Event: Socket error 0: Connection refused"}));
        QCOMPARE(link.wskMessage->State(), int(Socket::Closed));
    }
}

// A headless sender's reply is every piece until the peer closes, a line
// end, or a quiet gap; the window's is its first piece.
void tst_Link::gatheredReplyEndsAtCloseLineEndOrGap_data()
{
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray large(8 * 1024 * 1024, 'A');
    QTest::newRow("pieces, then the close") << 60000 << QList<QByteArray>{"ACK 08", "9", "03043"} << true
                                           << QByteArray("ACK 08903043");
    QTest::newRow("8 MiB, then the close") << 60000 << QList<QByteArray>{large} << true << large;
    QTest::newRow("line end, left open") << 60000 << QList<QByteArray>{"ACK", " 1\n"} << false
                                         << QByteArray("ACK 1\n");
    QTest::newRow("quiet gap, left open") << 50 << QList<QByteArray>{"ACK", " 1"} << false << QByteArray("ACK 1");
}

void tst_Link::gatheredReplyEndsAtCloseLineEndOrGap()
{
    QFETCH(int, gapMs);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, peerCloses);
    QFETCH(QByteArray, reply);
    HeadlessHost host;
    host.port = QString::number(server->port());
    server->answer = TestServer::Answer::Silent;
    Link link(host);
    link.listenAfterPeerClose = false;
    link.replyGapMs = gapMs;
    QSignalSpy handled(&link, &Link::replyHandled);
    QSignalSpy peerClosed(&link, &Link::peerClosed);

    QCOMPARE(link.SendTCPPacket(TestRecords::Standard), SendResult::Sent);
    QTRY_COMPARE(server->received(0), TestRecords::Standard);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        server->connection(0)->write(pieces[i]);
        // Each piece is read before the next goes: the reply comes cut up.
        if (i + 1 < pieces.size())
            QTRY_VERIFY(link.replyUnderWay());
        QTRY_VERIFY(!server->connection(0)->bytesToWrite());
    }
    if (peerCloses)
        server->connection(0)->disconnectFromHost();

    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 1, 10000);
    QCOMPARE(handled.first().first().toByteArray(), reply);
    QCOMPARE(peerClosed.count(), 0);
    QCOMPARE(link.wskMessage->State(), int(Socket::Closed));
    QCOMPARE(host.log.count("Event: <127.0.0.1> Data Pkt Rxd"), 1);
    // The gap that ended the reply is no part of its time.
    if (gapMs == 50)
        QCOMPARE_GE(link.replyQuietNs(), 50 * 1000000LL);
}

QTEST_MAIN(tst_Link)
#include "tst_link.moc"
