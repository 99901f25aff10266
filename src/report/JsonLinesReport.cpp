#include "report/ReportWriters.h"

#include "platform/OutputFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

void ReportWriter::fail(const QString &fileName, const QString &reason)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(fileName, reason);
}

namespace {
// Bytes as JSON text, one character per byte, so that the bytes can be had
// back exactly (as Latin-1).
QJsonValue bytesValue(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// Milliseconds to the microsecond: the clocks measure no finer, and the
// lines stay short.
double rounded(double value, int decimals = 3)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

QJsonValue optionalNumber(const std::optional<double> &value)
{
    return value ? QJsonValue(rounded(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue percentiles(const std::optional<RunFigures::RoundTrips> &times)
{
    if (!times)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("min"), rounded(times->min)},     {QStringLiteral("p50"), rounded(times->p50)},
                       {QStringLiteral("p90"), rounded(times->p90)},     {QStringLiteral("p95"), rounded(times->p95)},
                       {QStringLiteral("p99"), rounded(times->p99)},
                       {QStringLiteral("p99_9"), rounded(times->p99_9)}, {QStringLiteral("max"), rounded(times->max)}};
}
} // namespace

JsonLinesReport::JsonLinesReport(const QString &fileName) : m_name(fileName), m_file(std::make_unique<QFile>()) {}

bool JsonLinesReport::open()
{
    // Unbuffered: each line reaches the file as it is written.
    m_file = openOutput(m_name, {OutputWay::File::Truncated, OutputWay::Other::WithoutWaiting, true, true});
    if (!m_file->isOpen()) {
        fail(m_name, m_file->errorString());
        return false;
    }
    return true;
}

void JsonLinesReport::writeLine(const QByteArray &line)
{
    if (!error().isEmpty())
        return;
    QString reason;
    if (writeAll(*m_file, line + '\n', &reason)) {
        m_whole = m_file->pos();
        return;
    }
    fail(m_name, reason);
    // A line cut short by a full disk goes: the lines before it stay a whole report.
    if (!m_file->isSequential() && !isStandardOutput(m_name))
        m_file->resize(m_whole);
}

void JsonLinesReport::add(const OutcomeRecord &record)
{
    QJsonObject object{{QStringLiteral("seq"), record.seq}, {QStringLiteral("outcome"), outcomeName(record.outcome)}};
    if (!record.expect.isEmpty())
        object.insert(QStringLiteral("expect"), bytesValue(record.expect));
    else if (record.unplanned)
        object.insert(QStringLiteral("expect"), QJsonValue()); // no entry of the manifest planned it
    if (record.outcome == Outcome::Rejected) {
        if (!record.id.isEmpty())
            object.insert(QStringLiteral("id"), bytesValue(record.id));
        object.insert(QStringLiteral("reason"), bytesValue(record.reason));
    } else {
        object.insert(QStringLiteral("id"), bytesValue(record.id));
        object.insert(QStringLiteral("rtt_ms"), optionalNumber(record.rttMs));
        object.insert(QStringLiteral("latency_ms"), optionalNumber(record.latencyMs));
        object.insert(QStringLiteral("connect_ms"), optionalNumber(record.connectMs));
        object.insert(QStringLiteral("reply"), record.reply ? bytesValue(*record.reply) : QJsonValue());
        // The reply above may be cut; this is its whole length.
        object.insert(QStringLiteral("reply_bytes"), record.reply ? QJsonValue(record.replyBytes) : QJsonValue());
        object.insert(QStringLiteral("sent_at"), record.sentAt.isValid()
                                                     ? QJsonValue(isoTime(record.sentAt))
                                                     : QJsonValue());
        object.insert(QStringLiteral("connection"), record.connection > 0 ? QJsonValue(record.connection) : QJsonValue());
        if (!record.reason.isEmpty())
            object.insert(QStringLiteral("reason"), bytesValue(record.reason));
    }
    writeLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void JsonLinesReport::finish(const RunFigures &figures, const QStringList &missed, bool passed)
{
    QJsonObject summary{
        {QStringLiteral("read"), figures.counts.read},
        {QStringLiteral("sent"), figures.counts.sent},
        {outcomeName(Outcome::Unanswered), figures.counts.unanswered},
        {outcomeName(Outcome::NotSent), figures.counts.notSent},
        {outcomeName(Outcome::Rejected), figures.counts.rejected},
        {QStringLiteral("elapsed_s"), rounded(figures.elapsedSeconds, 6)},
        {QStringLiteral("rate"), rounded(figures.rate(), 2)},
        {QStringLiteral("target_rate"), figures.targetRate ? QJsonValue(rounded(*figures.targetRate, 2)) : QJsonValue()},
        {QStringLiteral("passed"), passed && !figures.interrupted},
        {QStringLiteral("interrupted"), figures.interrupted},
        {QStringLiteral("thresholds_missed"), QJsonArray::fromStringList(missed)},
        {QStringLiteral("thresholds_met"), QJsonArray::fromStringList(figures.thresholdsMet)},
    };
    for (const auto &[word, count] : replyCounts(figures.counts, figures.byExpect))
        summary.insert(word, count);
    QJsonObject run;
    for (const auto &[key, value] : m_run.fields())
        run.insert(key, value.isEmpty() ? QJsonValue() : QJsonValue(value));
    summary.insert(QStringLiteral("run"), run);
    if (figures.conformance) {
        QJsonObject byExpect;
        for (const auto &[kind, counts] : figures.byExpect.rows()) {
            QJsonObject row{{QStringLiteral("sent"), counts.sent}};
            for (const ExpectCounts::Column &column : ExpectCounts::columns())
                row.insert(outcomeName(column.outcome), counts.*column.count);
            byExpect.insert(QString::fromLatin1(kind), row);
        }
        summary.insert(QStringLiteral("by_expect"), byExpect);
    }
    // null without TLS: the keys are always there.
    summary.insert(QStringLiteral("tls_full"), figures.tlsHandshakes ? QJsonValue(figures.tlsHandshakes->full) : QJsonValue());
    summary.insert(QStringLiteral("tls_resumed"),
                   figures.tlsHandshakes ? QJsonValue(figures.tlsHandshakes->resumed) : QJsonValue());
    // null, not absent, when no reply came: the key is always there.
    summary.insert(QStringLiteral("rtt_ms"), figures.rttMs ? percentiles(figures.rttMs) : QJsonValue(QJsonValue::Null));
    summary.insert(QStringLiteral("latency_ms"), percentiles(figures.latencyMs));
    writeLine(QJsonDocument(QJsonObject{{QStringLiteral("summary"), summary}}).toJson(QJsonDocument::Compact));
    m_file->close();
}
