#include "report/ReportWriters.h"

#include "platform/OutputFile.h"

#include <QTemporaryDir>
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
    case Outcome::NotSent:
        if (record.reason.isEmpty())
            return "not sent";
        break;
    default:
        break;
    }
    const QByteArray reason = record.reason.isEmpty() ? QByteArray("no reply") : printable(record.reason);
    return expect.isEmpty() ? reason : outcomeName(record.outcome).toLatin1() + ": " + expect + ", " + reason;
}
} // namespace

JUnitReport::JUnitReport(const QString &fileName, const QString &suiteName)
    : m_name(fileName), m_file(std::make_unique<QFile>()), m_suite(suiteName)
{
}

JUnitReport::~JUnitReport() = default;

QByteArray JUnitReport::header() const
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    // The case of a run not yet finished counts until it goes.
    const qint64 unfinished = m_finished ? 0 : 1;
    writeCounts(xml, m_tests + unfinished, m_failures + unfinished, m_seconds);
    xml.writeCharacters(QStringLiteral("\n")); // ends the start tag
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), m_suite);
    writeCounts(xml, m_tests + unfinished, m_failures + unfinished, m_seconds);
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(m_skipped));
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
    QString reason = m_file->errorString();
    if (!m_file->seek(position) || !writeAll(*m_file, bytes, &reason)) {
        fail(m_name, reason);
        return false;
    }
    return true;
}

bool JUnitReport::open()
{
    // The counts at the top are rewritten in place as the run goes: only a
    // regular file can take that (a pipe would also block the open).
    if (isDeviceOrPipe(m_name)) {
        fail(m_name, QStringLiteral("not a regular file, and a JUnit report is rewritten in place"));
        return false;
    }
    // Unbuffered: each write reaches the file at once, and a full disk is
    // met where it can still be undone.
    m_file = openOutput(m_name, {OutputWay::File::Truncated, OutputWay::Other::AsFile, false, true});
    if (!m_file->isOpen()) {
        fail(m_name, m_file->errorString());
        return false;
    }
    m_unfinished = testcaseText(QStringLiteral("unfinished"), QStringLiteral("ipnd-send"), 0, Result::Failed,
                                "the run ended before its report was finished", QStringLiteral("unfinished"),
                                QString());
    const QByteArray declaration = Declaration;
    m_headerAt = declaration.size();
    m_headerSize = header().size() + HeaderRoom;
    const QByteArray head = declaration + paddedHeader() + properties();
    m_tailAt = head.size();
    return writeAt(0, head + tail());
}

QByteArray JUnitReport::tail() const
{
    return m_finished ? Tail : m_unfinished + Tail;
}

QByteArray JUnitReport::paddedHeader() const
{
    return header().leftJustified(m_headerSize - 1, ' ') + '\n';
}

void JUnitReport::rewriteHeader()
{
    writeAt(m_headerAt, paddedHeader());
}

QByteArray JUnitReport::testcase(const OutcomeRecord &record, Result *result) const
{
    // Every line is a case. Without a manifest a rejected line, or a record
    // too short to send, is the data's fault: skipped, not failed. With one,
    // a line rejected that no entry planned fails the run, and its case.
    *result = Result::Passed;
    if (isFailure(record))
        *result = Result::Failed;
    else if (record.expect.isEmpty() && (record.outcome == Outcome::Rejected || record.dataFault))
        *result = Result::Skipped;
    const QByteArray message = *result == Result::Skipped ? printable(record.reason) : failureMessage(record);
    const QString where = wasSent(record.outcome) ? QStringLiteral("record %1 sent at %2 on connection %3\n")
                                                        .arg(record.seq)
                                                        .arg(isoTime(record.sentAt))
                                                        .arg(record.connection)
                                                  : QStringLiteral("line %1\n").arg(record.seq);
    // A line without an id is named by its seq: a record that went out, or a line.
    const QString unnamed = wasSent(record.outcome) ? QStringLiteral("record %1") : QStringLiteral("line %1");
    return testcaseText(record.id.isEmpty() ? unnamed.arg(record.seq) : QString::fromLatin1(printable(record.id)),
                        record.expect.isEmpty() ? QStringLiteral("ipnd-send")
                                                : QString::fromLatin1(printable(record.expect)),
                        record.rttMs.value_or(0) / 1000.0, *result, message, outcomeName(record.outcome), where);
}

QByteArray JUnitReport::testcaseText(const QString &name, const QString &className, double time, Result result,
                                     const QByteArray &message, const QString &type, const QString &where)
{
    QByteArray testcase;
    QXmlStreamWriter xml(&testcase);
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), name);
    // CI readers split a class name at its dots: a plain one keeps the
    // test cases together.
    xml.writeAttribute(QStringLiteral("classname"), className);
    xml.writeAttribute(QStringLiteral("time"), seconds(time));
    if (result != Result::Passed) {
        xml.writeStartElement(result == Result::Failed ? QStringLiteral("failure") : QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), QString::fromLatin1(message));
        xml.writeAttribute(QStringLiteral("type"), type);
        xml.writeCharacters(where + QString::fromLatin1(message));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    return testcase + '\n';
}

void JUnitReport::append(const QByteArray &testcase, Result result)
{
    ++m_tests;
    m_failures += result == Result::Failed;
    m_skipped += result == Result::Skipped;
    // The case goes where the closing tags were; they follow it again.
    if (!writeAt(m_tailAt, testcase + tail())) {
        // Out of room: the closing tags go back where they were, over blocks
        // the file already has, and what was written past them is cut off,
        // so that the last whole document stays.
        QString ignored;
        if (m_file->seek(m_tailAt) && writeAll(*m_file, tail(), &ignored))
            m_file->resize(m_tailAt + tail().size());
        return;
    }
    m_tailAt += testcase.size();
    rewriteHeader();
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

    Result result = Result::Passed;
    const QByteArray text = testcase(record, &result);
    Kind &kind = kindOf(record);
    QFile *cases = casesOf(kind);
    if (!cases)
        return;
    ++kind.tests;
    kind.failures += result == Result::Failed;
    kind.skipped += result == Result::Skipped;
    // The wall time the kind's exchanges spanned: they overlap over
    // several connections, and a sum would count the overlap twice.
    if (record.sentAt.isValid()) {
        const double sentMs = double(record.sentAt.toMSecsSinceEpoch());
        kind.firstSentMs = kind.firstSentMs < 0 || sentMs < kind.firstSentMs ? sentMs : kind.firstSentMs;
        kind.lastEndMs = std::max(kind.lastEndMs, sentMs + record.rttMs.value_or(0));
        kind.seconds = (kind.lastEndMs - kind.firstSentMs) / 1000.0;
    }
    if (cases->write(text) != text.size()) {
        fail(m_name, cases->errorString());
        return;
    }
    append(text, result);
}

JUnitReport::Kind &JUnitReport::kindOf(const OutcomeRecord &record)
{
    if (!record.expect.isEmpty())
        return m_kinds[record.expect];
    return record.outcome == Outcome::Rejected ? m_rejectedLines : m_records;
}

QFile *JUnitReport::casesOf(Kind &kind)
{
    if (kind.cases.isOpen()) {
        m_openKinds.remove(&kind);
        m_openKinds.push_front(&kind);
        return &kind.cases;
    }
    if (!m_kindDir) {
        m_kindDir = std::make_unique<QTemporaryDir>();
        if (!m_kindDir->isValid()) {
            fail(m_name, m_kindDir->errorString());
            return nullptr;
        }
    }
    if (kind.casesPath.isEmpty())
        kind.casesPath = &kind == &m_records          ? m_kindDir->filePath(QStringLiteral("records"))
                         : &kind == &m_rejectedLines ? m_kindDir->filePath(QStringLiteral("rejected"))
                                                     : m_kindDir->filePath(QString::number(m_kinds.size()));
    if (m_openKinds.size() >= MaxOpenKinds) {
        m_openKinds.back()->cases.close();
        m_openKinds.pop_back();
    }
    kind.cases.setFileName(kind.casesPath);
    if (!kind.cases.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(m_name, kind.cases.errorString());
        return nullptr;
    }
    m_openKinds.push_front(&kind);
    return &kind.cases;
}

void JUnitReport::writeByKind(const QByteArray &interruption, const QByteArray &runCases, qint64 runTests,
                              qint64 runFailures)
{
    const std::unique_ptr<QFileDevice> out = openOutput(m_name, {OutputWay::File::Replaced, OutputWay::Other::AsFile});
    if (!out->isOpen()) {
        fail(m_name, out->errorString());
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
    const auto suite = [&](const QString &name, qint64 tests, qint64 failures, double time, qint64 skipped = 0) {
        QByteArray start;
        QXmlStreamWriter xml(&start);
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), name);
        writeCounts(xml, tests, failures, time);
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        if (m_firstSent.isValid())
            xml.writeAttribute(QStringLiteral("timestamp"), isoTime(m_firstSent));
        xml.writeCharacters(QStringLiteral("\n"));
        out->write(start + properties());
    };
    const auto copy = [&](const QString &name, Kind &kind) {
        suite(name, kind.tests, kind.failures, kind.seconds, kind.skipped);
        // Copied in pieces: memory stays flat for any number of records.
        kind.cases.close();
        kind.cases.setFileName(kind.casesPath);
        if (kind.tests > 0 && !kind.cases.open(QIODevice::ReadOnly)) {
            fail(m_name, kind.cases.errorString());
            return false;
        }
        QByteArray chunk;
        while (kind.cases.isOpen() && !(chunk = kind.cases.read(1 << 16)).isEmpty())
            out->write(chunk);
        kind.cases.close();
        out->write("</testsuite>\n");
        return true;
    };
    m_openKinds.clear(); // each is closed as it is copied
    for (auto &[name, kind] : m_kinds) {
        if (!copy(QString::fromLatin1(printable(name)), kind))
            return;
    }
    // Without a manifest the records' suite is there even when none was
    // read: its count is the summary's records read.
    if ((m_kinds.empty() || m_records.tests > 0) && !copy(m_suite, m_records))
        return;
    if (m_rejectedLines.tests > 0 && !copy(QStringLiteral("rejected lines"), m_rejectedLines))
        return;
    if (!interruption.isEmpty()) {
        suite(QStringLiteral("interrupted"), 1, 1, 0);
        out->write(interruption + "</testsuite>\n");
    }
    if (!runCases.isEmpty()) {
        suite(QStringLiteral("run"), runTests, runFailures, 0);
        out->write(runCases + "</testsuite>\n");
    }
    out->write("</testsuites>\n");
    if (!commitWhole(*out))
        fail(m_name, out->errorString());
}

void JUnitReport::finish(const RunFigures &figures, const QStringList &missed, bool passed)
{
    if (!m_file->isOpen())
        return;
    m_seconds = figures.elapsedSeconds;
    QByteArray interruption;
    if (figures.interrupted)
        interruption = testcaseText(QStringLiteral("interrupted"), QStringLiteral("ipnd-send"), figures.elapsedSeconds,
                                    Result::Failed, figures.interruptedText().toLatin1(), QStringLiteral("interrupted"),
                                    QString());
    if (!error().isEmpty()) {
        m_file->close();
        return;
    }
    if (!interruption.isEmpty())
        append(interruption, Result::Failed);
    // A run that failed never leaves a report without a failure: CI reads
    // the cases, not the exit status.
    QByteArray runCases;
    qint64 runTests = 0;
    qint64 runFailures = 0;
    const auto runCase = [&](const QString &name, const QByteArray &message, const QString &type, Result result) {
        const QByteArray text = testcaseText(name, QStringLiteral("ipnd-send"), 0, result, message, type, QString());
        runCases += text;
        ++runTests;
        runFailures += result == Result::Failed;
        append(text, result);
    };
    // A threshold met is a passing case, so that CI lists what was checked.
    for (const auto &[lines, result] : {std::pair{&figures.thresholdsMet, Result::Passed},
                                        std::pair{&missed, Result::Failed}}) {
        for (const QString &line : *lines)
            runCase(QStringLiteral("threshold ") + line.section(QStringLiteral(": "), 1, 1), line.toLatin1(),
                    QStringLiteral("threshold"), result);
    }
    if (!passed && m_failures == 0)
        runCase(QStringLiteral("run"), figures.counts.sent == 0 ? QByteArray("no record was sent") : QByteArray("the run failed"),
                QStringLiteral("run"), Result::Failed);
    // Only now, with every case in, does the unfinished run's case go.
    if (error().isEmpty()) {
        m_finished = true;
        if (writeAt(m_tailAt, tail())) {
            if (m_file->resize(m_tailAt + tail().size()))
                rewriteHeader();
            else
                fail(m_name, m_file->errorString());
        }
    }
    m_file->close();
    if (error().isEmpty())
        writeByKind(interruption, runCases, runTests, runFailures);
}
