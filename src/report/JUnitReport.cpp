#include "report/ReportWriters.h"

#include "platform/SameFile.h"

#include <QXmlStreamWriter>

namespace {
const QByteArray Tail = "</testsuite>\n</testsuites>\n";
// Room for the counts, the time and the time stamp to grow into.
constexpr qint64 HeaderRoom = 256;

QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}
} // namespace

JUnitReport::JUnitReport(const QString &fileName, const QString &suiteName) : m_file(fileName), m_suite(suiteName) {}

QByteArray JUnitReport::header() const
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    const auto counts = [&] {
        xml.writeAttribute(QStringLiteral("tests"), QString::number(m_tests));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(m_failures));
        xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("time"), seconds(m_seconds));
    };
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    counts();
    xml.writeCharacters(QStringLiteral("\n")); // ends the start tag
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    counts();
    xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
    if (m_firstSent.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), isoTime(m_firstSent));
    xml.writeCharacters(QString());
    return out;
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
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    m_headerAt = declaration.size();
    m_headerSize = header().size() + HeaderRoom;
    m_tailAt = m_headerAt + m_headerSize;
    if (!writeAt(0, declaration + paddedHeader() + Tail))
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

void JUnitReport::add(const OutcomeRecord &record)
{
    if (!wasSent(record.outcome) || !error().isEmpty())
        return;
    ++m_tests;
    if (!m_firstSent.isValid())
        m_firstSent = record.sentAt;
    if (record.sentAt.isValid())
        m_seconds = std::max(m_seconds, double(m_firstSent.msecsTo(record.sentAt)) / 1000.0
                                              + record.rttMs.value_or(0) / 1000.0);

    QByteArray testcase;
    QXmlStreamWriter xml(&testcase);
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), record.id.isEmpty() ? QStringLiteral("record %1").arg(record.seq)
                                                                   : QString::fromLatin1(printable(record.id)));
    // CI readers split a class name at its dots: a plain one keeps the
    // test cases together.
    xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("ipnd-send"));
    xml.writeAttribute(QStringLiteral("time"), seconds(record.rttMs.value_or(0) / 1000.0));
    if (record.outcome != Outcome::Answered) {
        ++m_failures;
        const QByteArray message = record.outcome == Outcome::Unexpected
            ? "unexpected reply: " + printable(record.reply.value_or(QByteArray()))
            : (record.reason.isEmpty() ? QByteArray("no reply") : printable(record.reason));
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
    testcase += '\n';

    // The record goes where the closing tags were; they follow it again.
    if (!writeAt(m_tailAt, testcase + Tail))
        return;
    m_tailAt += testcase.size();
    rewriteHeader();
}

void JUnitReport::finish(const RunFigures &figures, const QStringList &, bool)
{
    if (!m_file.isOpen())
        return;
    m_seconds = figures.elapsedSeconds;
    if (error().isEmpty())
        rewriteHeader();
    m_file.close();
}
