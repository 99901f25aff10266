#include "sender/Manifest.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
// Far above any entry ipnd-gen writes; a longer line is no entry.
constexpr qint64 MaxEntryLength = 4096;
} // namespace

bool ManifestReader::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("--manifest: cannot read \"%1\": %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

const ManifestEntry *ManifestReader::peek()
{
    if (m_next)
        return &*m_next;
    if (!m_error.isEmpty())
        return nullptr;
    QByteArray line;
    while (line.isEmpty()) {
        if (m_file.atEnd())
            return nullptr;
        line = m_file.readLine(MaxEntryLength);
        ++m_line;
        const bool whole = line.endsWith('\n') || m_file.atEnd();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!whole) {
            m_error = QStringLiteral("line %1 of the manifest is longer than any entry").arg(m_line);
            return nullptr;
        }
    }
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const QJsonValue seq = object.value(QLatin1String("seq"));
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue expect = object.value(QLatin1String("expect"));
    const QJsonValue arrives = object.value(QLatin1String("arrives"));
    if (!seq.isDouble() || !id.isString() || !expect.isString() || expect.toString().isEmpty() || !arrives.isBool()) {
        m_error = QStringLiteral("line %1 of the manifest is not an entry (seq, id, expect, arrives): %2")
                      .arg(m_line)
                      .arg(QString::fromLatin1(printable(line.left(100))));
        return nullptr;
    }
    m_next = ManifestEntry{qint64(seq.toDouble()), id.toString().toLatin1(), expect.toString().toLatin1(),
                           arrives.toBool()};
    return &*m_next;
}

std::optional<qint64> ManifestReader::countLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
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

void ManifestMatch::passOver(const ManifestEntry &entry)
{
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

std::optional<ManifestMatch::Match> ManifestMatch::recordRead(const QByteArray &id, qint64 line, bool goesOut)
{
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
            passOver(*entry);
            continue;
        }
        // Its own entry; one that does not arrive fits a record the framer
        // will not send (too short).
        Match match{entry->expect, !entry->arrives};
        ++m_handled;
        m_reader.take();
        endGap();
        return match;
    }
    misfit(QStringLiteral("line %1 of the data file holds record %2, but the manifest has no entry for it")
               .arg(line)
               .arg(QString::fromLatin1(printable(id))));
    return std::nullopt;
}

bool ManifestMatch::finish(bool endOfData, qint64 line)
{
    if (endOfData) {
        while (const ManifestEntry *entry = m_reader.peek()) {
            if (entry->arrives)
                return misfit(QStringLiteral("the data file ended at line %1, but the manifest's entry seq %2, "
                                             "record %3, arrives")
                                  .arg(line)
                                  .arg(entry->seq)
                                  .arg(QString::fromLatin1(printable(entry->id))));
            passOver(*entry);
        }
        if (!m_reader.error().isEmpty())
            return misfit({});
    } else {
        // Cut short: only entries the lines read so far reach, one a line.
        while (m_gapPassed < m_gapLines) {
            const ManifestEntry *entry = m_reader.peek();
            if (!entry || entry->arrives)
                break;
            passOver(*entry);
        }
    }
    endGap();
    return true;
}

Outcome ManifestMatch::judge(const QByteArray &expect, const QByteArray &reply, const QByteArray &id) const
{
    if (expect == "valid") {
        if (m_accept.matches(reply, id))
            return Outcome::Accepted;
        return m_refuse.matches(reply, id) ? Outcome::FalseRefuse : Outcome::Unexpected;
    }
    if (m_refuse.matches(reply, id))
        return Outcome::Refused;
    return m_accept.matches(reply, id) ? Outcome::FalseAccept : Outcome::Unexpected;
}
