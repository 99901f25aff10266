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
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(m_skipped));
    if (m_firstSent.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), isoTime(m_firstSent));
    xml.writeCharacters(QString());
    return out;
}

bool JUnitReport::writeAt(qint64 position, const QByteArray &bytes)
{
    QString reason = m_file.errorString();
    if (!m_file.seek(position) || !writeAll(m_file, bytes, &reason)) {
        fail(m_file.fileName(), reason);
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
    // Unbuffered: each write reaches the file at once, and a full disk is
    // met where it can still be undone.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(m_file.fileName(), m_file.errorString());
        return false;
    }
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    m_headerAt = declaration.size();
    m_headerSize = header().size() + HeaderRoom;
    m_tailAt = m_headerAt + m_headerSize;
    return writeAt(0, declaration + paddedHeader() + Tail);
}

QByteArray JUnitReport::paddedHeader() const
{
    return header().leftJustified(m_headerSize - 1, ' ') + '\n';
}

void JUnitReport::rewriteHeader()
{
    writeAt(m_headerAt, paddedHeader());
}

void JUnitReport::add(const OutcomeRecord &record)
{
    if (!error().isEmpty())
        return;
    if (record.sentAt.isValid()) {
        // Records come as their exchanges end, not in the order they went.
        if (!m_firstSent.isValid() || record.sentAt < m_firstSent)
            m_firstSent = record.sentAt;
        m_lastEndMs = std::max(m_lastEndMs, double(record.sentAt.toMSecsSinceEpoch()) + record.rttMs.value_or(0));
        m_seconds = (m_lastEndMs - double(m_firstSent.toMSecsSinceEpoch())) / 1000.0;
    }
    const QString name = record.id.isEmpty() ? QStringLiteral("line %1").arg(record.seq)
                                             : QString::fromLatin1(printable(record.id));
    const QByteArray reason = record.reason.isEmpty() ? QByteArray() : printable(record.reason);
    Case result;
    switch (record.outcome) {
    case Outcome::Answered:
        break;
    case Outcome::Unexpected:
        result = {Case::Failure, "unexpected reply: " + printable(record.reply.value_or(QByteArray()))};
        break;
    case Outcome::Unmatched:
        result = {Case::Failure, reason};
        break;
    case Outcome::Unanswered:
        result = {Case::Failure, reason.isEmpty() ? QByteArray("no reply") : reason};
        break;
    case Outcome::NotSent:
        // A record too short to send is the data's fault, as a rejected line is.
        result = {record.dataFault ? Case::Skipped : Case::Failure, reason.isEmpty() ? QByteArray("not sent") : reason};
        break;
    case Outcome::Rejected:
        result = {Case::Skipped, reason.isEmpty() ? QByteArray("rejected by the reader") : reason};
        break;
    }
    const QString where = wasSent(record.outcome) ? QStringLiteral("line %1 sent at %2 on connection %3\n")
                                                        .arg(record.seq)
                                                        .arg(isoTime(record.sentAt))
                                                        .arg(record.connection)
                                                  : QStringLiteral("line %1\n").arg(record.seq);
    addCase(name, record.rttMs.value_or(0) / 1000.0, result, outcomeName(record.outcome), where);
}

void JUnitReport::addCase(const QString &name, double time, const Case &result, const QString &type,
                          const QString &where)
{
    ++m_tests;
    m_failures += result.kind == Case::Failure;
    m_skipped += result.kind == Case::Skipped;
    QByteArray testcase;
    QXmlStreamWriter xml(&testcase);
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), name);
    // CI readers split a class name at its dots: a plain one keeps the
    // test cases together.
    xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("ipnd-send"));
    xml.writeAttribute(QStringLiteral("time"), seconds(time));
    if (result.kind != Case::Passed) {
        xml.writeStartElement(result.kind == Case::Failure ? QStringLiteral("failure") : QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), QString::fromLatin1(result.message));
        xml.writeAttribute(QStringLiteral("type"), type);
        xml.writeCharacters(where + QString::fromLatin1(result.message));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    testcase += '\n';

    // The case goes where the closing tags were; they follow it again.
    if (!writeAt(m_tailAt, testcase + Tail)) {
        // Out of room: the closing tags go back where they were, over blocks
        // the file already has, and what was written past them is cut off,
        // so that the last whole document stays.
        QString ignored;
        if (m_file.seek(m_tailAt) && writeAll(m_file, Tail, &ignored))
            m_file.resize(m_tailAt + Tail.size());
        return;
    }
    m_tailAt += testcase.size();
    rewriteHeader();
}

void JUnitReport::finish(const RunFigures &figures, const QStringList &missed, bool passed)
{
    if (!m_file.isOpen())
        return;
    m_seconds = figures.elapsedSeconds;
    // A run that failed never leaves a report without a failure: CI reads
    // the cases, not the exit status.
    for (const QString &line : missed) {
        if (error().isEmpty())
            addCase(QStringLiteral("threshold ") + line.section(QStringLiteral(": "), 1, 1), 0,
                    {Case::Failure, line.toLatin1()}, QStringLiteral("threshold"), QString());
    }
    if (!passed && m_failures == 0 && error().isEmpty())
        addCase(QStringLiteral("run"), figures.elapsedSeconds,
                {Case::Failure, figures.sent == 0 ? QByteArray("no record was sent") : QByteArray("the run failed")},
                QStringLiteral("run"), QString());
    if (error().isEmpty())
        rewriteHeader();
    m_file.close();
}
