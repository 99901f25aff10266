#include "report/ReportWriters.h"

#include "platform/SameFile.h"

#include <QTemporaryFile>
#include <QXmlStreamWriter>

namespace {
const QByteArray Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const QByteArray Tail = "</testsuite>\n</testsuites>\n";
// Room for the counts, the time and the time stamp to grow into.
constexpr qint64 HeaderRoom = 256;

// To the microsecond, as the run's clocks measure.
QString seconds(double value)
{
    return QString::number(value, 'f', 6);
}

void writeCounts(QXmlStreamWriter &xml, qint64 tests, qint64 failures, double time)
{
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), seconds(time));
}

// The words for a record that failed.
QByteArray failureMessage(const OutcomeRecord &record)
{
    // A manifest's kind is any text: shown, like the reply, in printable bytes.
    const QByteArray expect = printable(record.expect);
    const QByteArray reply = printable(record.reply.value_or(QByteArray()));
    switch (record.outcome) {
    case Outcome::Unexpected:
        return (expect.isEmpty() ? QByteArray() : expect + ": ") + "unexpected reply: " + reply;
    case Outcome::FalseAccept:
    case Outcome::FalseRefuse:
        return outcomeName(record.outcome).toLatin1() + ": " + expect + ", reply: " + reply;
    default:
        break;
    }
    const QByteArray reason = record.reason.isEmpty() ? QByteArray("no reply") : printable(record.reason);
    return expect.isEmpty() ? reason : outcomeName(record.outcome).toLatin1() + ": " + expect + ", " + reason;
}
} // namespace

JUnitReport::JUnitReport(const QString &fileName, const QString &suiteName) : m_file(fileName), m_suite(suiteName) {}

JUnitReport::~JUnitReport() = default;

QByteArray JUnitReport::header() const
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    writeCounts(xml, m_tests, m_failures, m_seconds);
    xml.writeCharacters(QStringLiteral("\n")); // ends the start tag
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    writeCounts(xml, m_tests, m_failures, m_seconds);
    xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
    if (m_firstSent.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), isoTime(m_firstSent));
    xml.writeCharacters(QString());
    return out;
}

QByteArray JUnitReport::properties() const
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartElement(QStringLiteral("properties"));
    for (const auto &[key, value] : m_run.fields()) {
        xml.writeEmptyElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), key);
        xml.writeAttribute(QStringLiteral("value"), value);
    }
    xml.writeEndElement();
    return out + '\n';
}

bool JUnitReport::writeAt(qint64 position, const QByteArray &bytes)
{
    if (!m_file.seek(position) || m_file.write(bytes) != bytes.size()) {
        fail(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

bool JUnitReport::open()
{
    // The counts at the top are rewritten in place as the run goes: only a
    // regular file can take that (a pipe would also block the open).
    if (isDeviceOrPipe(m_file.fileName())) {
        fail(m_file.fileName(), QStringLiteral("not a regular file, and a JUnit report is rewritten in place"));
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(m_file.fileName(), m_file.errorString());
        return false;
    }
    const QByteArray declaration = Declaration;
    m_headerAt = declaration.size();
    m_headerSize = header().size() + HeaderRoom;
    const QByteArray head = declaration + paddedHeader() + properties();
    m_tailAt = head.size();
    if (!writeAt(0, head + Tail))
        return false;
    if (!m_file.flush()) {
        fail(m_file.fileName(), m_file.errorString());
        return false;
    }
    return true;
}

QByteArray JUnitReport::paddedHeader() const
{
    return header().leftJustified(m_headerSize - 1, ' ') + '\n';
}

void JUnitReport::rewriteHeader()
{
    if (writeAt(m_headerAt, paddedHeader()) && !m_file.flush())
        fail(m_file.fileName(), m_file.errorString());
}

QByteArray JUnitReport::testcase(const OutcomeRecord &record, bool *failed) const
{
    QByteArray testcase;
    QXmlStreamWriter xml(&testcase);
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), record.id.isEmpty() ? QStringLiteral("record %1").arg(record.seq)
                                                                   : QString::fromLatin1(printable(record.id)));
    // CI readers split a class name at its dots: a plain one keeps the
    // test cases together.
    xml.writeAttribute(QStringLiteral("classname"),
                       record.expect.isEmpty() ? QStringLiteral("ipnd-send")
                                                : QString::fromLatin1(printable(record.expect)));
    xml.writeAttribute(QStringLiteral("time"), seconds(record.rttMs.value_or(0) / 1000.0));
    *failed = record.expect.isEmpty() ? record.outcome != Outcome::Answered : isFailure(record);
    if (*failed) {
        const QByteArray message = failureMessage(record);
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), QString::fromLatin1(message));
        xml.writeAttribute(QStringLiteral("type"), outcomeName(record.outcome));
        xml.writeCharacters(QStringLiteral("record %1 sent at %2 on connection %3\n%4")
                                .arg(record.seq)
                                .arg(isoTime(record.sentAt))
                                .arg(record.connection)
                                .arg(QString::fromLatin1(message)));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    return testcase + '\n';
}

void JUnitReport::append(const QByteArray &testcase, bool failed)
{
    ++m_tests;
    m_failures += failed;
    // The record goes where the closing tags were; they follow it again.
    if (!writeAt(m_tailAt, testcase + Tail))
        return;
    m_tailAt += testcase.size();
    rewriteHeader();
}

void JUnitReport::add(const OutcomeRecord &record)
{
    // With a manifest every line is a test: a planned rejection passes.
    const bool byKind = !record.expect.isEmpty();
    if ((!byKind && !wasSent(record.outcome)) || !error().isEmpty())
        return;
    if (!m_firstSent.isValid())
        m_firstSent = record.sentAt;
    const double ends = record.sentAt.isValid() && m_firstSent.isValid()
        ? double(m_firstSent.msecsTo(record.sentAt)) / 1000.0 + record.rttMs.value_or(0) / 1000.0
        : 0;
    m_seconds = std::max(m_seconds, ends);

    bool failed = false;
    const QByteArray text = testcase(record, &failed);
    if (byKind) {
        Kind &kind = m_kinds[record.expect];
        if (!kind.cases) {
            kind.cases = std::make_unique<QTemporaryFile>();
            if (!kind.cases->open()) {
                fail(m_file.fileName(), kind.cases->errorString());
                return;
            }
        }
        ++kind.tests;
        kind.failures += failed;
        kind.seconds += record.rttMs.value_or(0) / 1000.0;
        if (kind.cases->write(text) != text.size()) {
            fail(m_file.fileName(), kind.cases->errorString());
            return;
        }
    }
    append(text, failed);
}

void JUnitReport::writeByKind(const QByteArray &interruption)
{
    const std::unique_ptr<QFileDevice> out = openWhole(m_file.fileName(), false);
    if (!out->isOpen()) {
        fail(m_file.fileName(), out->errorString());
        return;
    }
    out->write(Declaration);
    QByteArray head;
    {
        QXmlStreamWriter xml(&head);
        xml.writeStartElement(QStringLiteral("testsuites"));
        xml.writeAttribute(QStringLiteral("name"), m_suite);
        writeCounts(xml, m_tests, m_failures, m_seconds);
        xml.writeCharacters(QStringLiteral("\n"));
    }
    out->write(head);
    const auto suite = [&](const QString &name, qint64 tests, qint64 failures, double time) {
        QByteArray start;
        QXmlStreamWriter xml(&start);
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), name);
        writeCounts(xml, tests, failures, time);
        xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
        if (m_firstSent.isValid())
            xml.writeAttribute(QStringLiteral("timestamp"), isoTime(m_firstSent));
        xml.writeCharacters(QStringLiteral("\n"));
        out->write(start + properties());
    };
    for (auto &[name, kind] : m_kinds) {
        suite(QString::fromLatin1(printable(name)), kind.tests, kind.failures, kind.seconds);
        // Copied in pieces: memory stays flat for any number of records.
        kind.cases->seek(0);
        QByteArray chunk;
        while (!(chunk = kind.cases->read(1 << 16)).isEmpty())
            out->write(chunk);
        out->write("</testsuite>\n");
    }
    if (!interruption.isEmpty()) {
        suite(QStringLiteral("interrupted"), 1, 1, 0);
        out->write(interruption + "</testsuite>\n");
    }
    out->write("</testsuites>\n");
    if (!commitWhole(*out))
        fail(m_file.fileName(), out->errorString());
}

void JUnitReport::finish(const RunFigures &figures, const QStringList &, bool)
{
    if (!m_file.isOpen())
        return;
    m_seconds = figures.elapsedSeconds;
    QByteArray interruption;
    if (figures.interrupted) {
        QXmlStreamWriter xml(&interruption);
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("interrupted"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("ipnd-send"));
        xml.writeAttribute(QStringLiteral("time"), seconds(figures.elapsedSeconds));
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), figures.interruptedText());
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("interrupted"));
        xml.writeCharacters(figures.interruptedText());
        xml.writeEndElement();
        xml.writeEndElement();
        interruption += '\n';
    }
    if (!error().isEmpty()) {
        m_file.close();
        return;
    }
    if (!interruption.isEmpty())
        append(interruption, true);
    rewriteHeader();
    m_file.close();
    if (figures.conformance && error().isEmpty())
        writeByKind(interruption);
}
