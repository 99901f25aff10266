#include "generator/Generator.h"

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "DataFile/Framing.h"
#include "platform/CommandLine.h"
#include "platform/JsonText.h"
#include "platform/OutputFile.h"
#include "platform/SameFile.h"

#include <QIODevice>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Where a RAWLOG line's record begins: a time stamp and two more log fields,
// each ended by a TAB.
constexpr char LogFields[] = "\tTCPIN\t127.0.0.1:50003\t";
// Stamps that fail the reader's date test.
constexpr const char *BadStamps[] = {"2026-13-05 08:00:00", "2026-02-30 08:00:00", "2026-01-05 25:00:00",
                                     "day 5, 08:00 hours "};
constexpr int HeaderDigits = 7;
constexpr int MostParts = 10;

// --kinds K,...: each a kind that fits the format, which is read before it.
OptionReader readKinds(GenOptions *o)
{
    return [o](const OptionValue &value) {
        o->kinds.clear();
        for (const QString &name : value.text.split(QLatin1Char(','))) {
            const std::optional<GenKind> kind = kindFromName(name.trimmed().toLatin1());
            if (!kind)
                return value.error(QStringLiteral("%1 is not a kind (see --help)").arg(CommandLine::quoted(name)));
            if (!fitsFormat(*kind, o->format))
                return value.error(QStringLiteral("%1 does not fit --format %2")
                                       .arg(CommandLine::quoted(name), dataFormatOption(o->format)));
            if (!o->kinds.contains(*kind))
                o->kinds.append(*kind);
        }
        return QString();
    };
}

// A file name as typed; "-" is standard output.
OptionReader readOutput(QByteArray *into)
{
    return [into](const OptionValue &value) {
        *into = value.bytes();
        return into->isEmpty() ? value.error(QStringLiteral("no file name given")) : QString();
    };
}

QList<OptionSpec> genOptions(GenOptions *o)
{
    return {
        {{QStringLiteral("count")},
         QStringLiteral("N"),
         QStringLiteral("Make N records (1 to 100000000). Required."),
         OptionRead::number(&o->count, qint64(1), GenOptions::MostRecords,
                            QStringLiteral("a number of records (1 to 100000000)"), NumberForm::Exact)},
        {{QStringLiteral("seed")},
         QStringLiteral("S"),
         QStringLiteral("Seed S (0 to 18446744073709551615); the same seed and options give the same bytes. Without "
                        "it a seed is chosen and shown on standard error."),
         [o](const OptionValue &value) {
             quint64 seed = 0;
             const QString error = OptionRead::number(&seed, quint64(0), std::numeric_limits<quint64>::max(),
                                                      QStringLiteral("a seed (0 to 18446744073709551615)"),
                                                      NumberForm::Digits)(value);
             if (error.isEmpty())
                 o->seed = seed;
             return error;
         }},
        {{QStringLiteral("format")},
         QStringLiteral("rawlog|multipkt"),
         QStringLiteral("Data file format: rawlog (one log line per record, the default) or multipkt (each record in "
                        "1 to 10 parts)."),
         OptionRead::choice(&o->format, dataFormatOptions())},
        {{QStringLiteral("invalid")},
         QStringLiteral("FRACTION"),
         QStringLiteral("Share of records broken in exactly one way, 0 to 1 (default 0)."),
         OptionRead::number(&o->invalid, 0.0, 1.0, QStringLiteral("a fraction from 0 to 1"), NumberForm::Exact)},
        {{QStringLiteral("kinds")},
         QStringLiteral("K,..."),
         QStringLiteral("Kinds of break to draw from, comma-separated; needs --invalid (default: every kind that "
                        "fits the format). In the record: field-count-52, field-count-54, too-wide, bad-char, "
                        "not-digits, bad-date, bad-flag, bad-state, bad-code. In a rawlog line: bad-timestamp, "
                        "bad-header. In a multipkt line: bad-header, part-out-of-range, duplicate-part, "
                        "missing-part, terminal-change."),
         readKinds(o)},
        {{QStringLiteral("manifest")},
         QStringLiteral("FILE"),
         QStringLiteral("Write a JSON Lines manifest to FILE (- for standard output, when the data file goes to a "
                        "file): seq, id, expect and whether a replay hands the record to the receiver."),
         readOutput(&o->manifest)},
        {{QStringLiteral("output")},
         QStringLiteral("FILE"),
         QStringLiteral("Write the data file to FILE (default, or -: standard output)."),
         readOutput(&o->output)},
    };
}

} // namespace

ParsedGenArguments parseGenArguments(const QStringList &arguments, std::FILE *out)
{
    ParsedGenArguments parsed;
    GenOptions &o = parsed.options;
    CommandLine line(QStringLiteral("ipnd-gen"),
                     QStringLiteral("Makes IPND test records, valid and broken on purpose, as a data file that "
                                    "ipnd-send and the window replay."));
    line.addOptions(genOptions(&o));
    line.addChecks({[&] {
        if (!line.given(QStringLiteral("count")))
            return QStringLiteral("--count is required");
        if (!line.given(QStringLiteral("kinds")))
            o.kinds = kindsFor(o.format);
        // Kinds alone break nothing: a run meant to hold broken records would
        // quietly hold none.
        else if (!line.given(QStringLiteral("invalid")))
            return QStringLiteral("--kinds needs --invalid FRACTION, the share of records to break");
        // One file for both would keep only whichever is saved last; the two in
        // one stream could not be told apart.
        const bool bothToStandardOutput = o.manifest == "-" && (o.output.isEmpty() || o.output == "-");
        if (bothToStandardOutput || (o.manifest != "-" && o.output != "-" && sameFile(o.manifest, o.output)))
            return QStringLiteral("--manifest: %1 is the data file too")
                .arg(CommandLine::quoted(QFile::decodeName(o.manifest)));
        return QString();
    }});
    parsed.outcome = line.parse(arguments, out);
    parsed.error = line.error();
    return parsed;
}

Generator::Generator(const GenOptions &options, quint64 seed)
    : m_options(options), m_prng(seed), m_maker(m_prng)
{
    m_brokenLeft = m_options.kinds.isEmpty() ? 0 : std::llround(m_options.invalid * double(m_options.count));
    // Distinct ids in a scattered order: a step prime to 10^8 visits every
    // 8-digit id once before any repeats.
    m_idStart = quint32(m_prng.below(100000000));
    do
        m_idStep = quint32(m_prng.below(100000000));
    while (m_idStep % 2 == 0 || m_idStep % 5 == 0);
    advanceStamp();
}

void Generator::advanceStamp()
{
    if (++m_second == 86400 || m_stamp[10] != ' ') {
        if (m_second == 86400) {
            m_second = 0;
            m_day = m_day.addDays(1);
        }
        const QByteArray date = m_day.toString(Qt::ISODate).toLatin1();
        std::copy(date.begin(), date.end(), m_stamp);
        m_stamp[10] = ' ';
        m_stamp[13] = ':';
        m_stamp[16] = ':';
    }
    writeDigits(m_stamp + 11, quint64(m_second / 3600), 2);
    writeDigits(m_stamp + 14, quint64(m_second / 60 % 60), 2);
    writeDigits(m_stamp + 17, quint64(m_second % 60), 2);
}

bool Generator::next(QByteArray &lines, GenItem &item)
{
    if (m_seq >= m_options.count)
        return false;
    const qint64 left = m_options.count - m_seq;
    ++m_seq;

    // Exactly the asked share is broken, spread evenly at random.
    std::optional<GenKind> fault;
    if (m_brokenLeft > 0 && qint64(m_prng.below(quint64(left))) < m_brokenLeft) {
        --m_brokenLeft;
        fault = m_options.kinds[qsizetype(m_prng.below(quint64(m_options.kinds.size())))];
    }

    const quint32 id = quint32((quint64(m_idStart) + quint64(m_seq - 1) * m_idStep) % 100000000);
    item.seq = m_seq;
    item.record.resize(0);
    m_maker.append(item.record, id);
    item.id.resize(8);
    std::memcpy(item.id.data(), item.record.constData(), 8);
    if (fault && isRecordKind(*fault))
        m_maker.breakRecord(item.record, *fault);
    item.expect = fault ? kindName(*fault) : QByteArray("valid");

    if (m_options.format == DataFormat::RawLog)
        rawLogLines(lines, item.record, fault);
    else
        multiPacketLines(lines, item.record, fault);
    return true;
}

void Generator::rawLogLines(QByteArray &lines, const QByteArray &record, std::optional<GenKind> fault)
{
    if (fault == GenKind::BadTimestamp)
        lines.append(BadStamps[m_prng.below(std::size(BadStamps))]);
    else
        lines.append(m_stamp, sizeof m_stamp);
    advanceStamp();
    if (fault == GenKind::BadHeader) {
        // A third log field too long for the reader to find its end: the
        // reader then takes the field for the record, and its header fails.
        lines.append("\tTCPIN\t");
        lines.append(QByteArray("unresolved-peer-").leftJustified(100, 'x'));
        lines.append('\t');
    } else {
        lines.append(LogFields, sizeof LogFields - 1);
    }
    lines.append(record);
    lines.append('\n');
}

void Generator::multiPacketLines(QByteArray &lines, const QByteArray &record, std::optional<GenKind> fault)
{
    // Neighbouring records come from different terminals, so that the parts
    // of two records never pass the reader's terminal test together.
    int terminal = 1 + int(m_prng.below(998));
    if (terminal == m_terminal)
        terminal = terminal % 998 + 1;
    m_terminal = terminal;

    int parts = 1 + int(m_prng.below(MostParts));
    if (fault == GenKind::DuplicatePart)
        parts = std::max(parts, 3);
    else if (fault == GenKind::MissingPart || fault == GenKind::TerminalChange)
        parts = std::max(parts, 2);

    // Cut points: parts - 1 distinct places inside the record, kept in order.
    int cuts[MostParts + 1] = {0};
    int made = 1;
    while (made < parts) {
        const int at = 1 + int(m_prng.below(quint64(record.size() - 1)));
        int i = made;
        while (i > 1 && cuts[i - 1] > at)
            --i;
        if (i > 1 && cuts[i - 1] == at)
            continue;
        for (int j = made; j > i; --j)
            cuts[j] = cuts[j - 1];
        cuts[i] = at;
        ++made;
    }
    cuts[parts] = int(record.size());

    // The part the fault is in: a middle one for a duplicate.
    const int faulty = fault == GenKind::DuplicatePart ? m_prng.between(2, parts - 1) : m_prng.between(1, parts);
    for (int part = 1; part <= parts; ++part) {
        if (fault == GenKind::MissingPart && part == faulty)
            continue;
        const qsizetype start = lines.size();
        int partTerminal = terminal;
        if (fault == GenKind::TerminalChange && part == faulty)
            partTerminal = terminal % 998 + 1;
        const int number = fault == GenKind::PartOutOfRange && part == faulty ? m_prng.between(parts + 1, 98) : part;
        lines.resize(start + HeaderDigits);
        char *header = lines.data() + start;
        header = writeDigits(header, quint64(partTerminal), 3);
        header = writeDigits(header, quint64(parts), 2);
        writeDigits(header, quint64(number), 2);
        if (fault == GenKind::BadHeader && part == faulty)
            lines[start + qsizetype(m_prng.below(HeaderDigits))] = char('A' + m_prng.below(26));
        lines.append(record.constData() + cuts[part - 1], cuts[part] - cuts[part - 1]);
        lines.append('\n');
        if (fault == GenKind::DuplicatePart && part == faulty)
            lines.append(lines.mid(start));
    }
}

class ArrivalCheck::Replay final : public DataFileHost
{
public:
    explicit Replay(DataFormat format) : m_format(format) { m_data.openLines(); }

    bool arrives(const QByteArray &lines, const QByteArray &record)
    {
        m_sent.clear();
        m_data.addLines(lines);
        // As a replay reads them: every line once, in order; a record goes
        // out when a reader yields one.
        while (m_data.hasLine()) {
            if (m_format == DataFormat::RawLog) {
                if (m_data.ReadRawLogRecord())
                    m_data.SendRecord();
            } else if (m_data.ReadMultiPacketLine() && m_data.state().SequenceComplete) {
                m_data.SendRecord();
            }
        }
        const QByteArray packet = Framing::framePacket(record);
        bool arrived = false;
        for (const QByteArray &sent : std::as_const(m_sent)) {
            if (sent == packet)
                arrived = true;
            else
                ++m_mixed;
        }
        return arrived;
    }

    qint64 mixed() const { return m_mixed; }

    SendResult SendTCPPacket(const QByteArray &packet) override
    {
        m_sent.append(packet);
        return SendResult::Sent;
    }
    void InsertLog(const QByteArray &) override {}

private:
    const DataFormat m_format;
    DataFile m_data{*this};
    QList<QByteArray> m_sent;
    qint64 m_mixed = 0;
};

ArrivalCheck::ArrivalCheck(DataFormat format) : m_replay(std::make_unique<Replay>(format)) {}
ArrivalCheck::~ArrivalCheck() = default;

bool ArrivalCheck::arrives(const QByteArray &lines, const QByteArray &record)
{
    return m_replay->arrives(lines, record);
}

qint64 ArrivalCheck::mixed() const
{
    return m_replay->mixed();
}

QByteArray manifestLine(const GenItem &item, bool arrives)
{
    return Json::Object()
               .number("seq", item.seq)
               .string("id", item.id)
               .string("expect", item.expect)
               .boolean("arrives", arrives)
               .text() +
           '\n';
}

bool generate(const GenOptions &options, quint64 seed, QIODevice &data, QIODevice *manifest,
              const std::function<void(qint64)> &progress, QString *error, qint64 *mixed)
{
    constexpr qsizetype Chunk = 256 * 1024;
    constexpr qint64 ProgressEvery = 1 << 14;

    Generator generator(options, seed);
    std::optional<ArrivalCheck> check;
    if (manifest)
        check.emplace(options.format);

    QByteArray out;
    QByteArray manifestOut;
    out.reserve(Chunk + 8 * 1024);
    GenItem item;
    auto flush = [error, &data](QIODevice &device, QByteArray &bytes) {
        QString reason;
        if (!writeAll(device, bytes, &reason)) {
            *error = (&device == &data ? QStringLiteral("the data file: ") : QStringLiteral("the manifest: ")) + reason;
            return false;
        }
        bytes.resize(0);
        return true;
    };

    while (true) {
        const qsizetype before = out.size();
        if (!generator.next(out, item))
            break;
        if (check)
            manifestOut += manifestLine(item, check->arrives(out.sliced(before), item.record));
        if (out.size() >= Chunk && !flush(data, out))
            return false;
        if (manifest && manifestOut.size() >= Chunk && !flush(*manifest, manifestOut))
            return false;
        if (progress && item.seq % ProgressEvery == 0)
            progress(item.seq);
    }
    if (!flush(data, out) || (manifest && !flush(*manifest, manifestOut)))
        return false;
    if (progress)
        progress(generator.made());
    if (mixed && check)
        *mixed = check->mixed();
    return true;
}
