// ipnd-send, ipnd-conform and ipnd-receiver over TLS, with certificates made for the test
// by the openssl program: a CA, a server certificate for localhost and
// 127.0.0.1, a client certificate, and a second CA with a client of its own.

#include "ReceiverProcess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

class tst_Tls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void exchange_data();
    void exchange();
    void stalledHandshakeCostsOneConnection();
    void conform_data();
    void conform();

private:
    // The arguments with each "@NAME" made a path in the test's folder.
    QStringList files(const QStringList &arguments) const;
    bool openssl(const QStringList &arguments);

    QTemporaryDir dir;
    QProcess receiver;
};

bool tst_Tls::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), process.readAllStandardError().constData());
        return false;
    }
    return true;
}

void tst_Tls::initTestCase()
{
    QVERIFY(dir.isValid());
    const QStringList key = {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                             "-days", "2"};
    const QStringList ca = {"-addext", "basicConstraints=critical,CA:TRUE"};
    QVERIFY(openssl(key + QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Test CA"} + ca));
    QVERIFY(openssl(key + QStringList{"-keyout", "other.key", "-out", "other.pem", "-subj", "/CN=Other CA"} + ca));
    QVERIFY(openssl(key + QStringList{"-keyout", "server.key", "-out", "server.pem", "-subj", "/CN=localhost",
                                      "-CA", "ca.pem", "-CAkey", "ca.key", "-addext",
                                      "subjectAltName=DNS:localhost,IP:127.0.0.1"}));
    QVERIFY(openssl(key + QStringList{"-keyout", "client.key", "-out", "client.pem", "-subj", "/CN=client", "-CA",
                                      "ca.pem", "-CAkey", "ca.key"}));
    QVERIFY(openssl(key + QStringList{"-keyout", "stranger.key", "-out", "stranger.pem", "-subj", "/CN=stranger",
                                      "-CA", "other.pem", "-CAkey", "other.key"}));
}

void tst_Tls::cleanup()
{
    if (receiver.state() != QProcess::NotRunning) {
        receiver.kill();
        receiver.waitForFinished(5000);
    }
}

QStringList tst_Tls::files(const QStringList &arguments) const
{
    QStringList out;
    for (const QString &argument : arguments)
        out.append(argument.startsWith(QLatin1Char('@')) ? dir.filePath(argument.mid(1)) : argument);
    return out;
}

void tst_Tls::exchange_data()
{
    QTest::addColumn<QStringList>("receiverArguments");
    QTest::addColumn<QStringList>("sendArguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("sendSays"); // on standard output or error
    QTest::addColumn<int>("times");           // how often
    QTest::addColumn<QByteArray>("receiverSays"); // on its standard error; empty: nothing
    QTest::addColumn<int>("tlsFailed");           // -1: a plain receiver

    const QStringList tls = {"--tls-cert", "@server.pem", "--tls-key", "@server.key"};
    const QStringList clients = tls + QStringList{"--tls-client-ca", "@ca.pem"};
    const QStringList trusting = {"--record", "standard", "--tls", "--ca", "@ca.pem"};
    const QStringList replay = {"--replay", QFINDTESTDATA("../examples/ipnd-rawlog.dat"), "--period", "0", "--tls",
                                "--ca", "@ca.pem"};

    QTest::newRow("verified") << tls << trusting << 0 << QByteArray("tls handshakes: full 1, resumed 0\n") << 1
                              << QByteArray() << 0;
    // The log line and the reason no connection came up.
    QTest::newRow("unknown CA") << tls << QStringList{"--record", "standard", "--tls"} << 3
                                << QByteArray("certificate verify failed: unable to get local issuer certificate\n")
                                << 2 << QByteArray("TLS: tlsv1 alert unknown ca\n") << 1;
    QTest::newRow("name mismatch") << tls << trusting + QStringList{"--servername", "other.example"} << 3
                                   << QByteArray("Socket error 13: certificate verify failed: hostname mismatch\n")
                                   << 2 << QByteArray("TLS: sslv3 alert bad certificate\n") << 1;
    QTest::newRow("insecure") << tls << QStringList{"--record", "standard", "--tls", "--insecure"} << 0
                              << QByteArray("ipnd-send: --insecure: the server's certificate is not checked\n") << 1
                              << QByteArray() << 0;
    QTest::newRow("client certificate given")
        << clients << trusting + QStringList{"--cert", "@client.pem", "--key", "@client.key"} << 0
        << QByteArray("tls handshakes: full 1, resumed 0\n") << 1 << QByteArray() << 0;
    // TLS 1.3: the server judges the client's certificate after the client
    // has finished its handshake and sent the record.
    QTest::newRow("client certificate missing")
        << clients << trusting << 1 << QByteArray("tlsv13 alert certificate required\n") << 1
        << QByteArray("TLS: peer did not return a certificate\n") << 1;
    QTest::newRow("client certificate from another CA")
        << clients << trusting + QStringList{"--cert", "@stranger.pem", "--key", "@stranger.key"} << 1
        << QByteArray("tlsv1 alert unknown ca\n") << 1
        << QByteArray("TLS: certificate verify failed: unable to get local issuer certificate\n") << 1;
    QTest::newRow("plain client on a TLS port") << tls << QStringList{"--record", "standard"} << 1
                                                << QByteArray("unanswered 1,") << 1
                                                << QByteArray("TLS: wrong version number\n") << 1;
    QTest::newRow("TLS client on a plain port") << QStringList() << trusting << 3
                                                << QByteArray("Socket error 13: wrong version number\n") << 2
                                                << QByteArray() << -1;
    // Five records: one full handshake, then the session resumed.
    QTest::newRow("resumed") << tls << replay + QStringList{"--report", "-"} << 0
                             << QByteArray(R"("tls_full":1,"tls_resumed":4,)") << 1 << QByteArray() << 0;
    // TLS 1.2 resumes by the session, which only a closed one keeps.
    QTest::newRow("resumed over TLS 1.2")
        << tls << replay + QStringList{"--ciphers", "ECDHE-ECDSA-AES128-GCM-SHA256"} << 0
        << QByteArray("tls handshakes: full 1, resumed 4\n") << 1 << QByteArray() << 0;
    QTest::newRow("CA file missing") << tls << QStringList{"--record", "standard", "--tls", "--ca", "@missing.pem"} << 2
                                     << QByteArray("ipnd-send: --ca: cannot use \"") << 1 << QByteArray() << 0;
    QTest::newRow("no resume") << tls << replay + QStringList{"--no-resume"} << 0
                               << QByteArray("tls handshakes: full 5, resumed 0\n") << 1 << QByteArray() << 0;
}

void tst_Tls::exchange()
{
    QFETCH(QStringList, receiverArguments);
    QFETCH(QStringList, sendArguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, sendSays);
    QFETCH(int, times);
    QFETCH(QByteArray, receiverSays);
    QFETCH(int, tlsFailed);

    const quint16 port = startReceiver(receiver, files(receiverArguments), 20000);
    QVERIFY(port != 0);

    // Far beyond the bound below: a handshake that hung would show.
    QProcess sender;
    sender.start(QStringLiteral(IPND_SEND), QStringList{"--host", "127.0.0.1", "--port", QString::number(port),
                                                        "--connect-timeout", "30"}
                                                + files(sendArguments));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sender.waitForFinished(20000));
    QVERIFY2(clock.elapsed() < 10000, "the send took as long as a hang");
    const QByteArray said = sender.readAllStandardOutput() + sender.readAllStandardError();
    QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
    QVERIFY2(sender.exitCode() == exitCode, said.constData());
    QVERIFY2(said.count(sendSays) == times, said.constData());

    // The receiver says what failed, and goes on to its summary.
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += receiver.readAllStandardError()).contains(receiverSays), 10000);
    receiver.terminate();
    QVERIFY(receiver.waitForFinished(10000));
    QCOMPARE(receiver.exitCode(), 0);
    const QByteArray summary = receiver.readAllStandardOutput();
    if (tlsFailed >= 0)
        QVERIFY2(summary.contains("\ntls failed " + QByteArray::number(tlsFailed) + '\n'), summary.constData());
    else
        QVERIFY2(!summary.contains("tls failed"), summary.constData());
}

void tst_Tls::stalledHandshakeCostsOneConnection()
{
    const quint16 port = startReceiver(
        receiver, files({"--tls-cert", "@server.pem", "--tls-key", "@server.key", "--idle-timeout", "0.2"}), 20000);
    QVERIFY(port != 0);
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(silent.waitForConnected(5000));

    // It never starts its handshake: the idle timeout ends it.
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 5000);
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT(
        (errors += receiver.readAllStandardError()).contains("TLS: handshake not done within the idle timeout\n"), 5000);
    receiver.terminate();
    QVERIFY(receiver.waitForFinished(10000));
    const QByteArray summary = receiver.readAllStandardOutput();
    QVERIFY2(summary.contains("\nidle closed 0\ntls failed 1\n"), summary.constData());
}

void tst_Tls::conform_data()
{
    QTest::addColumn<QStringList>("receiverArguments");
    QTest::addColumn<QStringList>("conformArguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("says"); // on standard output or error

    const QStringList tls = {"--judge", "--tls-cert", "@server.pem", "--tls-key", "@server.key"};
    const QStringList trusting = {"--tls", "--ca", "@ca.pem"};
    QTest::newRow("verified") << tls << trusting << 0 << QByteArray("... pass: 3 accepted\n");
    QTest::newRow("unknown CA")
        << tls << QStringList{"--tls"} << 3
        << QByteArray(": certificate verify failed: unable to get local issuer certificate\n");
    QTest::newRow("client certificate given")
        << tls + QStringList{"--tls-client-ca", "@ca.pem"}
        << trusting + QStringList{"--cert", "@client.pem", "--key", "@client.key"} << 0
        << QByteArray("... pass: 3 accepted\n");
}

void tst_Tls::conform()
{
    QFETCH(QStringList, receiverArguments);
    QFETCH(QStringList, conformArguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, says);

    const quint16 port = startReceiver(receiver, files(receiverArguments), 20000);
    QVERIFY(port != 0);
    QProcess conform;
    conform.start(QStringLiteral(IPND_CONFORM), QStringList{"--host", "127.0.0.1", "--port", QString::number(port),
                                                            "--cases", "1.2", "--timeout", "5"}
                                                    + files(conformArguments));
    QVERIFY(conform.waitForFinished(20000));
    const QByteArray said = conform.readAllStandardOutput() + conform.readAllStandardError();
    QCOMPARE(conform.exitStatus(), QProcess::NormalExit);
    QVERIFY2(conform.exitCode() == exitCode, said.constData());
    QVERIFY2(said.contains(says), said.constData());
}

QTEST_GUILESS_MAIN(tst_Tls)
#include "tst_tls.moc"
