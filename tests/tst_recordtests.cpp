// The date test, the number test and whole header fields.

#include "DataFile/RecordTests.h"

#include <QByteArray>
#include <QtTest>

#include <optional>

class tst_RecordTests : public QObject
{
    Q_OBJECT

private slots:
    void dateText_data();
    void dateText();
    void numberText_data();
    void numberText();
    void wholeNumbers_data();
    void wholeNumbers();
};

void tst_RecordTests::dateText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("passes");

    // Year first, with and without a time.
    QTest::newRow("log timestamp") << QByteArray("2007-11-14 13:38:24") << true;
    QTest::newRow("slashes") << QByteArray("2007/11/14 13:38:24") << true;
    QTest::newRow("T between") << QByteArray("2007-11-14T13:38:24") << true;
    QTest::newRow("two blanks between") << QByteArray("2007-11-14  13:38:24") << true;
    QTest::newRow("date only") << QByteArray("2007-11-14") << true;
    QTest::newRow("one-digit month and day") << QByteArray("2007-1-4") << true;
    QTest::newRow("one-digit hour") << QByteArray("2007-11-14 9:38:24") << true;
    QTest::newRow("no seconds") << QByteArray("2007-11-14 13:38") << true;
    QTest::newRow("PM") << QByteArray("2007-11-14 1:38:24 PM") << true;
    QTest::newRow("AM") << QByteArray("2007/11/14 11:38 AM") << true;
    QTest::newRow("12 AM") << QByteArray("2007-11-14 12:00 AM") << true;
    QTest::newRow("midnight") << QByteArray("2007-11-14 00:00:00") << true;
    QTest::newRow("last second of the day") << QByteArray("2007-11-14 23:59:59") << true;
    QTest::newRow("leap day") << QByteArray("2008-02-29") << true;
    QTest::newRow("dots, with a time") << QByteArray("2007.11.14 13:38:24") << true;
    QTest::newRow("leap day, with a time") << QByteArray("2008-02-29 13:38:24") << true;
    QTest::newRow("two separators, with a time") << QByteArray("2007-11/14 13:38:24") << false;
    QTest::newRow("29 February 1900, with a time") << QByteArray("1900-02-29 13:38:24") << false;

    // Day first, month first only when day first is impossible.
    QTest::newRow("d/M/yyyy") << QByteArray("14/11/2007") << true;
    QTest::newRow("d/M/yyyy one digit") << QByteArray("1/2/2007") << true;
    QTest::newRow("M/d/yyyy fallback") << QByteArray("11/14/2007") << true;
    QTest::newRow("02/13/2007 fallback") << QByteArray("02/13/2007") << true;
    QTest::newRow("neither order") << QByteArray("14/13/2007") << false;
    QTest::newRow("31 April either order") << QByteArray("31/04/2007") << false;
    QTest::newRow("April 31 either order") << QByteArray("04/31/2007") << false;

    // A time alone.
    QTest::newRow("time") << QByteArray("13:38:24") << true;
    QTest::newRow("time without seconds") << QByteArray("13:38") << true;
    QTest::newRow("time PM") << QByteArray("1:38:24 PM") << true;
    QTest::newRow("time 12 PM") << QByteArray("12:30 PM") << true;

    // Impossible dates and times.
    QTest::newRow("month 13") << QByteArray("2007-13-14 13:38:24") << false;
    QTest::newRow("month 0") << QByteArray("2007-00-14") << false;
    QTest::newRow("day 0") << QByteArray("2007-11-00") << false;
    QTest::newRow("30 February") << QByteArray("2007-02-30") << false;
    QTest::newRow("29 February, no leap year") << QByteArray("2007-02-29") << false;
    QTest::newRow("hour 24") << QByteArray("2007-11-14 24:00:00") << false;
    QTest::newRow("minute 60") << QByteArray("2007-11-14 13:60:00") << false;
    QTest::newRow("second 60") << QByteArray("2007-11-14 13:38:60") << false;
    QTest::newRow("13 PM") << QByteArray("13:38 PM") << false;
    QTest::newRow("time hour 25") << QByteArray("25:00") << false;

    // Anything else.
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blank") << QByteArray(" ") << false;
    QTest::newRow("1234") << QByteArray("1234") << false;
    QTest::newRow("890302") << QByteArray("890302") << false;
    QTest::newRow("08|903") << QByteArray("08|903") << false;
    QTest::newRow("letters") << QByteArray("abc") << false;
    QTest::newRow("month name") << QByteArray("14 Nov 2007") << false;
    QTest::newRow("two-digit year") << QByteArray("14/11/07") << false;
    QTest::newRow("one-digit minute") << QByteArray("13:8") << false;
    QTest::newRow("three-digit hour") << QByteArray("113:38") << false;
    QTest::newRow("letter between") << QByteArray("2007-11-14X13:38:24") << false;
    QTest::newRow("TAB between date and time") << QByteArray("2007-11-14\t13:38:24") << false;
    QTest::newRow("text after the time") << QByteArray("2007-11-14 13:38:24x") << false;
    QTest::newRow("dots") << QByteArray("2007.11.14") << true;
    QTest::newRow("day-first dots") << QByteArray("14.11.2007") << true;
    QTest::newRow("day-first dashes") << QByteArray("14-11-2007") << true;
    QTest::newRow("mixed separators") << QByteArray("2007-11/14") << false;
    QTest::newRow("day-first mixed separators") << QByteArray("14/11-2007") << false;

    // Characters 1 to 19 of lines found in data files.
    QTest::newRow("prefix: RAWLOG line") << QByteArray("2007-11-14 13:38:24\tRX\t1\t08903043|").left(19) << true;
    QTest::newRow("prefix: milliseconds")
        << QByteArray("2007-11-14 13:38:24.531\tRX\t1\t08903043|").left(19) << true;
    QTest::newRow("prefix: day-first timestamp")
        << QByteArray("14/11/2007 13:38:24\tRX\t1\t08903043|").left(19) << true;
    QTest::newRow("prefix: record without a log part")
        << QByteArray("08903043|890302|2007-11-14|13:38:24|0355500101|").left(19) << false;
    QTest::newRow("prefix: record without a log part 2")
        << QByteArray("00101573|10306|2007-11-14|13:41:06|").left(19) << false;
    QTest::newRow("prefix: MULTIPKT line") << QByteArray("042020108903043|890302|2007").left(19) << false;
    QTest::newRow("prefix: month name") << QByteArray("Nov 14 2007 13:38:24\tRX\t").left(19) << false;
    QTest::newRow("prefix: empty line") << QByteArray().left(19) << false;
}

void tst_RecordTests::dateText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, passes);
    QCOMPARE(isDateText(text), passes);
}

void tst_RecordTests::numberText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("passes");

    QTest::newRow("1234") << QByteArray("1234") << true;
    QTest::newRow("890302") << QByteArray("890302") << true;
    QTest::newRow("903043") << QByteArray("903043") << true;
    QTest::newRow("seven digits") << QByteArray("0420201") << true;
    QTest::newRow("zeros") << QByteArray("000000") << true;
    QTest::newRow("one digit") << QByteArray("3") << true;
    QTest::newRow("blanks around") << QByteArray(" 42 ") << true;
    QTest::newRow("blanks before") << QByteArray("   7") << true;
    QTest::newRow("blanks after") << QByteArray("7   ") << true;
    QTest::newRow("plus") << QByteArray("+5") << true;
    QTest::newRow("minus") << QByteArray("-5") << true;
    QTest::newRow("blank, sign, digits") << QByteArray(" -12") << true;
    QTest::newRow("fraction") << QByteArray("1.5") << true;
    QTest::newRow(".5") << QByteArray(".5") << true;
    QTest::newRow("5.") << QByteArray("5.") << true;
    QTest::newRow("signed fraction in blanks") << QByteArray("  -0.25  ") << true;

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blank") << QByteArray(" ") << false;
    QTest::newRow("|") << QByteArray("|") << false;
    QTest::newRow("08|903") << QByteArray("08|903") << false;
    QTest::newRow("digits then |") << QByteArray("903043|") << false;
    QTest::newRow("12ab") << QByteArray("12ab") << false;
    QTest::newRow("letters") << QByteArray("ab") << false;
    QTest::newRow("inner blank") << QByteArray("1 2") << false;
    QTest::newRow("blank after sign") << QByteArray("- 5") << false;
    QTest::newRow("sign alone") << QByteArray("-") << false;
    QTest::newRow("point alone") << QByteArray(".") << false;
    QTest::newRow("sign and point") << QByteArray("-.") << false;
    QTest::newRow("two signs") << QByteArray("+-1") << false;
    QTest::newRow("sign after") << QByteArray("5-") << false;
    QTest::newRow("sign inside") << QByteArray("04202-1") << false;
    QTest::newRow("two points") << QByteArray("1.2.3") << false;
    QTest::newRow("comma") << QByteArray("1,5") << false;
    QTest::newRow("exponent") << QByteArray("1e5") << false;
    QTest::newRow("hex") << QByteArray("0x1F") << false;
    QTest::newRow("TAB before") << QByteArray("\t42") << false;
    QTest::newRow("NUL") << QByteArray("4\0" "2", 3) << false;
    QTest::newRow("date") << QByteArray("07-11-") << false;
}

void tst_RecordTests::numberText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, passes);
    QCOMPARE(isNumberText(text), passes);
}

void tst_RecordTests::wholeNumbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<int>("value");

    QTest::newRow("042") << QByteArray("042") << true << 42;
    QTest::newRow("999") << QByteArray("999") << true << 999;
    QTest::newRow("00") << QByteArray("00") << true << 0;
    QTest::newRow("blank before") << QByteArray(" 2") << true << 2;
    QTest::newRow("blank after") << QByteArray("2 ") << true << 2;
    QTest::newRow("minus") << QByteArray("-42") << true << -42;
    QTest::newRow("plus") << QByteArray("+3") << true << 3;
    QTest::newRow("empty") << QByteArray() << false << 0;
    QTest::newRow("blanks") << QByteArray("  ") << false << 0;
    QTest::newRow("0.") << QByteArray("0.") << false << 0;
    QTest::newRow(".5") << QByteArray(".5") << false << 0;
    QTest::newRow("1.0") << QByteArray("1.0") << false << 0;
    QTest::newRow("letter") << QByteArray("a1") << false << 0;
    QTest::newRow("inner blank") << QByteArray("1 2") << false << 0;
    QTest::newRow("|") << QByteArray("0|") << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
}

void tst_RecordTests::wholeNumbers()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, hasValue);
    QFETCH(int, value);
    const std::optional<int> number = wholeNumber(text);
    QCOMPARE(number.has_value(), hasValue);
    if (hasValue)
        QCOMPARE(*number, value);
}

QTEST_GUILESS_MAIN(tst_RecordTests)
#include "tst_recordtests.moc"
