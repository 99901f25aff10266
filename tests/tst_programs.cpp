// The installed programs as a user meets them: the window's command line,
// and the libraries the command-line programs load.

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

constexpr int Bound = 10000; // ms

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(Bound) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

class tst_Programs : public QObject
{
    Q_OBJECT

private slots:
    void windowCommandLine_data();
    void windowCommandLine();
    void commandLineProgramsLoadNoGuiLibrary_data();
    void commandLineProgramsLoadNoGuiLibrary();
};

void tst_Programs::windowCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // start of standard error

    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << QByteArray("ipnd-testgen 1.10.23\n") << QByteArray();
    // Qt's own options still reach Qt.
    QTest::newRow("-platform and --version")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")} << 0
        << QByteArray("ipnd-testgen 1.10.23\n") << QByteArray();
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << QByteArray("Usage: ipnd-testgen [options]\n") << QByteArray();
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--port=1")} << 2 << QByteArray()
                                    << QByteArray("ipnd-testgen: Unknown option 'port'.\nusage: ipnd-testgen ");
    QTest::newRow("stray argument") << QStringList{QStringLiteral("file.dat")} << 2 << QByteArray()
                                    << QByteArray("ipnd-testgen: unexpected argument \"file.dat\"\n");
}

void tst_Programs::windowCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Run result = run(QStringLiteral(IPND_TESTGEN), arguments, environment);
    QCOMPARE(result.exitCode, exitCode);
    if (arguments.contains(QLatin1String("--help"))) {
        QVERIFY2(result.out.startsWith(out), result.out.constData());
        QVERIFY(result.out.contains("--version "));
    } else {
        QCOMPARE(result.out, out);
    }
    // Qt may say a word of its own (a runtime folder) first.
    QVERIFY2(err.isEmpty() ? !result.err.contains("ipnd-testgen") : result.err.contains(err), result.err.constData());
}

void tst_Programs::commandLineProgramsLoadNoGuiLibrary_data()
{
    QTest::addColumn<QString>("program");
    for (const QString &program : QStringLiteral(IPND_HEADLESS_PROGRAMS).split(QLatin1Char(':')))
        QTest::newRow(qPrintable(QFileInfo(program).fileName())) << program;
}

void tst_Programs::commandLineProgramsLoadNoGuiLibrary()
{
    QFETCH(QString, program);

    const Run ldd = run(QStringLiteral("ldd"), {program}, QProcessEnvironment::systemEnvironment());
    QCOMPARE(ldd.exitCode, 0);
    QVERIFY2(ldd.out.contains("libQt6Core"), ldd.out.constData());
    static const QRegularExpression gui(QStringLiteral("lib(Qt6Gui|Qt6Widgets|Qt6OpenGL|GLX?|OpenGL|EGL|xcb)[^ ]*"));
    QStringList loaded;
    for (QRegularExpressionMatchIterator i = gui.globalMatch(QString::fromLocal8Bit(ldd.out)); i.hasNext();)
        loaded << i.next().captured();
    QCOMPARE(loaded, QStringList());
}

QTEST_GUILESS_MAIN(tst_Programs)
#include "tst_programs.moc"
