// The report writers on any run: whatever the records, replies, reasons and
// title hold, the JSON Lines report gives every byte back exactly, and the
// JUnit file and the HTML page are well-formed, count what was sent and
// failed, and show the bytes only as printable text.
//
// The input: a title (a length byte, then UTF-8; the byte's top bit makes the
// run a conformance run), then records one after the other, each an outcome
// byte (outcome, and connection in the high bits), a round-trip byte, an id
// (a length byte, then bytes), in a conformance run the manifest's kind (the
// same), and a reply or reason (two length bytes, low first, at most 4096,
// then bytes).

#include "FuzzCheck.h"

#include "report/ReportWriters.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

class Input
{
public:
    Input(const uint8_t *bytes, size_t size) : m_bytes(reinterpret_cast<const char *>(bytes), qsizetype(size)) {}
    bool atEnd() const { return m_at >= m_bytes.size(); }
    int byte() { return atEnd() ? 0 : quint8(m_bytes[m_at++]); }
    QByteArray take(qsizetype length)
    {
        const QByteArray part = m_bytes.mid(m_at, length);
        m_at += part.size();
        return part;
    }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// A JSON string that holds bytes, one character each.
std::optional<QByteArray> bytesOf(const QJsonValue &value)
{
    if (!value.isString())
        return {};
    const QString text = value.toString();
    FUZZ_CHECK(std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xff; }));
    return text.toLatin1();
}

// Text the page or the JUnit file shows of the bytes: printable, lines kept.
bool printableLines(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u'\n' || (c >= u' ' && c <= u'~'); });
}

void checkJsonLines(const QByteArray &file, const QList<OutcomeRecord> &records, const RunFigures &figures)
{
    const QByteArrayList lines = file.split('\n');
    FUZZ_CHECK(lines.size() == records.size() + 2 && lines.last().isEmpty());
    for (qsizetype i = 0; i <= records.size(); ++i) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i], &error);
        FUZZ_CHECK(error.error == QJsonParseError::NoError && document.isObject());
        const QJsonObject o = document.object();
        if (i == records.size()) {
            const QJsonObject summary = o.value(QStringLiteral("summary")).toObject();
            FUZZ_CHECK(summary.value(QStringLiteral("sent")).toInteger() == figures.counts.sent);
            FUZZ_CHECK(summary.value(QStringLiteral("rejected")).toInteger() == figures.counts.rejected);
            break;
        }
        const OutcomeRecord &r = records[i];
        FUZZ_CHECK(o.value(QStringLiteral("seq")).toInteger() == r.seq);
        FUZZ_CHECK(o.value(QStringLiteral("outcome")).toString() == outcomeName(r.outcome));
        if (!r.expect.isEmpty())
            FUZZ_CHECK(bytesOf(o.value(QStringLiteral("expect"))) == r.expect);
        // A line no entry of the manifest planned says so.
        if (r.unplanned)
            FUZZ_CHECK(o.contains(QStringLiteral("expect")) && o.value(QStringLiteral("expect")).isNull());
        if (r.outcome == Outcome::Rejected) {
            FUZZ_CHECK(bytesOf(o.value(QStringLiteral("reason"))) == r.reason);
            continue;
        }
        FUZZ_CHECK(bytesOf(o.value(QStringLiteral("id"))) == r.id);
        FUZZ_CHECK(bytesOf(o.value(QStringLiteral("reply"))) == r.reply);
        const QJsonValue connection = o.value(QStringLiteral("connection"));
        FUZZ_CHECK(r.connection > 0 ? connection.toInt() == r.connection : connection.isNull());
        if (!r.reason.isEmpty())
            FUZZ_CHECK(bytesOf(o.value(QStringLiteral("reason"))) == r.reason);
    }
}

void checkJUnit(const QByteArray &file, const QList<OutcomeRecord> &records)
{
    QXmlStreamReader xml(file);
    qint64 testcases = 0, failures = 0, suiteTests = 0, suiteFailures = 0, allTests = -1, allFailures = -1;
    QStringList names;
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (xml.isCharacters())
            FUZZ_CHECK(printableLines(xml.text().toString()));
        if (!xml.isStartElement())
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"testsuites") {
            allTests = a.value(QLatin1String("tests")).toLongLong();
            allFailures = a.value(QLatin1String("failures")).toLongLong();
        } else if (xml.name() == u"testsuite") {
            suiteTests += a.value(QLatin1String("tests")).toLongLong();
            suiteFailures += a.value(QLatin1String("failures")).toLongLong();
        } else if (xml.name() == u"testcase") {
            ++testcases;
            names.append(a.value(QLatin1String("name")).toString());
            FUZZ_CHECK(printableLines(names.last()));
        } else if (xml.name() == u"failure") {
            ++failures;
            FUZZ_CHECK(printableLines(a.value(QLatin1String("message")).toString()));
        }
    }
    FUZZ_CHECK(!xml.hasError());
    FUZZ_CHECK(suiteTests == testcases && suiteFailures == failures);
    FUZZ_CHECK(allTests == testcases && allFailures == failures);
    // Each record sent is a test case, named by its id.
    qint64 failedSent = 0;
    for (const OutcomeRecord &r : records) {
        if (!wasSent(r.outcome))
            continue;
        failedSent += isFailure(r);
        FUZZ_CHECK(names.removeOne(r.id.isEmpty() ? QStringLiteral("record %1").arg(r.seq)
                                                  : QString::fromLatin1(printable(r.id))));
    }
    FUZZ_CHECK(failures >= failedSent);
}

void checkHtml(const QByteArray &file, const QList<OutcomeRecord> &records)
{
    FUZZ_CHECK(file.startsWith("<!DOCTYPE html>\n"));
    QXmlStreamReader xml(file);
    qint64 failedRows = -1; // the table's heading row is not one
    bool inFailedTable = false;
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (xml.isStartElement()) {
            FUZZ_CHECK(xml.name().compare(u"script", Qt::CaseInsensitive) != 0);
            for (const QXmlStreamAttribute &a : xml.attributes())
                FUZZ_CHECK(!a.name().startsWith(u"on", Qt::CaseInsensitive));
            if (xml.name() == u"table")
                inFailedTable = xml.attributes().value(QLatin1String("id")) == u"failed";
            if (inFailedTable && xml.name() == u"tr")
                ++failedRows;
            // The title is the run's, in any script; the rest shows bytes as
            // printable text.
            if (xml.name() == u"title" || xml.name() == u"h1")
                xml.readElementText();
        } else if (xml.isCharacters()) {
            FUZZ_CHECK(printableLines(xml.text().toString()));
        }
    }
    FUZZ_CHECK(!xml.hasError());
    const qint64 failed = std::count_if(records.begin(), records.end(),
                                        [](const OutcomeRecord &r) { return isFailure(r); });
    FUZZ_CHECK(std::max<qint64>(failedRows, 0) == std::min<qint64>(failed, HtmlReport::MaxFailedRows));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // The page's catch-up timer needs an application; it never fires here.
    static int argc = 1;
    static char name[] = "fuzz_reports";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());

    Input in(bytes, size);
    const int titleByte = in.byte();
    const QString title = QString::fromUtf8(in.take(titleByte % 64));
    const bool conformance = titleByte >= 128;
    const QDateTime start(QDate(2026, 12, 9), QTime(3, 0), QTimeZone::utc());
    QList<OutcomeRecord> records;
    RunFigures figures;
    QList<double> rtts;
    while (!in.atEnd()) {
        OutcomeRecord r;
        r.seq = records.size() + 1;
        const int flags = in.byte();
        r.outcome = Outcome((flags & 31) % 9);
        const int rtt = in.byte();
        r.id = in.take(in.byte() % 32);
        if (conformance)
            r.expect = in.take(in.byte() % 32);
        // Only a line that no entry of the manifest planned has no kind.
        if (conformance && r.expect.isEmpty() && r.outcome != Outcome::Rejected)
            r.expect = "valid";
        const int low = in.byte();
        const QByteArray text = in.take((low + 256 * in.byte()) % 4097);
        if (wasSent(r.outcome)) {
            r.sentAt = start.addMSecs(r.seq * 7);
            r.connection = 1 + (flags >> 5);
        }
        if (wasAnswered(r.outcome)) {
            r.rttMs = rtt == 0 ? 0.0 : std::pow(10.0, (rtt - 96) / 16.0);
            rtts.append(*r.rttMs);
            r.reply = text;
        } else {
            r.reason = text;
        }
        r.unplanned = conformance && r.outcome == Outcome::Rejected && r.expect.isEmpty();
        figures.count(r);
        records.append(r);
    }
    if (!rtts.isEmpty()) {
        std::sort(rtts.begin(), rtts.end());
        const auto at = [&](double share) { return rtts[qsizetype(share * double(rtts.size() - 1))]; };
        figures.rttMs = RunFigures::RoundTrips{rtts.first(), at(0.5), at(0.9), at(0.99), rtts.last()};
    }
    figures.elapsedSeconds = double(records.size()) * 0.007;
    figures.conformance = conformance;
    const bool passed = std::none_of(records.begin(), records.end(), [](const OutcomeRecord &r) { return isFailure(r); });
    const QStringList missed = passed ? QStringList() : QStringList{QStringLiteral("failures: more than 0")};

    const QString json = dir.filePath(QStringLiteral("report.jsonl"));
    const QString junit = dir.filePath(QStringLiteral("report.xml"));
    const QString html = dir.filePath(QStringLiteral("report.html"));
    JsonLinesReport jsonReport(json);
    JUnitReport junitReport(junit, title);
    HtmlReport htmlReport(html, title, 3600 * 1000);
    for (ReportWriter *writer : std::initializer_list<ReportWriter *>{&jsonReport, &junitReport, &htmlReport}) {
        FUZZ_CHECK(writer->open());
        for (const OutcomeRecord &r : std::as_const(records))
            writer->add(r);
        writer->finish(figures, missed, passed);
        FUZZ_CHECK(writer->error().isEmpty());
    }
    checkJsonLines(readFile(json), records, figures);
    checkJUnit(readFile(junit), records);
    checkHtml(readFile(html), records);
    return 0;
}
