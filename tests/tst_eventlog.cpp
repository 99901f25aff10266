#include "TestSupport.h"

#include <QPlainTextEdit>

class tst_EventLog : public QObject
{
    Q_OBJECT

private slots:
    void firstLineThenNinetyNineEmptySlots();
    void hundredFirstLineDropsTheOldest();
    void lineIsTimeBlankAndSourceVerbatim_data();
    void lineIsTimeBlankAndSourceVerbatim();
    void windowStampsWithTheClockAndShowsNewestFirst();
    void typedTextInTheBoxIsReplaced();
    void highBytesShowAsLatin1();
    void timeAndTextOutsideLatin1AreKept();
};

void tst_EventLog::firstLineThenNinetyNineEmptySlots()
{
    EventLog log;
    log.insert(QStringLiteral("13:05:09"), QStringLiteral("first"));
    QCOMPARE(log.slot(100), QStringLiteral("13:05:09 first"));
    for (int i = 1; i < 100; ++i)
        QCOMPARE(log.slot(i), QString());
    QCOMPARE(log.render(), QStringLiteral("13:05:09 first\r\n") + QStringLiteral("\r\n").repeated(99));
}

void tst_EventLog::hundredFirstLineDropsTheOldest()
{
    EventLog log;
    for (int i = 1; i <= 101; ++i)
        log.insert(QStringLiteral("t"), QString::number(i));
    QCOMPARE(log.slot(100), QStringLiteral("t 101"));
    QCOMPARE(log.slot(1), QStringLiteral("t 2"));
    QString expected;
    for (int i = 101; i >= 2; --i)
        expected += QStringLiteral("t %1\r\n").arg(i);
    QCOMPARE(log.render(), expected);
    QCOMPARE(log.render().count(QStringLiteral("\r\n")), 100);
}

void tst_EventLog::lineIsTimeBlankAndSourceVerbatim_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("crlfPairs");
    QTest::newRow("empty") << QByteArray() << 100;
    QTest::newRow("blanks kept") << QByteArray("  padded  ") << 100;
    QTest::newRow("crlf inside") << QByteArray("one\r\ntwo") << 101;
    QTest::newRow("tab and nul") << QByteArray("a\tb\0c", 5) << 100;
    QTest::newRow("713 characters") << QByteArray(713, 'Z') << 100;
}

void tst_EventLog::lineIsTimeBlankAndSourceVerbatim()
{
    QFETCH(QByteArray, source);
    QFETCH(int, crlfPairs);
    EventLog log;
    log.insert(QStringLiteral("1:05:09 PM"), QString::fromLatin1(source));
    QCOMPARE(log.slot(100), "1:05:09 PM " + QString::fromLatin1(source));
    QCOMPARE(log.slot(100).toLatin1(), "1:05:09 PM " + source);
    QCOMPARE(log.render().count(QStringLiteral("\r\n")), crlfPairs);
    QVERIFY(log.render().startsWith("1:05:09 PM " + QString::fromLatin1(source) + "\r\n"));
}

void tst_EventLog::windowStampsWithTheClockAndShowsNewestFirst()
{
    FixedClock clock;
    WindowSettings settings;
    settings.clock = &clock;
    frmIPNDTCPServer window(settings);
    const QString firstStamp = timeOfDayText(clock.now().time());
    window.InsertLog("older");
    clock.set(clock.now().addSecs(3600 + 61));
    const QString secondStamp = timeOfDayText(clock.now().time());
    QVERIFY(firstStamp != secondStamp);
    window.InsertLog("newer");

    QCOMPARE(window.eventLog().slot(100), secondStamp + " newer");
    QCOMPARE(window.eventLog().slot(99), firstStamp + " older");
    QTRY_COMPARE(window.txbLog->toPlainText(),
                 secondStamp + " newer\n" + firstStamp + " older\n" + QString(98, QLatin1Char('\n')));
}

void tst_EventLog::typedTextInTheBoxIsReplaced()
{
    FixedClock clock;
    WindowSettings settings;
    settings.clock = &clock;
    frmIPNDTCPServer window(settings);
    window.txbLog->setPlainText(QStringLiteral("typed by the operator"));
    window.InsertLog("line");
    QTRY_VERIFY(window.txbLog->toPlainText().startsWith(timeOfDayText(clock.now().time()) + " line\n"));
    QVERIFY(!window.txbLog->toPlainText().contains(QStringLiteral("typed")));
}

void tst_EventLog::highBytesShowAsLatin1()
{
    FixedClock clock;
    WindowSettings settings;
    settings.clock = &clock;
    frmIPNDTCPServer window(settings);
    window.InsertLog("caf\xe9 \xff");
    QTRY_VERIFY(window.txbLog->toPlainText().contains(QString::fromUtf8("caf\u00e9 \u00ff")));
    QCOMPARE(window.eventLog().slot(100).right(6).toLatin1(), QByteArray("caf\xe9 \xff"));
}

void tst_EventLog::timeAndTextOutsideLatin1AreKept()
{
    // A regional time in another script, and a path typed in one.
    const QString arabicTime = QString::fromUtf8("\u0661:\u0660\u0665:\u0660\u0669 \u0645");
    EventLog log;
    log.insert(arabicTime, QStringLiteral("Event: Connected"));
    QCOMPARE(log.slot(100), arabicTime + QStringLiteral(" Event: Connected"));

    FixedClock clock;
    WindowSettings settings;
    settings.clock = &clock;
    frmIPNDTCPServer window(settings);
    const QString path = QString::fromUtf8("/\u0434\u0430\u043d\u043d\u044b\u0435/ipnd.dat");
    window.InsertLogText(QStringLiteral("Unable to open log file, windows reports: File not found: ") + path);
    QVERIFY(window.eventLog().slot(100).endsWith(path));
    QTRY_VERIFY(window.txbLog->toPlainText().contains(path));
}

QTEST_MAIN(tst_EventLog)
#include "tst_eventlog.moc"
