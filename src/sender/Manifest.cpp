#include "sender/Manifest.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Far above any entry ipnd-gen writes; a longer line is no entry.
constexpr qsizetype MaxEntryLength = 4096;
constexpr qsizetype PipeChunk = 1 << 16;
constexpr int WaitSliceMs = 50;

// A kind as bytes: Latin-1 as the reports have always shown it, or, with a
// character beyond it, UTF-8, so that such kinds stay apart.
QByteArray kindBytes(const QString &kind)
{
    const bool latin1 = std::all_of(kind.cbegin(), kind.cend(), [](QChar c) { return c.unicode() <= 0xff; });
    return latin1 ? kind.toLatin1() : kind.toUtf8();
}
} // namespace

ManifestReader::~ManifestReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ManifestReader::open(const QString &path, QString *error)
{
    m_path = path;
    // Without waiting: the open of a FIFO nobody writes to would block for
    // ever, beyond the reach of a signal.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info = {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        *error = QStringLiteral("--manifest: cannot read \"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISFIFO(info.st_mode))
        return true;
    // A pipe with no writer reads as empty: say so now, not at the first record.
    m_buffer.resize(PipeChunk);
    const ssize_t got = ::read(m_fd, m_buffer.data(), PipeChunk);
    m_buffer.resize(std::max<ssize_t>(got, 0));
    if (got == 0) {
        *error = QStringLiteral("--manifest: cannot read \"%1\": no process is writing to the pipe").arg(path);
        return false;
    }
    return true;
}

bool ManifestReader::fill()
{
    m_buffer.remove(0, m_used);
    m_used = 0;
    for (;;) {
        const qsizetype had = m_buffer.size();
        m_buffer.resize(had + PipeChunk);
        const ssize_t got = ::read(m_fd, m_buffer.data() + had, PipeChunk);
        const int readError = errno;
        m_buffer.resize(had + std::max<ssize_t>(got, 0));
        if (got > 0)
            return true;
        if (got == 0) {
            m_atEnd = true;
            return false;
        }
        if (readError == EINTR)
            continue;
        if (readError != EAGAIN && readError != EWOULDBLOCK) {
            m_error = QStringLiteral("the manifest cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(readError)));
            return false;
        }
        // A writer with more to come: wait a while at a time, so that a stop
        // is seen.
        pollfd wait{m_fd, POLLIN, 0};
        ::poll(&wait, 1, WaitSliceMs);
        if (m_keepWaiting && !m_keepWaiting()) {
            m_stopped = true;
            return false;
        }
    }
}

std::optional<QByteArray> ManifestReader::nextLine()
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_used);
        const qsizetype length = (end < 0 ? m_buffer.size() : end) - m_used;
        if (length > MaxEntryLength) {
            m_error = QStringLiteral("line %1 of the manifest is longer than any entry").arg(m_line + 1);
            return std::nullopt;
        }
        // The last line is whole at the end, line end or not.
        if (end >= 0 || (m_atEnd && length > 0)) {
            QByteArray line = m_buffer.mid(m_used, length);
            m_used += length + (end >= 0);
            ++m_line;
            while (line.endsWith('\r'))
                line.chop(1);
            return line;
        }
        // At the end, the loop comes round once more for a last line.
        if (m_atEnd || m_fd < 0 || (!fill() && !m_atEnd))
            return std::nullopt;
    }
}

const ManifestEntry *ManifestReader::peek()
{
    if (m_next)
        return &*m_next;
    if (!m_error.isEmpty() || m_stopped)
        return nullptr;
    QByteArray line;
    while (line.isEmpty()) {
        const std::optional<QByteArray> next = nextLine();
        if (!next)
            return nullptr;
        line = *next;
    }
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const QJsonValue seq = object.value(QLatin1String("seq"));
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue expect = object.value(QLatin1String("expect"));
    const QJsonValue arrives = object.value(QLatin1String("arrives"));
    // A seq no qint64 holds exactly is no entry: converting it would be undefined.
    const bool seqFits = seq.isDouble() && std::abs(seq.toDouble()) < 9e15;
    if (!seqFits || !id.isString() || !expect.isString() || expect.toString().isEmpty() || !arrives.isBool()) {
        m_error = QStringLiteral("line %1 of the manifest is not an entry (seq, id, expect, arrives): %2")
                      .arg(m_line)
                      .arg(QString::fromLatin1(printable(line.left(100))));
        return nullptr;
    }
    m_next = ManifestEntry{qint64(seq.toDouble()), id.toString().toLatin1(), kindBytes(expect.toString()),
                           arrives.toBool()};
    return &*m_next;
}

std::optional<qint64> ManifestReader::countLines(const QString &path)
{
    // A pipe is never opened: with no writer the open would wait for one.
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    qint64 lines = 0;
    char last = '\n';
    QByteArray chunk;
    while (!(chunk = file.read(1 << 20)).isEmpty()) {
        // Empty lines do not count: a line is counted at its first byte.
        for (const char c : std::as_const(chunk)) {
            if (last == '\n' && c != '\n')
                ++lines;
            last = c;
        }
    }
    return lines;
}

void ManifestMatch::lineRejected(const QByteArray &reason)
{
    ++m_gapLines;
    if (m_gapReasons.size() < ReasonsKept)
        m_gapReasons.append(reason);
}

bool ManifestMatch::passOver(const ManifestEntry &entry, qint64 spareLines, const QString &where)
{
    // An entry with no line behind it was never a record of this file: it
    // would be counted as rejected and put every later seq out by one.
    if (m_gapPassed >= spareLines - m_spareAtRecord) {
        m_error = QStringLiteral("the manifest's entry seq %1, record %2, does not arrive, but %3 no line the reader "
                                 "refused or dropped is left for it")
                      .arg(entry.seq)
                      .arg(QString::fromLatin1(printable(entry.id)), where);
        return false;
    }
    OutcomeRecord record;
    record.outcome = Outcome::Rejected;
    record.id = entry.id;
    record.expect = entry.expect;
    // A broken record's lines may be several, or none refused at all (parts
    // the reader dropped when the next record began).
    if (m_gapPassed < m_gapLines)
        record.reason = m_gapReasons.value(qsizetype(m_gapPassed), m_gapReasons.value(m_gapReasons.size() - 1));
    else
        record.reason = "Not sent: the reader put no record together from its lines";
    ++m_gapPassed;
    ++m_handled;
    m_reader.take();
    m_emit(std::move(record));
    return true;
}

void ManifestMatch::endGap()
{
    // Lines refused where the manifest planned no break fail the run.
    if (m_gapPassed == 0) {
        for (qint64 i = 0; i < m_gapLines; ++i) {
            OutcomeRecord record;
            record.outcome = Outcome::Rejected;
            record.unplanned = true;
            record.reason = m_gapReasons.value(qsizetype(i), m_gapReasons.value(m_gapReasons.size() - 1));
            m_emit(std::move(record));
        }
    }
    m_gapReasons.clear();
    m_gapLines = 0;
    m_gapPassed = 0;
}

bool ManifestMatch::misfit(const QString &error)
{
    m_error = m_reader.error().isEmpty() ? error : m_reader.error();
    return false;
}

std::optional<ManifestMatch::Match> ManifestMatch::recordRead(const QByteArray &id, qint64 line, bool goesOut,
                                                              qint64 spareLines)
{
    const QString where = QStringLiteral("before line %1 of the data file").arg(line);
    while (const ManifestEntry *entry = m_reader.peek()) {
        if (entry->arrives) {
            if (entry->id != id) {
                misfit(QStringLiteral("line %1 of the data file holds record %2, but the manifest's next entry that "
                                      "arrives (seq %3) is record %4")
                           .arg(line)
                           .arg(QString::fromLatin1(printable(id)))
                           .arg(entry->seq)
                           .arg(QString::fromLatin1(printable(entry->id))));
                return std::nullopt;
            }
        } else if (goesOut || entry->id != id) {
            if (!passOver(*entry, spareLines, where))
                return std::nullopt;
            continue;
        }
        // Its own entry; one that does not arrive fits a record the framer
        // will not send (too short).
        Match match{entry->expect, !entry->arrives};
        ++m_handled;
        m_reader.take();
        endGap();
        m_spareAtRecord = spareLines;
        return match;
    }
    if (m_reader.stopped()) {
        m_error = QStringLiteral("stopped while waiting for the manifest");
        return std::nullopt;
    }
    misfit(QStringLiteral("line %1 of the data file holds record %2, but the manifest has no entry for it")
               .arg(line)
               .arg(QString::fromLatin1(printable(id))));
    return std::nullopt;
}

bool ManifestMatch::finish(bool endOfData, qint64 line, qint64 spareLines)
{
    if (endOfData) {
        const QString where = QStringLiteral("after the last record, up to the data file's end at line %1,").arg(line);
        while (const ManifestEntry *entry = m_reader.peek()) {
            if (entry->arrives)
                return misfit(QStringLiteral("the data file ended at line %1, but the manifest's entry seq %2, "
                                             "record %3, arrives")
                                  .arg(line)
                                  .arg(entry->seq)
                                  .arg(QString::fromLatin1(printable(entry->id))));
            if (!passOver(*entry, spareLines, where))
                return false;
        }
        if (!m_reader.error().isEmpty())
            return misfit({});
    } else {
        // Cut short: only entries the lines read so far reach, one a line.
        while (m_gapPassed < m_gapLines) {
            const ManifestEntry *entry = m_reader.peek();
            if (!entry || entry->arrives || !passOver(*entry, spareLines, {}))
                break;
        }
    }
    endGap();
    return true;
}

Outcome ManifestMatch::judge(const QByteArray &expect, const QByteArray &reply, const QByteArray &id) const
{
    const bool accepted = m_accept.matches(reply, id);
    const bool refused = m_refuse.matches(reply, id);
    // A reply both patterns take says nothing about the record.
    if (accepted == refused)
        return Outcome::Unexpected;
    if (expect == "valid")
        return accepted ? Outcome::Accepted : Outcome::FalseRefuse;
    return refused ? Outcome::Refused : Outcome::FalseAccept;
}
