#pragma once

#include "report/Outcome.h"
#include "report/ReplyExpectation.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

// One line of the manifest ipnd-gen writes beside a data file.
struct ManifestEntry
{
    qint64 seq = 0;
    QByteArray id;
    QByteArray expect;   // "valid" or the kind of break
    bool arrives = true; // whether a replay hands the record to the receiver
};

// The manifest read a line at a time, in step with the data file: memory
// stays flat for any size. It may be a pipe (`<(...)`, a FIFO, standard
// input): its end is where its writer closes it, not where it runs dry.
class ManifestReader
{
public:
    ManifestReader() = default;
    ~ManifestReader();
    ManifestReader(const ManifestReader &) = delete;
    ManifestReader &operator=(const ManifestReader &) = delete;

    // False, with a line in *error, when the file cannot be read, or is a
    // pipe no process writes to. Never waits.
    bool open(const QString &path, QString *error);
    // Called now and then while a pipe has nothing more yet; false ends the
    // wait, and the reader gives no more entries (stopped()).
    void setKeepWaiting(std::function<bool()> keepWaiting) { m_keepWaiting = std::move(keepWaiting); }
    // The next entry, left in place; none at the end or at a line that is no
    // entry (error() says which).
    const ManifestEntry *peek();
    void take() { m_next.reset(); }
    QString error() const { return m_error; }
    bool stopped() const { return m_stopped; }
    QString fileName() const { return m_path; }

    // The non-empty lines of a file, read in pieces; none when it cannot be
    // read to its end (a pipe has been read already, or has no writer).
    static std::optional<qint64> countLines(const QString &path);

private:
    // The next line without its line end; none at the end, on an error or a stop.
    std::optional<QByteArray> nextLine();
    // More of the file into the buffer; false at its end, on an error or a stop.
    bool fill();

    QString m_path;
    int m_fd = -1;
    QByteArray m_buffer;
    qsizetype m_used = 0; // of the buffer, taken as lines
    bool m_atEnd = false;
    bool m_stopped = false;
    std::function<bool()> m_keepWaiting;
    std::optional<ManifestEntry> m_next;
    qint64 m_line = 0;
    QString m_error;
};

// A conformance run's bookkeeping: joins what the reader finds to the
// manifest's entries, and judges each reply by the record's kind.
//
// The reader's rejections gather between two records it yields. When it
// yields one, the entries before that record's own are the ones that do not
// arrive: each is passed over as `rejected`, with the rejections' reasons in
// order. Rejections with no such entry were planned by none and fail. Each
// such entry needs a line of its own that went into no record (refused, or
// a part dropped): one with none is no record of the file, and does not fit.
class ManifestMatch
{
public:
    using Emit = std::function<void(OutcomeRecord &&)>;

    ManifestMatch(const ReplyExpectation &accept, const ReplyExpectation &refuse, Emit report)
        : m_accept(accept), m_refuse(refuse), m_emit(std::move(report))
    {
    }

    bool open(const QString &path, QString *error) { return m_reader.open(path, error); }
    // See ManifestReader::setKeepWaiting(); a stop there is no misfit.
    void setKeepWaiting(std::function<bool()> keepWaiting) { m_reader.setKeepWaiting(std::move(keepWaiting)); }
    bool stopped() const { return m_reader.stopped(); }

    // A line the reader refused, with the log line that said so.
    void lineRejected(const QByteArray &reason);

    struct Match
    {
        QByteArray expect;
        bool plannedRejection = false; // an entry that does not arrive, for a record that does not go out
    };
    // The reader yielded record `id` at `line` of the data file; `goesOut`
    // whether it is about to be sent; `spareLines` the lines read so far that
    // went into no record. None, with error() set, when the manifest does not
    // fit (the run stops there), or when the reader was stopped.
    std::optional<Match> recordRead(const QByteArray &id, qint64 line, bool goesOut, qint64 spareLines);
    // The run's end; `endOfData` when the data file was read to its end, so
    // that every entry left must be one that does not arrive. False, with
    // error() set, when an entry left would have arrived, or has no line.
    bool finish(bool endOfData, qint64 line, qint64 spareLines);

    Outcome judge(const QByteArray &expect, const QByteArray &reply, const QByteArray &id) const;

    QString error() const { return m_error; }
    qint64 entriesHandled() const { return m_handled; }
    QString fileName() const { return m_reader.fileName(); }

private:
    static constexpr qsizetype ReasonsKept = 64; // per gap; more lines share the last one
    // False, with error() set, when no line is left for the entry; `where`
    // says where the data file was.
    bool passOver(const ManifestEntry &entry, qint64 spareLines, const QString &where);
    // The record after a gap was found: its rejections are settled.
    void endGap();
    bool misfit(const QString &error);

    ManifestReader m_reader;
    const ReplyExpectation m_accept;
    const ReplyExpectation m_refuse;
    Emit m_emit;
    QList<QByteArray> m_gapReasons;
    qint64 m_gapLines = 0;
    qint64 m_gapPassed = 0; // entries passed over in this gap
    qint64 m_spareAtRecord = 0; // spare lines when the last record was found
    qint64 m_handled = 0;
    QString m_error;
};
