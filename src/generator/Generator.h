#pragma once

#include "generator/Kinds.h"
#include "generator/Prng.h"
#include "generator/RecordMaker.h"
#include "platform/CommandLine.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

// What ipnd-gen was asked to make.
struct GenOptions
{
    static constexpr qint64 MostRecords = 100000000; // as many as there are 8-digit record ids

    qint64 count = 0;
    std::optional<quint64> seed; // none: one is chosen and reported
    DataFormat format = DataFormat::RawLog;
    double invalid = 0.0;        // share of broken records, 0 to 1
    QList<GenKind> kinds;        // the kinds broken records are drawn from
    // File names as typed: bytes, as the system takes them.
    QByteArray manifest;         // empty: no manifest; "-": standard output
    QByteArray output;           // empty or "-": standard output
};

struct ParsedGenArguments
{
    CommandLine::Outcome outcome = CommandLine::Outcome::Error;
    GenOptions options;
    QString error; // one line naming the bad argument
};

// The arguments with the program name first; --help and --version are
// printed to `out`.
ParsedGenArguments parseGenArguments(const QStringList &arguments, std::FILE *out = stdout);

// One record of a run, as the manifest lists it.
struct GenItem
{
    qint64 seq = 0;        // from 1, in file order
    QByteArray id;         // the record id, 8 digits
    QByteArray expect;     // "valid" or the kind it was broken by
    QByteArray record;     // the record as made
};

// Makes the records of a run one at a time, with the data-file line(s) that
// carry each. The same options and seed give the same bytes.
class Generator
{
public:
    Generator(const GenOptions &options, quint64 seed);

    qint64 made() const { return m_seq; }
    // Appends the next record's lines to `lines` and describes it in `item`;
    // false once every record has been made.
    bool next(QByteArray &lines, GenItem &item);

private:
    void rawLogLines(QByteArray &lines, const QByteArray &record, std::optional<GenKind> fault);
    void multiPacketLines(QByteArray &lines, const QByteArray &record, std::optional<GenKind> fault);
    void advanceStamp();

    GenOptions m_options;
    Prng m_prng;
    RecordMaker m_maker;
    qint64 m_seq = 0;
    qint64 m_brokenLeft = 0;
    quint32 m_idStart = 0;
    quint32 m_idStep = 1;
    int m_terminal = 0;
    QDate m_day{2026, 1, 5};
    int m_second = 8 * 3600;
    char m_stamp[19] = {};
};

// Replays each record's lines through the same readers and framer that
// ipnd-send and the window use, to tell whether the record would be sent.
class ArrivalCheck
{
public:
    explicit ArrivalCheck(DataFormat format);
    ~ArrivalCheck();
    bool arrives(const QByteArray &lines, const QByteArray &record);
    // Records the readers put together from parts of different records: a
    // replay would send them too, though no line of the manifest is theirs.
    qint64 mixed() const;

private:
    class Replay;
    std::unique_ptr<Replay> m_replay;
};

// A run: the data file to `data`, the manifest (JSON Lines) to `manifest`
// when given. `progress` is called now and then with the records made so far.
// False, with a line in *error, when writing fails. With a manifest, *mixed
// (when given) is ArrivalCheck::mixed() at the end.
bool generate(const GenOptions &options, quint64 seed, QIODevice &data, QIODevice *manifest,
              const std::function<void(qint64)> &progress, QString *error, qint64 *mixed = nullptr);

// {"seq": 1, "id": "00000001", "expect": "valid", "arrives": true}
QByteArray manifestLine(const GenItem &item, bool arrives);
