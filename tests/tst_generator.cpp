// ipnd-gen: records valid and broken on purpose, as the receiver judges them,
// as the readers replay them, and through ipnd-send to ipnd-receiver.

#include "ReceiverProcess.h"
#include "ReplaySupport.h"
#include "ReportFiles.h"

#include "DataFile/Framing.h"
#include "DataFile/TCPIPNDserver.h"
#include "generator/Generator.h"
#include "platform/OutputFile.h"
#include "receiver/PacketCheck.h"
#include "testpackets/FieldTable.h"

#include <QBuffer>
#include <QDateTime>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <fstream>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Bound = 20000; // ms: the most any one process may take

GenOptions options(qint64 count, DataFormat format = DataFormat::RawLog, double invalid = 0.0,
                   const QList<GenKind> &kinds = {})
{
    GenOptions o;
    o.count = count;
    o.format = format;
    o.invalid = invalid;
    o.kinds = kinds.isEmpty() ? kindsFor(format) : kinds;
    return o;
}

QList<GenItem> items(const GenOptions &o, quint64 seed)
{
    Generator generator(o, seed);
    QList<GenItem> made;
    QByteArray lines;
    GenItem item;
    while (generator.next(lines, item))
        made.append(item);
    return made;
}

struct Output
{
    QByteArray data;
    QByteArray manifest;
};

Output run(const GenOptions &o, quint64 seed, bool withManifest = true)
{
    QBuffer data;
    QBuffer manifest;
    data.open(QIODevice::WriteOnly);
    manifest.open(QIODevice::WriteOnly);
    QString error;
    if (!generate(o, seed, data, withManifest ? &manifest : nullptr, {}, &error))
        qWarning("generate failed: %s", qPrintable(error));
    return {data.data(), manifest.data()};
}

const char *formatName(DataFormat format)
{
    return format == DataFormat::RawLog ? "rawlog" : "multipkt";
}

// What is wrong with one record's data-file lines, read from the bytes alone:
// the line kinds that show in them, then the receiver's verdict on the record
// they carry (named by `id`) when it is not valid.
QByteArrayList kindsSeen(DataFormat format, const QByteArray &lines, const QByteArray &id)
{
    QByteArrayList seen;
    QByteArray record;
    bool whole = true;
    if (format == DataFormat::RawLog) {
        // A stamp, TCPIN, the peer, the record: the reader looks for the end
        // of each log field within its first 100 bytes.
        const QByteArrayList fields = lines.chopped(1).split('\t');
        if (fields.size() != 4 || fields[1] != "TCPIN")
            return {"not a rawlog line"};
        if (!QDateTime::fromString(QString::fromLatin1(fields[0]), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
            seen.append("bad-timestamp");
        if (fields[2].size() >= 100)
            seen.append("bad-header");
        record = fields[3];
    } else {
        struct Part
        {
            QByteArray line;
            bool numeric;
            int terminal, total, number;
        };
        QList<Part> parts;
        QSet<int> terminals;
        int total = 0;
        for (const QByteArray &line : lines.chopped(1).split('\n')) {
            const QByteArray header = line.left(7);
            const bool numeric = QRegularExpression(QStringLiteral("^\\d{7}$")).match(QString::fromLatin1(header)).hasMatch();
            parts.append({line, numeric, header.left(3).toInt(), header.mid(3, 2).toInt(), header.mid(5, 2).toInt()});
            if (numeric) {
                terminals.insert(parts.last().terminal);
                total = parts.last().total;
            }
        }
        int duplicates = 0, outOfRange = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0 && parts[i].line == parts[i - 1].line) {
                ++duplicates;
                continue;
            }
            record += parts[i].line.mid(7);
            if (parts[i].numeric && (parts[i].number < 1 || parts[i].number > total || parts[i].total != total))
                ++outOfRange;
            else if (parts[i].numeric && parts[i].number != i + 1 - duplicates)
                whole = false;
        }
        if (std::any_of(parts.begin(), parts.end(), [](const Part &p) { return !p.numeric; }))
            seen.append("bad-header");
        if (outOfRange > 0)
            seen.append("part-out-of-range");
        if (duplicates > 0)
            seen.append("duplicate-part");
        if (parts.size() - duplicates < total) {
            seen.append("missing-part");
            whole = false;
        }
        if (terminals.size() > 1)
            seen.append("terminal-change");
    }
    if (whole) {
        const PacketCheck::Result result = PacketCheck::check(Framing::framePacket(record));
        if (result.recordId != id)
            seen.append("id " + result.recordId);
        else if (result.verdict() != "valid")
            seen.append(result.verdict());
    }
    return seen;
}

} // namespace

class tst_Generator : public QObject
{
    Q_OBJECT

private slots:
    // What the receiver makes of the records.
    void eachKindShowsInTheBytes_data();
    void eachKindShowsInTheBytes();
    void validRecordsPassEveryCheck();
    void exactShareIsBroken();
    // Same seed, same bytes.
    void sameSeedSameBytes_data();
    void sameSeedSameBytes();
    // What the readers make of the lines.
    void arrivesAgreesWithTheReaders_data();
    void arrivesAgreesWithTheReaders();
    void stitchedRecordDoesNotArrive();
    // The program.
    void badArguments_data();
    void badArguments();
    void helpVersionAndSeed();
    void outputThatIsNotAFile();
    void fullOutputSaysWhy_data();
    void fullOutputSaysWhy();
    void standardOutputAndNamesAsTyped_data();
    void standardOutputAndNamesAsTyped();
    void endToEnd_data();
    void endToEnd();
};

void tst_Generator::eachKindShowsInTheBytes_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("fits");
    for (const DataFormat format : {DataFormat::RawLog, DataFormat::MultiPacket}) {
        for (int kind = 0; kind <= int(GenKind::TerminalChange); ++kind) {
            const GenKind k = GenKind(kind);
            const bool fits = isRecordKind(k) || k == GenKind::BadHeader
                || (k == GenKind::BadTimestamp) == (format == DataFormat::RawLog);
            QTest::addRow("%s %s", formatName(format), kindName(k).constData()) << int(format) << kind << fits;
        }
    }
}

// Every kind, read back from the lines made for it: the one thing it names is
// wrong, and nothing else. A record broken in its content still arrives,
// named by its id.
void tst_Generator::eachKindShowsInTheBytes()
{
    QFETCH(int, format);
    QFETCH(int, kind);
    QFETCH(bool, fits);
    const GenKind k = GenKind(kind);
    const QString name = QString::fromLatin1(kindName(k));
    const auto parsed = [&](QStringList arguments) {
        return parseGenArguments(QStringList{"ipnd-gen", "--count=1", "--format", formatName(DataFormat(format))}
                                 + arguments);
    };
    QCOMPARE(parsed({}).options.kinds.contains(k), fits);
    QCOMPARE(parsed({"--invalid", "0.5", "--kinds", name}).outcome,
             fits ? CommandLine::Outcome::Run : CommandLine::Outcome::Error);
    if (!fits)
        return;

    Generator generator(options(300, DataFormat(format), 1.0, {k}), 7);
    ArrivalCheck check{DataFormat(format)};
    QByteArray lines;
    GenItem item;
    while (generator.next(lines, item)) {
        QCOMPARE(item.expect, kindName(k));
        QCOMPARE(item.record.left(8), item.id);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{8}$")).match(QString::fromLatin1(item.id)).hasMatch());
        QCOMPARE(kindsSeen(DataFormat(format), lines, item.id), QByteArrayList{kindName(k)});
        QCOMPARE(check.arrives(lines, item.record), isRecordKind(k));
        lines.clear();
    }
}

void tst_Generator::validRecordsPassEveryCheck()
{
    QSet<QByteArray> ids;
    int noAddress = 0, mobile = 0, fullWidth = 0, fullAddress = 0;
    const QList<GenItem> made = items(options(3000), 3);
    for (const GenItem &item : made) {
        QCOMPARE(item.expect, QByteArray("valid"));
        const QList<FieldTable::Finding> findings = FieldTable::checkRecord(item.record);
        QVERIFY2(findings.isEmpty(), (item.record + " : " + findings.value(0).text()).constData());
        ids.insert(item.id);
        const QList<QByteArray> fields = item.record.split('|');
        bool full = true;
        for (int n = 1; n <= FieldTable::FieldCount; ++n)
            full = full && fields[n - 1].size() == FieldTable::field(n).width;
        fullWidth += full;
        noAddress += fields[8] == "*Address Not Available*" && fields[33] == fields[8];
        if (fields[39] == "MOBIL") {
            // Only numbers set aside for fiction: a random number in the block
            // could be somebody's.
            static const QList<QByteArray> fiction = {"0491570006", "0491570110", "0491570156", "0491570157",
                                                      "0491570158", "0491570159", "0491570313", "0491570737"};
            QVERIFY2(fiction.contains(fields[4]), fields[4].constData());
            ++mobile;
        }
        fullAddress += !full && !fields[27].isEmpty() && !fields[36].isEmpty();
    }
    QCOMPARE(ids.size(), made.size());
    // Every shape, mixed.
    QCOMPARE_GT(noAddress, 300);
    QCOMPARE_GT(mobile, 300);
    QCOMPARE_GT(fullWidth, 100);
    QCOMPARE_GT(fullAddress, 900);
    QCOMPARE(noAddress + mobile + fullWidth + fullAddress, made.size());
}

void tst_Generator::exactShareIsBroken()
{
    const QList<GenKind> kinds = {GenKind::BadFlag, GenKind::TooWide, GenKind::MissingPart};
    const QList<QJsonObject> manifest =
        jsonLines(run(options(400, DataFormat::MultiPacket, 0.25, kinds), 5).manifest);
    QCOMPARE(manifest.size(), 400);
    int broken = 0;
    for (int i = 0; i < manifest.size(); ++i) {
        QCOMPARE(manifest[i].value(QStringLiteral("seq")).toInt(), i + 1);
        const QString expect = manifest[i].value(QStringLiteral("expect")).toString();
        if (expect == QLatin1String("valid"))
            continue;
        ++broken;
        QVERIFY2(kinds.contains(*kindFromName(expect.toLatin1())), qPrintable(expect));
    }
    QCOMPARE(broken, 100);
}

void tst_Generator::sameSeedSameBytes_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("rawlog") << int(DataFormat::RawLog);
    QTest::newRow("multipkt") << int(DataFormat::MultiPacket);
}

void tst_Generator::sameSeedSameBytes()
{
    QFETCH(int, format);
    const GenOptions o = options(500, DataFormat(format), 0.3);

    const Output first = run(o, 42);
    QVERIFY(!first.data.isEmpty());
    QCOMPARE(run(o, 42).data, first.data);
    QCOMPARE(run(o, 42).manifest, first.manifest);
    // Asking for a manifest changes nothing in the data.
    QCOMPARE(run(o, 42, false).data, first.data);
    QVERIFY(run(o, 43).data != first.data);
    // The generator is plain integer arithmetic: these values (checked
    // against a separate implementation of the same algorithm) hold everywhere.
    Prng prng(42);
    QCOMPARE(prng.next(), Q_UINT64_C(1546998764402558742));
    QCOMPARE(prng.next(), Q_UINT64_C(6990951692964543102));
}

void tst_Generator::arrivesAgreesWithTheReaders_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("kinds");
    const QList<std::pair<DataFormat, const char *>> rows = {
        {DataFormat::RawLog, "bad-timestamp"},       {DataFormat::RawLog, "bad-header"},
        {DataFormat::MultiPacket, "bad-header"},     {DataFormat::MultiPacket, "part-out-of-range"},
        {DataFormat::MultiPacket, "duplicate-part"}, {DataFormat::MultiPacket, "missing-part"},
        {DataFormat::MultiPacket, "terminal-change"}};
    for (const auto &[format, kind] : rows)
        QTest::addRow("%s %s", format == DataFormat::RawLog ? "rawlog" : "multipkt", kind) << int(format) << QByteArray(kind);
}

// The manifest says which records a replay hands on; a replay through the
// readers, from a file, as the window and ipnd-send read it, agrees.
void tst_Generator::arrivesAgreesWithTheReaders()
{
    QFETCH(int, format);
    QFETCH(QByteArray, kinds);
    const GenKind kind = *kindFromName(kinds);
    const GenOptions o = options(200, DataFormat(format), 0.3, {kind});

    const Output out = run(o, 9);
    const QList<QJsonObject> manifest = jsonLines(out.manifest);
    const QList<GenItem> made = items(o, 9);
    QCOMPARE(manifest.size(), made.size());
    QList<QByteArray> expected;
    int lostValid = 0;
    for (int i = 0; i < made.size(); ++i) {
        const bool arrives = manifest[i].value(QStringLiteral("arrives")).toBool();
        QCOMPARE(manifest[i].value(QStringLiteral("id")).toString().toLatin1(), made[i].id);
        if (made[i].expect == kinds)
            QVERIFY2(!arrives, "a record broken in its line arrives");
        else if (!arrives)
            ++lostValid;
        if (arrives)
            expected.append(Framing::framePacket(made[i].record));
    }

    Replay replay;
    QVERIFY(replay.open(out.data));
    while (!replay.data.takeEndOfData())
        replay.data.ReadAndSendPeriod(DataFormat(format), [] { return true; });
    QCOMPARE(replay.host.packets, expected);
    // A broken MULTIPKT line can cost the next record too; the manifest shows it.
    if (kind == GenKind::MissingPart)
        QCOMPARE_GT(lostValid, 0);
}

// A record the reader puts together from parts of two records is not the one
// the manifest line is about, however much of it is.
void tst_Generator::stitchedRecordDoesNotArrive()
{
    const QByteArray record = items(options(1), 4).first().record;
    const QByteArray other = record.chopped(1) + (record.endsWith('x') ? 'y' : 'x');
    const qsizetype cut = record.size() / 2;
    ArrivalCheck check(DataFormat::MultiPacket);
    QVERIFY(!check.arrives("0050201" + record.left(cut) + "\n0050202" + other.mid(cut) + '\n', record));
    QCOMPARE(check.mixed(), 1);
    QVERIFY(check.arrives("0060201" + record.left(cut) + "\n0060202" + record.mid(cut) + '\n', record));
    QCOMPARE(check.mixed(), 1);
}

void tst_Generator::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("error");

    QTest::newRow("no count") << QStringList{} << QByteArray("--count is required");
    QTest::newRow("count 0") << QStringList{"--count", "0"}
                             << QByteArray("--count: \"0\" is not a number of records (1 to 100000000)");
    QTest::newRow("count too big") << QStringList{"--count=100000001"}
                                   << QByteArray("--count: \"100000001\" is not a number of records (1 to 100000000)");
    QTest::newRow("count not a number") << QStringList{"--count", "ten"}
                                        << QByteArray("--count: \"ten\" is not a number of records (1 to 100000000)");
    QTest::newRow("count without value") << QStringList{"--count"} << QByteArray("--count needs a value");
    QTest::newRow("negative seed") << QStringList{"--count", "1", "--seed", "-1"}
                                   << QByteArray("--seed: \"-1\" is not a seed (0 to 18446744073709551615)");
    // Blanks around a number are refused alike in every option.
    QTest::newRow("seed with a blank after it")
        << QStringList{"--count", "1", "--seed", "5 "}
        << QByteArray("--seed: \"5 \" is not a seed (0 to 18446744073709551615)");
    QTest::newRow("fraction with a blank before it")
        << QStringList{"--count", "1", "--invalid", " 0.5"}
        << QByteArray("--invalid: \" 0.5\" is not a fraction from 0 to 1");
    QTest::newRow("unknown format") << QStringList{"--count", "1", "--format", "csv"}
                                    << QByteArray("--format: \"csv\" is not rawlog or multipkt");
    QTest::newRow("fraction above 1") << QStringList{"--count", "1", "--invalid", "1.5"}
                                      << QByteArray("--invalid: \"1.5\" is not a fraction from 0 to 1");
    QTest::newRow("fraction not a number") << QStringList{"--count", "1", "--invalid", "nan"}
                                           << QByteArray("--invalid: \"nan\" is not a fraction from 0 to 1");
    QTest::newRow("kinds without a share") << QStringList{"--count", "1", "--kinds", "bad-flag"}
                                           << QByteArray("--kinds needs --invalid FRACTION, the share of records to break");
    QTest::newRow("unknown kind") << QStringList{"--count", "1", "--kinds", "too-wide,too-long"}
                                  << QByteArray("--kinds: \"too-long\" is not a kind (see --help)");
    QTest::newRow("kind of the other format")
        << QStringList{"--count", "1", "--format", "multipkt", "--kinds", "bad-timestamp"}
        << QByteArray("--kinds: \"bad-timestamp\" does not fit --format multipkt");
    QTest::newRow("manifest and data in one file")
        << QStringList{"--count", "1", "--output", "same.dat", "--manifest", "./same.dat"}
        << QByteArray("--manifest: \"./same.dat\" is the data file too");
    QTest::newRow("manifest and data on standard output")
        << QStringList{"--count", "1", "--output", "-", "--manifest", "-"}
        << QByteArray("--manifest: \"-\" is the data file too");
    QTest::newRow("manifest on standard output, where the data goes")
        << QStringList{"--count", "1", "--manifest", "-"} << QByteArray("--manifest: \"-\" is the data file too");
    QTest::newRow("unknown option") << QStringList{"--count", "1", "--colour"}
                                    << QByteArray("unknown option --colour");
    QTest::newRow("stray argument") << QStringList{"--count", "1", "extra"}
                                    << QByteArray("unexpected argument \"extra\"");
}

void tst_Generator::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, error);

    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), arguments);
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.exitCode(), 2);
    QCOMPARE(gen.readAllStandardError(), "ipnd-gen: " + error + '\n');
    QCOMPARE(gen.readAllStandardOutput(), QByteArray());
}

void tst_Generator::helpVersionAndSeed()
{
    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), {QStringLiteral("--help")});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.exitCode(), 0);
    const QByteArray help = gen.readAllStandardOutput();
    for (const char *option : {"--count <N>  ", "--seed <S>  ", "--format <rawlog|multipkt>  ",
                               "--invalid <FRACTION>  ", "--kinds <K,...>  ", "--manifest <FILE>  ",
                               "--output <FILE>  ", "--version  ", "--help  "})
        QVERIFY2(help.contains(option), option);

    gen.start(QStringLiteral(IPND_GEN), {QStringLiteral("--version")});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.readAllStandardOutput(), QByteArray("ipnd-gen 1.10.23\n"));

    // Without --seed the seed is shown, and repeats the run.
    gen.start(QStringLiteral(IPND_GEN), {QStringLiteral("--count=20"), QStringLiteral("--format=multipkt")});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.exitCode(), 0);
    const QByteArray first = gen.readAllStandardOutput();
    const QRegularExpressionMatch seed =
        QRegularExpression(QStringLiteral("^ipnd-gen: seed (\\d+)\n$")).match(QString::fromLatin1(gen.readAllStandardError()));
    QVERIFY(seed.hasMatch());
    gen.start(QStringLiteral(IPND_GEN), {QStringLiteral("--count=20"), QStringLiteral("--format=multipkt"),
                                         QStringLiteral("--seed=") + seed.captured(1)});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.readAllStandardOutput(), first);
    QCOMPARE(gen.readAllStandardError(), QByteArray());
}

// A pipe (or a device) named as the output is written into, not replaced by
// a new regular file.
void tst_Generator::outputThatIsNotAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    // Opened without waiting for a writer, so that nothing hangs if none comes.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);

    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), {"--count", "3", "--seed", "1", "--output", QString::fromLocal8Bit(fifo)});
    QVERIFY(gen.waitForFinished(Bound));
    QByteArray received;
    char buffer[4096];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
        received.append(buffer, n);
    ::close(reader);
    QCOMPARE(gen.exitCode(), 0);
    QCOMPARE(received, run(options(3), 1, false).data);
    struct stat info{};
    QCOMPARE(::stat(fifo.constData(), &info), 0);
    QVERIFY(S_ISFIFO(info.st_mode));
}

void tst_Generator::fullOutputSaysWhy_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("room"); // bytes a file may grow to; 0: the device /dev/full
    QTest::addColumn<int>("reason");

    QTest::newRow("full device") << qint64(3) << qint64(0) << ENOSPC;
    // The system takes part of a write, then refuses the rest.
    QTest::newRow("room ends in a large write") << qint64(2000) << qint64(100000) << EFBIG;
    QTest::newRow("room ends in the last flush") << qint64(20) << qint64(3000) << EFBIG;
}

// Output that runs out of room fails with the system's reason, as ipnd-gen
// writes it: generate(), then the file made whole.
void tst_Generator::fullOutputSaysWhy()
{
    QFETCH(qint64, count);
    QFETCH(qint64, room);
    QFETCH(int, reason);
    if (room == 0 && !QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray name = room == 0 ? QByteArray("/dev/full") : QFile::encodeName(dir.filePath(QStringLiteral("out.dat")));

    // A file size limit stands in for a disk that fills up; its signal is
    // ignored so that the write fails instead.
    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto restoreLimit = [&] {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
    };
    const auto restore = qScopeGuard(restoreLimit);
    if (room > 0) {
        const rlimit limited{rlim_t(room), before.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    const std::unique_ptr<QFileDevice> file = openOutput(name, {OutputWay::File::Replaced, OutputWay::Other::InPlace});
    QVERIFY(file->isOpen());
    QString error;
    const bool written = generate(options(count), 1, *file, nullptr, {}, &error) && commitWhole(*file);
    restoreLimit();
    if (error.isEmpty())
        error = file->errorString();

    QVERIFY(!written);
    QVERIFY2(error.endsWith(QString::fromLocal8Bit(std::strerror(reason))), qPrintable(error));
}

void tst_Generator::standardOutputAndNamesAsTyped_data()
{
    QTest::addColumn<bool>("manifestToFile");
    QTest::newRow("manifest -, data to a file") << false;
    QTest::newRow("data -, manifest to a file") << true;
}

// "-" is standard output, and a name that is not UTF-8 is made as typed.
void tst_Generator::standardOutputAndNamesAsTyped()
{
    QFETCH(bool, manifestToFile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess gen;
    gen.setWorkingDirectory(dir.path());
    // Through the shell: arguments given from here would be made UTF-8.
    gen.start(QStringLiteral("/bin/sh"),
              {"-c", QStringLiteral("exec \"$0\" --count 3 --seed 1 --%1 - --%2 \"$(printf 'x\\377')\"")
                         .arg(manifestToFile ? "output" : "manifest", manifestToFile ? "manifest" : "output"),
               QStringLiteral(IPND_GEN)});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.readAllStandardError(), QByteArray());
    QCOMPARE(gen.exitCode(), 0);
    const Output expected = run(options(3), 1);
    std::ifstream file(QFile::encodeName(dir.path()).toStdString() + "/x\xff", std::ios::binary);
    const QByteArray written = QByteArray::fromStdString({std::istreambuf_iterator<char>(file), {}});
    QCOMPARE(gen.readAllStandardOutput(), manifestToFile ? expected.data : expected.manifest);
    QCOMPARE(written, manifestToFile ? expected.manifest : expected.data);
}

void tst_Generator::endToEnd_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("rawlog") << QStringLiteral("rawlog");
    QTest::newRow("multipkt") << QStringLiteral("multipkt");
}

// The self-check: ipnd-gen, then ipnd-send, then ipnd-receiver agree record
// for record with the manifest.
void tst_Generator::endToEnd()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("test.dat"));
    const QString manifest = dir.filePath(QStringLiteral("manifest.jsonl"));
    const QString verdicts = dir.filePath(QStringLiteral("verdicts.jsonl"));

    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), {"--count", "150", "--seed", "2026", "--invalid", "0.4", "--format", format,
                                          "--manifest", manifest, "--output", data});
    QVERIFY(gen.waitForFinished(Bound));
    QCOMPARE(gen.exitCode(), 0);

    QProcess receiver;
    const quint16 port = startReceiver(receiver, {"--quiet", "--verdicts", verdicts}, Bound);
    QVERIFY(port != 0);

    QProcess send;
    send.start(QStringLiteral(IPND_SEND), {"--host", "127.0.0.1", "--port", QString::number(port), "--replay", data,
                                           "--format", format, "--period", "0", "--quiet"});
    QVERIFY(send.waitForFinished(Bound));
    QCOMPARE(send.exitCode(), 0);
    ::kill(pid_t(receiver.processId()), SIGTERM);
    QVERIFY(receiver.waitForFinished(Bound));

    QFile verdictFile(verdicts);
    QFile manifestFile(manifest);
    QVERIFY(verdictFile.open(QIODevice::ReadOnly) && manifestFile.open(QIODevice::ReadOnly));
    QList<QJsonObject> arrived;
    int broken = 0;
    for (const QJsonObject &entry : jsonLines(manifestFile.readAll())) {
        broken += entry.value(QStringLiteral("expect")).toString() != QLatin1String("valid");
        if (entry.value(QStringLiteral("arrives")).toBool())
            arrived.append(entry);
    }
    QCOMPARE_GT(broken, 40);
    const QList<QJsonObject> judged = jsonLines(verdictFile.readAll());
    QCOMPARE(judged.size(), arrived.size());
    for (int i = 0; i < judged.size(); ++i) {
        QCOMPARE(judged[i].value(QStringLiteral("id")), arrived[i].value(QStringLiteral("id")));
        QCOMPARE(judged[i].value(QStringLiteral("framed")).toBool(), true);
        // A record broken in its line arrives, if at all, whole and valid.
        const QString expect = arrived[i].value(QStringLiteral("expect")).toString();
        const bool recordKind = expect == QLatin1String("valid") || isRecordKind(*kindFromName(expect.toLatin1()));
        QCOMPARE(judged[i].value(QStringLiteral("verdict")).toString(), recordKind ? expect : QStringLiteral("valid"));
    }
}

QTEST_GUILESS_MAIN(tst_Generator)
#include "tst_generator.moc"
