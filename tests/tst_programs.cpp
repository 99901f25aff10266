// The installed programs as a user meets them: their command lines, the
// bounds of the generator's numeric options, and the libraries the
// command-line programs load.

#include "generator/Generator.h"

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
    void commandLines_data();
    void commandLines();
    void helpDescribesEveryOption_data();
    void helpDescribesEveryOption();
    void genOptionBounds_data();
    void genOptionBounds();
    void commandLineProgramsLoadNoGuiLibrary_data();
    void commandLineProgramsLoadNoGuiLibrary();
};

void tst_Programs::windowCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // start of standard error
    QTest::addColumn<bool>("display");

    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0
                               << QByteArray("ipnd-testgen 1.10.23\n") << QByteArray() << true;
    QTest::newRow("--version without a display") << QStringList{QStringLiteral("--version")} << 0
                                                 << QByteArray("ipnd-testgen 1.10.23\n") << QByteArray() << false;
    QTest::newRow("--help without a display") << QStringList{QStringLiteral("--help")} << 0
                                              << QByteArray("Usage: ipnd-testgen [options]\n") << QByteArray()
                                              << false;
    // Qt's own options still reach Qt.
    QTest::newRow("-platform and --version")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")} << 0
        << QByteArray("ipnd-testgen 1.10.23\n") << QByteArray() << true;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << QByteArray("Usage: ipnd-testgen [options]\n") << QByteArray() << true;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--port=1")} << 2 << QByteArray()
                                    << QByteArray("ipnd-testgen: unknown option --port\nusage: ipnd-testgen ") << true;
    QTest::newRow("stray argument") << QStringList{QStringLiteral("file.dat")} << 2 << QByteArray()
                                    << QByteArray("ipnd-testgen: unexpected argument \"file.dat\"\n") << true;
}

void tst_Programs::windowCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(bool, display);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!display) {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QString::fromLatin1(name));
    }
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

void tst_Programs::commandLines_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // the first line of standard error

    const struct
    {
        const char *name;
        QString file;
        QStringList equalsValue; // a value after "=" reaches the check of the option
        QByteArray refused;
    } programs[] = {
        {"ipnd-send", QStringLiteral(IPND_SEND), {QStringLiteral("--host=127.0.0.1"), QStringLiteral("--port=65536")},
         "ipnd-send: --port: \"65536\" is not a port number (1 to 65535)\n"},
        {"ipnd-receiver", QStringLiteral(IPND_RECEIVER), {QStringLiteral("--port=65536")},
         "ipnd-receiver: --port: \"65536\" is not a port number (0 to 65535)\n"},
        {"ipnd-gen", QStringLiteral(IPND_GEN), {QStringLiteral("--count=100000001")},
         "ipnd-gen: --count: \"100000001\" is not a number of records (1 to 100000000)\n"},
    };
    for (const auto &p : programs) {
        QTest::addRow("%s --version", p.name) << p.file << QStringList{QStringLiteral("--version")} << 0
                                              << QByteArray(p.name) + " 1.10.23\n" << QByteArray();
        QTest::addRow("%s --opt=value", p.name) << p.file << p.equalsValue << 2 << QByteArray() << p.refused;
        QTest::addRow("%s unknown option", p.name)
            << p.file << QStringList{QStringLiteral("--colour=red")} << 2 << QByteArray()
            << QByteArray(p.name) + ": unknown option --colour\n";
        const QString first = p.equalsValue.constFirst();
        QTest::addRow("%s option twice", p.name) << p.file << p.equalsValue + p.equalsValue << 2 << QByteArray()
                                                 << p.name + (": " + first.left(first.indexOf('=')).toLatin1()) + " is given twice\n";
    }
    // A value given either way is the same value.
    const QByteArray oneRecord = run(QStringLiteral(IPND_GEN), {"--count", "1", "--seed", "7"},
                                     QProcessEnvironment::systemEnvironment()).out;
    QTest::newRow("ipnd-gen --count=1 --seed=7") << QStringLiteral(IPND_GEN) << QStringList{"--count=1", "--seed=7"}
                                                << 0 << oneRecord << QByteArray();
}

void tst_Programs::commandLines()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    const Run result = run(program, arguments, QProcessEnvironment::systemEnvironment());
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY(exitCode != 0 || !out.isEmpty());
    QCOMPARE(result.out, out);
    QCOMPARE(result.err.left(result.err.indexOf('\n') + 1), err);
}

void tst_Programs::helpDescribesEveryOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("options"); // the program's own, besides --help, --help-all and --version

    QTest::newRow("ipnd-testgen") << QStringLiteral(IPND_TESTGEN) << 0;
    QTest::newRow("ipnd-send") << QStringLiteral(IPND_SEND) << 44;
    QTest::newRow("ipnd-receiver") << QStringLiteral(IPND_RECEIVER) << 17;
    QTest::newRow("ipnd-gen") << QStringLiteral(IPND_GEN) << 7;
    QTest::newRow("ipnd-conform") << QStringLiteral(IPND_CONFORM) << 26;
}

void tst_Programs::helpDescribesEveryOption()
{
    QFETCH(QString, program);
    QFETCH(int, options);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Run result = run(program, {QStringLiteral("--help")}, environment);
    QCOMPARE(result.exitCode, 0);
    const QByteArray name = QFileInfo(program).fileName().toLatin1();
    QVERIFY2(result.out.startsWith("Usage: " + name + " [options]\n"), result.out.constData());
    // The line after the usage line says what the program does.
    QVERIFY2(result.out.split('\n').value(1).size() > 40, result.out.constData());
    // An option and what it does share a line: "  --port <N>    Listen on ...".
    static const QRegularExpression option(QStringLiteral("^  (-\\w, )?--[a-z0-9-]+( <[^>]+>)?(  +\\S.*)?$"),
                                           QRegularExpression::MultilineOption);
    int described = 0;
    for (QRegularExpressionMatchIterator i = option.globalMatch(QString::fromLatin1(result.out)); i.hasNext();) {
        const QRegularExpressionMatch line = i.next();
        QVERIFY2(!line.captured(3).isEmpty(), qPrintable(line.captured()));
        ++described;
    }
    QCOMPARE(described, 3 + options);
}

void tst_Programs::genOptionBounds_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("taken");

    const auto row = [](const char *option, const char *value, bool taken) {
        QTest::addRow("%s %s", option, value) << QString::fromLatin1(option) << QString::fromLatin1(value) << taken;
    };
    row("--count", "0", false);
    row("--count", "1", true);
    row("--count", "100000000", true);
    row("--count", "100000001", false);
    row("--seed", "-1", false);
    row("--seed", "0", true);
    row("--seed", "18446744073709551615", true);
    row("--seed", "18446744073709551616", false);
    row("--invalid", "-0.001", false);
    row("--invalid", "0", true);
    row("--invalid", "1", true);
    row("--invalid", "1.001", false);
}

void tst_Programs::genOptionBounds()
{
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(bool, taken);

    QStringList arguments{QStringLiteral("ipnd-gen"), option, value};
    if (option != QLatin1String("--count"))
        arguments << QStringLiteral("--count") << QStringLiteral("5");
    const ParsedGenArguments parsed = parseGenArguments(arguments);
    QCOMPARE(parsed.outcome == CommandLine::Outcome::Run, taken);
    if (!taken) {
        QCOMPARE(parsed.error.left(option.size() + value.size() + 4), option + QStringLiteral(": \"%1\"").arg(value));
        return;
    }
    const GenOptions &o = parsed.options;
    const QString kept = option == QLatin1String("--count") ? QString::number(o.count)
                         : option == QLatin1String("--seed") ? (o.seed ? QString::number(*o.seed) : QString())
                                                              : QString::number(o.invalid);
    QCOMPARE(kept, value);
}

void tst_Programs::commandLineProgramsLoadNoGuiLibrary_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("ipnd-send") << QStringLiteral(IPND_SEND);
    QTest::newRow("ipnd-receiver") << QStringLiteral(IPND_RECEIVER);
    QTest::newRow("ipnd-gen") << QStringLiteral(IPND_GEN);
    QTest::newRow("ipnd-conform") << QStringLiteral(IPND_CONFORM);
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
