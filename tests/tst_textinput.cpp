// Channel 1: sequential text input, one line at a time.

#include "platform/PlatformError.h"
#include "platform/TextInput.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

constexpr qsizetype Chunk = 64 * 1024;

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// Bytes that never form a line end: 0 to 255 without CR and LF, repeated.
QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; bytes.size() < size; ++i) {
        const char c = char(i % 256);
        if (c != '\r' && c != '\n')
            bytes.append(c);
    }
    return bytes;
}

// The failure number of readLine(), or 0 when it read something.
int readFailure(TextInput &input, QByteArray *line = nullptr)
{
    try {
        const QByteArray read = input.readLine();
        if (line)
            *line = read;
        return 0;
    } catch (const PlatformError &failure) {
        return failure.description.isEmpty() ? -1 : failure.number;
    }
}

} // namespace

class tst_TextInput : public QObject
{
    Q_OBJECT

private slots:
    void linesAndLineEnds_data();
    void linesAndLineEnds();
    void openFailures_data();
    void openFailures();
    void readingWhenNotOpenFails();
    void readingPastTheEndFails();
    void closeTwiceIsHarmless();
    void reopenStartsAtTheFirstLine();
};

void tst_TextInput::linesAndLineEnds_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<QByteArray>>("lines");

    using L = QList<QByteArray>;
    QTest::newRow("LF") << QByteArray("one\ntwo\n") << L{"one", "two"};
    QTest::newRow("CR") << QByteArray("one\rtwo\r") << L{"one", "two"};
    QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n") << L{"one", "two"};
    QTest::newRow("mixed") << QByteArray("a\rb\nc\r\nd\r\n") << L{"a", "b", "c", "d"};
    QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb\n") << L{"a", "", "b"};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb\n") << L{"a", "", "b"};
    QTest::newRow("last line without line end") << QByteArray("one\r\ntwo") << L{"one", "two"};
    QTest::newRow("single line without line end") << QByteArray("only") << L{"only"};
    QTest::newRow("empty file") << QByteArray() << L{};
    QTest::newRow("one line end") << QByteArray("\r\n") << L{""};
    QTest::newRow("empty lines LF") << QByteArray("\n\nx\n\n") << L{"", "", "x", ""};
    QTest::newRow("empty lines CR") << QByteArray("\r\r") << L{"", ""};
    QTest::newRow("empty lines CR LF") << QByteArray("\r\n\r\nx") << L{"", "", "x"};
    QTest::newRow("blanks and TABs kept") << QByteArray(" a\tb \r\n\t\r\n") << L{" a\tb ", "\t"};
    QTest::newRow("NUL kept") << QByteArray("a\0b\r\n\0\n", 7) << L{QByteArray("a\0b", 3), QByteArray(1, '\0')};

    QByteArray high;
    for (int c = 128; c < 256; ++c)
        high.append(char(c));
    QTest::newRow("bytes 128 to 255") << high + "\r\n" + high << L{high, high};
    const QByteArray all = patternBytes(254);
    QTest::newRow("every byte but CR and LF") << all + "\n" << L{all};

    // The first read takes 64 KiB: the line end sits on the seam.
    const QByteArray first = patternBytes(Chunk - 1); // the CR is byte 65536
    QTest::newRow("CR LF split over the read chunk") << first + "\r\nnext\r\n" << L{first, "next"};
    QTest::newRow("CR at the chunk end, then a line") << first + "\rnext" << L{first, "next"};
    QTest::newRow("CR at the chunk end, then CR") << first + "\r\rnext" << L{first, "", "next"};
    QTest::newRow("CR at the chunk end is the last byte") << first + "\r" << L{first};
    QTest::newRow("LF is the first byte of the next chunk") << patternBytes(Chunk) + "\nnext"
                                                            << L{patternBytes(Chunk), "next"};
    QTest::newRow("CR is the first byte of the next chunk") << patternBytes(Chunk) + "\r\nnext"
                                                            << L{patternBytes(Chunk), "next"};
    const QByteArray second = patternBytes(Chunk - 4);
    QTest::newRow("short line, then CR LF split at the chunk")
        << "abc\r" + second + "\r\nz" << L{"abc", second, "z"};

    const QByteArray longLine = patternBytes(3 * Chunk + 123);
    QTest::newRow("line over 64 KiB") << "head\r\n" + longLine + "\r\ntail\r\n" << L{"head", longLine, "tail"};
    QTest::newRow("line over 64 KiB without line end") << "head\n" + longLine << L{"head", longLine};
    QTest::newRow("line of exactly 64 KiB") << patternBytes(Chunk) << L{patternBytes(Chunk)};

    // Lines longer than 1 MiB are listed whole: they are expected to be
    // skipped whole and reported with their length.
    const QByteArray mebibyte = patternBytes(TextInput::DefaultMaxLineLength);
    QTest::newRow("1 MiB line on a chunk boundary, LF") << mebibyte + "\nnext\n" << L{mebibyte, "next"};
    QTest::newRow("1 MiB line on a chunk boundary, CR LF") << mebibyte + "\r\nnext" << L{mebibyte, "next"};
    QTest::newRow("1 MiB line after 64 KiB") << patternBytes(Chunk - 1) + "\n" + mebibyte + "\n"
                                             << L{patternBytes(Chunk - 1), mebibyte};
    QTest::newRow("1 MiB line, the last") << "a\n" + mebibyte << L{"a", mebibyte};
    const QByteArray over = mebibyte + "x";
    QTest::newRow("1 MiB + 1 is one line, too long") << "head\r\n" + over + "\r\ntail\r\n" << L{"head", over, "tail"};
    QTest::newRow("2 MiB + 4, no line end") << mebibyte + mebibyte + "tail" << L{mebibyte + mebibyte + "tail"};
    const QByteArray overToSeam = over + patternBytes(17 * Chunk - over.size() - 1); // the CR ends a chunk
    QTest::newRow("too long, CR LF split at a chunk") << overToSeam + "\r\nz" << L{overToSeam, "z"};
    QTest::newRow("too long lines back to back") << over + "\n" + over + "\r" + mebibyte << L{over, over, mebibyte};
}

void tst_TextInput::linesAndLineEnds()
{
    QFETCH(QByteArray, contents);
    QFETCH(QList<QByteArray>, lines);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    QVERIFY(writeFile(path, contents));

    TextInput input;
    input.open(path);
    QVERIFY(input.isOpen());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY2(!input.atEnd(), qPrintable(QStringLiteral("at the end before line %1").arg(i + 1)));
        QByteArray line;
        QCOMPARE(readFailure(input, &line), 0);
        const bool tooLong = lines.at(i).size() > TextInput::DefaultMaxLineLength;
        QCOMPARE(input.lineTooLong(), tooLong);
        QCOMPARE(input.tooLongLength(), tooLong ? lines.at(i).size() : 0);
        const QByteArray expected = tooLong ? QByteArray() : lines.at(i);
        QCOMPARE(line.size(), expected.size());
        QCOMPARE(line, expected);
    }
    QVERIFY(input.atEnd());
    QCOMPARE(readFailure(input), ErrorNumber::InputPastEndOfFile);
}

void tst_TextInput::openFailures_data()
{
    QTest::addColumn<QString>("name"); // relative to the temporary folder; "" stays empty

    QTest::newRow("missing file") << QStringLiteral("missing.dat");
    QTest::newRow("missing folder") << QStringLiteral("no-such-folder/ipnd.dat");
    QTest::newRow("a folder") << QStringLiteral("folder");
    QTest::newRow("empty name") << QString();
    QTest::newRow("a named pipe") << QStringLiteral("pipe");
    QTest::newRow("a device") << QStringLiteral("/dev/zero");
}

void tst_TextInput::openFailures()
{
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(::mkfifo(qPrintable(dir.filePath(QStringLiteral("pipe"))), 0600), 0);
    const QString path = name.isEmpty() ? QString() : name.startsWith(QLatin1Char('/')) ? name : dir.filePath(name);

    TextInput input;
    bool failed = false;
    try {
        input.open(path);
    } catch (const PlatformError &failure) {
        failed = true;
        QVERIFY2(!failure.description.isEmpty(), qPrintable(QString::number(failure.number)));
        QVERIFY2(failure.number != 0, qPrintable(failure.description));
    }
    QVERIFY(failed);
    QVERIFY(!input.isOpen());
    QVERIFY(input.atEnd());

    // The channel is still usable after the failure.
    const QString good = dir.filePath(QStringLiteral("good.dat"));
    QVERIFY(writeFile(good, "line 1\r\n"));
    input.open(good);
    QCOMPARE(input.readLine(), QByteArray("line 1"));
}

void tst_TextInput::readingWhenNotOpenFails()
{
    TextInput input;
    QVERIFY(!input.isOpen());
    QVERIFY(input.atEnd());
    const int failure = readFailure(input);
    QVERIFY2(failure > 0, qPrintable(QString::number(failure)));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    QVERIFY(writeFile(path, "a\r\nb\r\n"));
    input.open(path);
    QCOMPARE(input.readLine(), QByteArray("a"));
    input.close();
    QVERIFY(input.atEnd());
    QCOMPARE(readFailure(input), failure);
}

void tst_TextInput::readingPastTheEndFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    QVERIFY(writeFile(path, "last\r\n"));

    TextInput input;
    input.open(path);
    QCOMPARE(input.readLine(), QByteArray("last"));
    QCOMPARE(readFailure(input), ErrorNumber::InputPastEndOfFile);
    QCOMPARE(readFailure(input), ErrorNumber::InputPastEndOfFile);
    QVERIFY(input.isOpen());
}

void tst_TextInput::closeTwiceIsHarmless()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    QVERIFY(writeFile(path, "a\r\n"));

    TextInput input;
    input.close(); // never opened
    QVERIFY(!input.isOpen());
    input.open(path);
    input.close();
    input.close();
    QVERIFY(!input.isOpen());
    input.open(path);
    QVERIFY(input.isOpen());
    QCOMPARE(input.readLine(), QByteArray("a"));
}

void tst_TextInput::reopenStartsAtTheFirstLine()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.dat"));
    const QByteArray big = patternBytes(Chunk + 10);
    QVERIFY(writeFile(path, "line 1\r\n" + big + "\r\nline 3\r\n"));

    TextInput input;
    input.open(path);
    QCOMPARE(input.readLine(), QByteArray("line 1"));
    QCOMPARE(input.readLine(), big);
    input.close();
    input.open(path);
    QCOMPARE(input.readLine(), QByteArray("line 1"));
    input.close();

    // Another file after a partly read one: nothing of the first remains.
    const QString other = dir.filePath(QStringLiteral("other.dat"));
    QVERIFY(writeFile(other, "other 1\nother 2"));
    input.open(path);
    QCOMPARE(input.readLine(), QByteArray("line 1"));
    input.close();
    input.open(other);
    QCOMPARE(input.readLine(), QByteArray("other 1"));
    QCOMPARE(input.readLine(), QByteArray("other 2"));
    QVERIFY(input.atEnd());
}

QTEST_GUILESS_MAIN(tst_TextInput)
#include "tst_textinput.moc"
