#include "sender/SendRun.h"

#include "platform/CommandLine.h"
#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"
#include "sender/PeriodSchedule.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace {

constexpr qint64 PollIntervalMs = 10;

} // namespace

SendRun::Connection::Connection(SendRun &run, int number)
    : run(run), number(number), link(*this), replyTimeout([this] { this->run.replyTimedOut(*this); })
{
    // A headless sender never opens a listening port.
    link.listenAfterPeerClose = false;
    link.serveEventsWhileConnecting = false;
    link.wskMessage->setCloseWhenIdle(true);
    link.wskMessage->setConnectTimeout(run.m_options.connectTimeoutMs);
}

SendRun::SendRun(const SendOptions &options, FILE *out, FILE *progress)
    : m_options(options)
    , m_out(out)
    , m_progress(progress)
    , m_dataFile(*this)
{
    if (!m_options.reports.manifestFile.isEmpty() && m_options.mode == SendOptions::Mode::Replay) {
        m_manifest = std::make_unique<ManifestMatch>(*m_options.reports.accept, *m_options.reports.refuse,
                                                     [this](OutcomeRecord &&record) {
                                                         record.seq = ++m_seq;
                                                         recordOutcome(std::move(record));
                                                     });
    }
    for (int number = 1; number <= std::max(1, m_options.connections); ++number) {
        Connection *c = m_connections.emplace_back(std::make_unique<Connection>(*this, number)).get();
        connect(&c->link, &Link::replyHandled, this, [this, c](const QByteArray &reply) {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Answered, reply, {});
        });
        connect(&c->link, &Link::peerClosed, this, [this, c] {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Unanswered, {}, m_lastLine);
        });
        connect(&c->link, &Link::connectionFailed, this, [this, c] {
            ++m_summary.connectFailures;
            m_connectFailure = m_lastLine;
            // A connection that failed after the send can bring no reply.
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Unanswered, {}, m_lastLine);
        });
    }
    if (m_progress) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setInterval(500);
        connect(m_progressTimer, &QTimer::timeout, this, &SendRun::showProgress);
    }
}

SendRun::~SendRun() = default;

void SendRun::replyTimedOut(Connection &c)
{
    if (c.state != Connection::State::AwaitingReply)
        return;
    const QByteArray line =
        "Event: No reply within " + QByteArray::number(m_options.replyTimeoutMs) + " ms: connection closed";
    log(c.number, line);
    endExchange(c, Outcome::Unanswered, {}, line);
}

void SendRun::InsertLogText(const QString &text)
{
    InsertLog(text.toUtf8());
}

void SendRun::InsertLog(const QByteArray &source)
{
    log(m_logConnection, source);
}

void SendRun::log(int connection, const QByteArray &line, bool always)
{
    m_lastLine = line;
    if ((m_options.quiet && !always) || m_outGone)
        return;
    // The date and time down to the second are written once a second; the
    // milliseconds are three digits after them.
    const QDateTime now = m_wallClock.now();
    const qint64 ms = now.toMSecsSinceEpoch();
    if (ms / 1000 != m_stampSecond || m_stampPrefix.isEmpty()) {
        m_stampSecond = ms / 1000;
        m_stampPrefix = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")).toLatin1();
    }
    const int milli = int(ms % 1000);
    QByteArray text = m_stampPrefix;
    text += char('0' + milli / 100);
    text += char('0' + milli / 10 % 10);
    text += char('0' + milli % 10);
    text += ' ';
    if (connection > 0 && m_connections.size() > 1)
        text += '[' + QByteArray::number(connection) + "] ";
    text += line;
    text += '\n';
    // A reader of standard output that has gone (`| head`) ends the run as
    // a signal would; the reports are still finished.
    if (std::fwrite(text.constData(), 1, size_t(text.size()), m_out) != size_t(text.size()) && errno == EPIPE) {
        m_outGone = true;
        interrupt(SIGPIPE);
    }
}

void SendRun::complain(const QByteArray &line)
{
    std::fflush(m_out);
    std::fprintf(m_err, "ipnd-send: %s\n", line.constData());
    std::fflush(m_err);
}

void SendRun::OpenDialogBox(FileDialog &commonDialog, const QString &, QString &source, const QString &)
{
    commonDialog.FileName = m_options.replayFile;
    source = m_options.replayFile;
}

void SendRun::interrupt(int signalNumber)
{
    if (m_interruptedBy == 0)
        m_interruptedBy = signalNumber;
    stop();
}

void SendRun::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (const auto &c : m_connections) {
        if (c->state == Connection::State::AwaitingReply) {
            const QByteArray line = "Event: Stopped before the reply: connection closed";
            log(c->number, line);
            endExchange(*c, Outcome::Unanswered, {}, line);
        }
        // Also ends a wait for a connection at once, as the window's Close
        // button does.
        c->link.Close();
    }
}

RunDescription SendRun::description() const
{
    RunDescription run;
    const bool record = m_options.mode == SendOptions::Mode::Record;
    run.title = QStringLiteral("ipnd-send to %1:%2, %3")
                    .arg(m_options.host, m_options.port,
                         record ? QStringLiteral("record ") + m_options.recordName
                                : QFileInfo(m_options.replayFile).fileName());
    run.startedAt = m_startedAt;
    run.program = QStringLiteral("ipnd-send");
    run.version = versionText();
    run.commandLine = m_commandLine;
    run.target = m_options.host + QLatin1Char(':') + m_options.port;
    run.dataFile = record ? QString() : m_options.replayFile;
    run.format = record ? QString() : m_options.format.toLower();
    run.manifest = m_options.reports.manifestFile;
    return run;
}

int SendRun::run()
{
    QString reportError;
    m_startedAt = QDateTime::currentDateTimeUtc();
    if (m_manifest && !m_manifest->open(m_options.reports.manifestFile, &reportError)) {
        complain(reportError.toLocal8Bit());
        return 2;
    }
    if (!m_reports.open(m_options.reports, description(), &reportError)) {
        complain("Report: cannot write " + reportError.toLocal8Bit());
        return 2; // a report file that cannot be written is the command line's fault
    }
    m_clock.start();
    m_pollClock.start();
    if (m_progressTimer)
        m_progressTimer->start();
    if (m_options.mode == SendOptions::Mode::Record) {
        m_summary.recordsRead = 1;
        SendResult result = SendResult::NoConnection;
        try {
            result = SendTCPPacket(m_options.record);
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
        if (result != SendResult::Sent) {
            OutcomeRecord record;
            record.seq = ++m_seq;
            record.id = recordId(m_options.record);
            record.reason = m_lastLine;
            recordOutcome(record);
        }
        awaitAllConnections();
    } else {
        replay();
    }
    m_summary.elapsedSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    if (m_progressTimer) {
        m_progressTimer->stop();
        std::fputs("\r\033[K", m_progress);
        std::fflush(m_progress);
    }
    const RunFigures figures = this->figures();
    const QStringList missed = missedThresholds(m_options.reports.thresholds, figures);
    // A file that could not be opened, or a manifest that does not fit it,
    // is the command line's fault.
    int status = m_openFailed || m_misfit ? 2 : m_summary.exitStatus();
    if (status == 0 && !missed.isEmpty())
        status = 1;
    if (status == 3)
        complain("no connection to " + (m_options.host + QLatin1Char(':') + m_options.port).toLocal8Bit()
                 + " came up: " + m_connectFailure);
    if (m_interruptedBy != 0)
        status = 128 + m_interruptedBy;
    // A report that was asked for and is not whole fails the run as one
    // that cannot be opened does: CI must not read a cut report as a pass.
    const auto reportStatus = [&] {
        if (m_reports.failed() && status < 2)
            status = 2;
    };
    reportStatus();
    // The reports are finished before the summary goes out: a reader of
    // standard output that has gone away (`| head`) ends the program there.
    m_reports.finish(figures, missed, status == 0);
    reportWriteErrors();
    reportStatus();
    QByteArray summary = m_summary.text();
    for (const QString &line : missed)
        summary += line.toLatin1() + '\n';
    if (figures.interrupted)
        summary += figures.interruptedText().toLatin1() + '\n';
    if (!m_outGone && (std::fwrite(summary.constData(), 1, size_t(summary.size()), m_out) != size_t(summary.size())
                       || std::fflush(m_out) != 0)
        && errno == EPIPE && m_interruptedBy == 0)
        status = 128 + SIGPIPE;
    return status;
}

void SendRun::replay()
{
    m_dataFile.OpenDataFile();
    if (!m_dataFile.isDataFileOpen()) {
        m_openFailed = true; // the reason is in the log
        return;
    }
    PeriodSchedule schedule(m_options.periodSeconds * 1e9);
    const auto keepReading = [this] {
        settleReadStep();
        pollEvents();
        return !m_stopping;
    };
    bool endOfData = false;
    for (qint64 period = 0; !m_stopping && (m_options.count < 0 || period < m_options.count); ++period) {
        if (m_options.periodSeconds > 0) {
            if (period > 0)
                sleepUntil(schedule.next(m_clock.nsecsElapsed()));
        } else {
            awaitFreeConnection(); // each link a closed loop
        }
        if (m_stopping)
            break;
        try {
            m_dataFile.ReadAndSendPeriod(m_options.format, keepReading);
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
        settleReadStep();
        pollEvents();
        if ((endOfData = m_dataFile.takeEndOfData()))
            break;
    }
    awaitAllConnections();
    if (m_manifest && !m_misfit && !m_manifest->finish(endOfData, m_dataFile.counts().linesRead)) {
        m_misfit = true;
        complain("--manifest " + m_manifest->fileName().toLocal8Bit() + ": " + m_manifest->error().toLocal8Bit());
    }
    m_dataFile.closeDataFile();
}

void SendRun::settleReadStep()
{
    const DataFile::Counts &counts = m_dataFile.counts();
    for (; m_seen.linesRejected < counts.linesRejected; ++m_seen.linesRejected) {
        if (m_manifest) {
            m_manifest->lineRejected(m_lastLine); // settled with the entries, when the next record is found
            continue;
        }
        OutcomeRecord record;
        record.seq = ++m_seq;
        record.outcome = Outcome::Rejected;
        record.reason = m_lastLine;
        recordOutcome(record);
    }
    if (counts.recordsRead > m_seen.recordsRead && m_summary.sent == m_sentSeen && !m_misfit) {
        if (counts.recordsTooShort > m_seen.recordsTooShort)
            InsertLog("RSFP: Record too short, not sent: " + currentRecord());
        OutcomeRecord record;
        record.id = recordId(currentRecord());
        record.connection = m_logConnection;
        record.reason = m_lastLine;
        if (m_manifest && !m_currentMatch)
            m_currentMatch = matchRecord(false);
        if (m_currentMatch) {
            record.expect = m_currentMatch->expect;
            if (m_currentMatch->plannedRejection)
                record.outcome = Outcome::Rejected;
        }
        if (!m_misfit) {
            record.seq = ++m_seq;
            recordOutcome(record);
        }
    }
    m_currentMatch.reset();
    m_seen = counts;
    m_sentSeen = m_summary.sent;
    m_logConnection = 0;
    m_summary.recordsRead = counts.recordsRead;
    m_summary.linesRejected = counts.linesRejected;
    m_summary.tooShort = counts.recordsTooShort;
}

void SendRun::recordOutcome(OutcomeRecord record)
{
    switch (record.outcome) {
    case Outcome::Answered: {
        m_summary.roundTrips.add(*record.rttMs);
        const std::optional<ReplyExpectation> &expectation = m_options.reports.expectation;
        if (m_manifest) {
            record.outcome = m_manifest->judge(record.expect, *record.reply, record.id);
            if (isFailure(record.outcome)) {
                ++m_summary.unexpected;
                record.reason = "Event: " + outcomeName(record.outcome).toLatin1() + " reply to record "
                    + printable(record.id) + " (" + record.expect + "): " + printable(*record.reply);
                log(record.connection, record.reason);
            } else {
                ++m_summary.answered;
            }
        } else if (expectation && !expectation->matches(*record.reply, record.id)) {
            ++m_summary.unexpected;
            record.outcome = Outcome::Unexpected;
            record.reason = ReplyExpectation::unexpectedLine(record.id, *record.reply);
            log(record.connection, record.reason);
        } else {
            ++m_summary.answered;
        }
        break;
    }
    case Outcome::Unanswered:
        ++m_summary.unanswered;
        break;
    case Outcome::Rejected:
        m_summary.unplannedRejections += record.unplanned;
        break;
    case Outcome::Unexpected: // decided here, never handed in
    case Outcome::Accepted:
    case Outcome::Refused:
    case Outcome::FalseAccept:
    case Outcome::FalseRefuse:
    case Outcome::NotSent: // counted from the reader's counts
        break;
    }
    m_summary.byExpect.count(record);
    m_reports.add(record);
    reportWriteErrors();
}

void SendRun::reportWriteErrors()
{
    for (const QString &error : m_reports.takeErrors())
        complain("Report: cannot write " + error.toLocal8Bit());
}

RunFigures SendRun::figures() const
{
    RunFigures figures;
    figures.read = m_summary.recordsRead;
    figures.sent = m_summary.sent;
    figures.answered = m_summary.answered;
    figures.unexpected = m_summary.unexpected;
    figures.unanswered = m_summary.unanswered;
    figures.notSent = m_summary.notSent();
    figures.rejected = m_summary.linesRejected;
    const RoundTripHistogram &rtt = m_summary.roundTrips;
    if (rtt.count() > 0)
        figures.rttMs = RunFigures::RoundTrips{rtt.min(), rtt.percentile(50), rtt.percentile(90), rtt.percentile(99),
                                               rtt.max(), rtt.percentile(99.9)};
    figures.elapsedSeconds = m_summary.elapsedSeconds;
    figures.byExpect = m_summary.byExpect;
    figures.conformance = m_manifest != nullptr;
    figures.interrupted = m_interruptedBy != 0;
    figures.handled = m_manifest ? m_manifest->entriesHandled() : m_seq;
    if (figures.interrupted) {
        // Counted only now: a run that goes to its end never reads the files twice.
        if (m_options.mode == SendOptions::Mode::Record)
            figures.planned = 1;
        else if (m_manifest)
            figures.planned = ManifestReader::countLines(m_options.reports.manifestFile);
        else if (m_options.format == QLatin1String(RawLogMode))
            figures.planned = ManifestReader::countLines(m_options.replayFile);
        if (figures.planned && m_options.count > 0 && !m_manifest)
            figures.planned = std::min(*figures.planned, m_options.count);
    }
    return figures;
}

SendRun::Connection *SendRun::freeConnection() const
{
    // A link whose socket still held something would answer "busy" rather
    // than leave the run waiting for it.
    for (const auto &c : m_connections) {
        if (c->state == Connection::State::Free)
            return c.get();
    }
    return nullptr;
}

bool SendRun::anyBusy() const
{
    return std::any_of(m_connections.begin(), m_connections.end(),
                       [](const auto &c) { return c->state != Connection::State::Free; });
}

void SendRun::awaitFreeConnection()
{
    // Every busy link has a reply timeout running: some event will come.
    while (!m_stopping && !freeConnection())
        waitAndDispatchEvents();
}

void SendRun::awaitAllConnections()
{
    while (anyBusy())
        waitAndDispatchEvents();
}

void SendRun::pollEvents()
{
    if (m_pollClock.elapsed() < PollIntervalMs)
        return;
    dispatchPendingEvents();
    m_pollClock.restart();
}

void SendRun::sleepUntil(qint64 nsSinceStart)
{
    std::fflush(m_out);
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    // A timer may fire a little early: sleep again until the time has come.
    for (qint64 wait = nsSinceStart - m_clock.nsecsElapsed(); wait > 0 && !m_stopping;
         wait = nsSinceStart - m_clock.nsecsElapsed()) {
        wake.start(int(std::min<qint64>((wait + 999999) / 1000000, 24 * 3600 * 1000)));
        while (!m_stopping && wake.isActive())
            waitAndDispatchEvents();
    }
}

std::optional<ManifestMatch::Match> SendRun::matchRecord(bool goesOut)
{
    std::optional<ManifestMatch::Match> match =
        m_manifest->recordRead(recordId(currentRecord()), m_dataFile.counts().linesRead, goesOut);
    if (!match) {
        m_misfit = true;
        complain("--manifest " + m_manifest->fileName().toLocal8Bit() + ": " + m_manifest->error().toLocal8Bit());
        stop();
    }
    return match;
}

SendResult SendRun::SendTCPPacket(const QByteArray &source)
{
    if (m_stopping)
        return SendResult::NoConnection;
    if (m_manifest && m_options.mode == SendOptions::Mode::Replay) {
        // Matched before it goes out: a record the manifest does not know
        // is never sent.
        m_currentMatch = matchRecord(true);
        if (!m_currentMatch)
            return SendResult::Withheld;
    }
    Connection *c = freeConnection();
    if (!c)
        return SendResult::Busy; // every link still holds an exchange: as the window, the record is dropped
    m_logConnection = c->number;
    c->state = Connection::State::Connecting;
    c->pending = OutcomeRecord();
    c->pending.id = recordId(currentRecord());
    c->pending.connection = c->number;
    if (m_currentMatch)
        c->pending.expect = m_currentMatch->expect;
    SendResult result = SendResult::NoConnection;
    try {
        result = c->link.SendTCPPacket(source);
    } catch (...) {
        c->state = Connection::State::Free;
        throw;
    }
    if (result != SendResult::Sent) {
        c->state = Connection::State::Free;
        return result;
    }
    m_summary.everConnected = true;
    ++m_summary.sent;
    c->pending.seq = ++m_seq;
    c->pending.sentAt = QDateTime::currentDateTimeUtc();
    c->state = Connection::State::AwaitingReply;
    c->roundTrip.start();
    c->replyTimeout.start(m_options.replyTimeoutMs);
    return result;
}

void SendRun::endExchange(Connection &connection, Outcome outcome, const QByteArray &reply, const QByteArray &logLine)
{
    connection.replyTimeout.stop();
    connection.state = Connection::State::Free;
    OutcomeRecord record = std::move(connection.pending);
    record.outcome = outcome;
    record.reason = logLine;
    if (outcome == Outcome::Answered) {
        record.rttMs = double(connection.roundTrip.nsecsElapsed()) / 1e6;
        record.reply = reply;
    }
    // Whatever the socket still holds (an unanswered connection) goes: the
    // next record needs a closed socket.
    connection.link.Close();
    recordOutcome(std::move(record));
}

QByteArray SendRun::currentRecord() const
{
    return m_options.mode == SendOptions::Mode::Record ? m_options.record : m_dataFile.state().CurrentRecord;
}

void SendRun::showProgress()
{
    std::fprintf(m_progress, "\r\033[K%lld read, %lld sent, %lld answered, %lld unanswered, %lld rejected",
                 static_cast<long long>(m_dataFile.counts().recordsRead + (m_options.mode == SendOptions::Mode::Record)),
                 static_cast<long long>(m_summary.sent), static_cast<long long>(m_summary.answered),
                 static_cast<long long>(m_summary.unanswered),
                 static_cast<long long>(m_dataFile.counts().linesRejected));
    std::fflush(m_progress);
}
