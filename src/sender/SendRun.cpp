#include "sender/SendRun.h"

#include "platform/CommandLine.h"
#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"
#include "platform/Tls.h"
#include "sender/PeriodSchedule.h"
#include "testpackets/FieldTable.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <csignal>

namespace {

constexpr qint64 PollIntervalMs = 10;

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

} // namespace

SendRun::Connection::Connection(SendRun &run, int number)
    : run(run), number(number), link(*this), replyTimeout([this] { this->run.replyTimedOut(*this); })
{
    // A headless sender never opens a listening port.
    link.listenAfterPeerClose = false;
    link.serveEventsWhileConnecting = false;
    link.wskMessage->setCloseWhenIdle(true);
    link.wskMessage->setConnectTimeout(run.m_options.connectTimeoutMs);
    link.replyGapMs = run.m_options.replyGapMs;
}

SendRun::SendRun(const SendOptions &options, FILE *out, FILE *status, bool terminal)
    : m_options(options)
    , m_out(out)
    , m_status(status)
    , m_dataFile(*this)
    , m_backlog(options.maxBacklog)
{
    if (!m_options.reports.manifestFile.isEmpty() && m_options.mode == SendOptions::Mode::Replay) {
        m_manifest = std::make_unique<ManifestMatch>(*m_options.reports.accept, *m_options.reports.refuse,
                                                     [this](OutcomeRecord &&record) {
                                                         record.seq = ++m_seq;
                                                         recordOutcome(std::move(record));
                                                     });
        // A manifest from a pipe may keep the run waiting: replies and a
        // stop are still seen.
        m_manifest->setKeepWaiting([this] {
            dispatchPendingEvents();
            return !m_stopping;
        });
    }
    for (int number = 1; number <= std::max(1, m_options.connections); ++number) {
        Connection *c = m_connections.emplace_back(std::make_unique<Connection>(*this, number)).get();
        c->link.setMisbehaviour(m_options.misbehaviour);
        connect(&c->link, &Link::packetSent, this, [this, c] { packetWritten(*c); });
        connect(&c->link, &Link::replyHandled, this, [this, c](const QByteArray &reply) {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Answered, reply, {});
        });
        connect(&c->link, &Link::peerClosed, this, [this, c] {
            if (c->state == Connection::State::AwaitingReply)
                endExchange(*c, Outcome::Unanswered, {}, m_lastLine);
        });
        connect(&c->link, &Link::connectionFailed, this, [this, c] { connectionFailed(*c); });
    }
    m_wake.setTimerType(Qt::PreciseTimer);
    m_wake.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    m_durationTimer.setSingleShot(true);
    connect(&m_durationTimer, &QTimer::timeout, this, [this] { m_sendingOver = true; });
    if (!m_status)
        return;
    if (m_options.progressSeconds > 0) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setTimerType(Qt::PreciseTimer);
        m_progressTimer->setInterval(std::chrono::milliseconds(std::llround(m_options.progressSeconds * 1000)));
        connect(m_progressTimer, &QTimer::timeout, this, &SendRun::writeProgressLine);
    } else if (terminal && !m_options.quiet) {
        m_liveLineTimer = new QTimer(this);
        m_liveLineTimer->setInterval(500);
        connect(m_liveLineTimer, &QTimer::timeout, this, &SendRun::showLiveLine);
    }
}

SendRun::~SendRun() = default;

void SendRun::replyTimedOut(Connection &c)
{
    if (c.state != Connection::State::AwaitingReply)
        return;
    // A reply still coming in pieces is what came within the timeout.
    if (c.link.replyUnderWay()) {
        c.link.endReply();
        return;
    }
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
    // The reader says "Data Sent" as soon as the link has the record; it is
    // logged when the packet is written.
    if (Exchange *exchange = std::exchange(m_sentLineOf, nullptr)) {
        if (exchange->written)
            log(exchange->pending.connection, source);
        else if (exchange != &m_endedExchange)
            exchange->sentLine = source;
        return;
    }
    log(m_logConnection, source);
}

void SendRun::log(int connection, const QByteArray &line)
{
    m_lastLine = line;
    if (m_options.quiet || m_outGone)
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
    if (!written(text)) {
        m_outGone = true;
        interrupt(SIGPIPE);
    }
}

bool SendRun::written(const QByteArray &text)
{
    // A line-buffered stream whose flush failed still says it took the
    // bytes: its error flag tells whether they reached the descriptor.
    std::clearerr(m_out);
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    return !(std::ferror(m_out) || std::fflush(m_out) != 0) || errno != EPIPE;
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
        } else if (c->state == Connection::State::Connecting) {
            settleConnecting(*c, "RSFP: Stopped before the connection came up, not sent: " + c->exchange.record);
        }
        // Also ends a wait for a connection at once, as the window's Close
        // button does.
        c->link.Close();
    }
    while (std::optional<Exchange> waiting = m_backlog.pop())
        settleNotSent(std::move(*waiting), "RSFP: Stopped while waiting for a connection, not sent: " + waiting->record);
}

RunDescription SendRun::description() const
{
    RunDescription run;
    const bool record = m_options.mode == SendOptions::Mode::Record;
    run.title = QStringLiteral("ipnd-send to %1, %2")
                    .arg(m_options.endpoint(),
                         record ? QStringLiteral("record ") + m_options.recordName
                                : QFileInfo(m_options.replayFile).fileName());
    run.startedAt = m_startedAt;
    run.program = QStringLiteral("ipnd-send");
    run.version = versionText();
    run.commandLine = m_commandLine;
    run.target = m_options.endpoint();
    run.dataFile = record ? QString() : m_options.replayFile;
    run.format = record ? QString() : dataFormatOption(m_options.format);
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
    if (m_liveLineTimer)
        m_liveLineTimer->start();
    if (m_progressTimer)
        m_progressTimer->start();
    if (m_options.durationSeconds > 0)
        m_durationTimer.start(std::chrono::milliseconds(std::llround(m_options.durationSeconds * 1000)));
    if (m_options.mode == SendOptions::Mode::Record) {
        m_summary.recordsRead = 1;
        SendResult result = SendResult::NoConnection;
        try {
            result = SendTCPPacket(m_options.record);
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
        // The fixed record is logged by the link alone.
        m_sentLineOf = nullptr;
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
    if (m_tls)
        m_summary.tlsHandshakes = {m_tls->fullHandshakes(), m_tls->resumedHandshakes()};
    if (m_schedule)
        m_summary.dueRecords = m_schedule->due();
    if (m_progressTimer)
        m_progressTimer->stop();
    if (m_liveLineTimer) {
        m_liveLineTimer->stop();
        std::fputs("\r\033[K", m_status);
        std::fflush(m_status);
    }
    RunFigures figures = this->figures();
    const QList<ThresholdCheck> thresholds = checkThresholds(m_options.reports.thresholds, figures);
    const QStringList missed = thresholdLines(thresholds, false);
    figures.thresholdsMet = thresholdLines(thresholds, true);
    // A file that could not be opened, or a manifest that does not fit it,
    // is the command line's fault.
    int status = m_openFailed || m_misfit ? 2 : m_summary.exitStatus();
    if (status == 0 && !missed.isEmpty())
        status = 1;
    if (status == 3)
        complain("no connection to " + m_options.endpoint().toLocal8Bit()
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
    for (const ThresholdCheck &check : thresholds)
        summary += check.markedLine() + '\n';
    if (figures.interrupted)
        summary += figures.interruptedText().toLatin1() + '\n';
    if (!m_outGone && !written(summary) && m_interruptedBy == 0)
        status = 128 + SIGPIPE;
    return status;
}

void SendRun::setTls(TlsClient *tls)
{
    m_tls = tls;
    for (const std::unique_ptr<Connection> &c : m_connections)
        c->link.wskMessage->setTls(tls);
}

void SendRun::replay()
{
    // Opened byte for byte by its name as typed, which need not be text.
    const bool standardInput = m_options.replayPath == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(m_options.replayPath.constData(), O_RDONLY | O_CLOEXEC);
    try {
        if (fd < 0)
            throw PlatformError{ErrorNumber::PermissionDenied, QString::fromLocal8Bit(std::strerror(errno))};
        m_dataFile.openDataFile(fd, !standardInput);
    } catch (const PlatformError &failure) {
        InsertLogText(QStringLiteral("Unable to open log file, windows reports: ") + failure.description);
    }
    if (!m_dataFile.isDataFileOpen()) {
        m_openFailed = true; // the reason is in the log
        return;
    }
    if (m_options.rate > 0) {
        replayAtRate();
    } else if (m_options.recordedPace) {
        replayAtRecordedPace();
    } else {
        PeriodSchedule schedule(m_options.periodSeconds * 1e9);
        const auto keepReading = [this] {
            settleReadStep();
            pollEvents();
            return !m_stopping;
        };
        for (qint64 period = 0; !m_stopping && !m_sendingOver && (m_options.count < 0 || period < m_options.count);
             ++period) {
            if (m_options.periodSeconds > 0) {
                if (period > 0)
                    sleepUntil(schedule.next(m_clock.nsecsElapsed()));
            } else {
                awaitFreeConnection(); // each link a closed loop
            }
            if (m_stopping || m_sendingOver || !readPeriod(keepReading))
                break;
        }
    }
    awaitAllConnections();
    if (m_manifest && !m_misfit && !m_manifest->finish(m_endOfData, m_dataFile.counts().linesRead, spareLines())) {
        m_misfit = true;
        complain("--manifest " + m_manifest->fileName().toLocal8Bit() + ": " + m_manifest->error().toLocal8Bit());
    }
    m_dataFile.closeDataFile();
}

void SendRun::replayAtRate()
{
    // Kept to the end of the run: the progress lines go on showing its backlog and target.
    LoadSchedule &schedule = m_schedule.emplace(
        LoadSchedule::Settings{m_options.rate, m_options.rampUpSeconds, m_options.durationSeconds, m_options.count,
                               m_options.stages},
        m_clock);
    const auto keepReading = [this] {
        settleReadStep();
        pollEvents();
        return !m_stopping;
    };
    bool dataOver = false;
    for (;;) {
        startWaiting();
        if (m_stopping)
            break;
        if (!dataOver) {
            if (const std::optional<qint64> due = schedule.takeDue()) {
                m_intendedNs = *due;
                dataOver = !readPeriod(keepReading);
                m_intendedNs = -1;
                // A run that has fallen behind reads record after record;
                // the replies that free its links are served in between, or
                // it could never catch up.
                if (const qint64 next = schedule.wakeNs(); next >= 0 && next <= m_clock.nsecsElapsed())
                    dispatchPendingEvents();
                continue;
            }
        }
        if (schedule.durationOver() || ((dataOver || schedule.ended()) && m_backlog.size() == 0))
            break;
        waitUntil(schedule.wakeNs());
    }
    // The duration is over: what still waits for a link is not sent.
    while (std::optional<Exchange> waiting = m_backlog.pop())
        settleNotSent(std::move(*waiting), "RSFP: Still waiting for a connection at the end, not sent: "
                                               + waiting->record);
}

void SendRun::replayAtRecordedPace()
{
    const auto keepReading = [this] {
        settleReadStep();
        pollEvents();
        return !m_stopping;
    };
    // Each record's time is known once it is read: SendTCPPacket waits for it.
    m_intendedNs = RecordedPace;
    for (qint64 n = 0; !m_stopping && !m_sendingOver && (m_options.count < 0 || n < m_options.count); ++n) {
        if (!readPeriod(keepReading))
            break;
    }
    m_intendedNs = -1;
    for (startWaiting(); !m_stopping && !m_sendingOver && m_backlog.size() > 0; startWaiting())
        waitUntil(-1);
    while (std::optional<Exchange> waiting = m_backlog.pop())
        settleNotSent(std::move(*waiting), "RSFP: Still waiting for a connection at the end, not sent: "
                                               + waiting->record);
}

qint64 SendRun::recordedIntendedNs()
{
    // A line with no time of its own, or one earlier than the last, goes
    // right after the one before: the pace never runs backwards.
    if (const std::optional<qint64> ms = recordedTimeMs(m_dataFile.recordLogFields())) {
        if (!m_firstRecordedMs)
            m_firstRecordedMs = *ms;
        const qint64 offset = std::llround(double(*ms - *m_firstRecordedMs) * 1e6 / m_options.speed);
        m_pacedNs = std::max(m_pacedNs, offset);
    }
    return m_pacedNs;
}

bool SendRun::readPeriod(const std::function<bool()> &keepReading)
{
    for (;;) {
        try {
            m_dataFile.ReadAndSendPeriod(m_options.format, keepReading);
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
        m_sentLineOf = nullptr;
        settleReadStep();
        pollEvents();
        if (!m_dataFile.takeEndOfData())
            return true;
        // A pass that read no record would only spin.
        if (!m_options.loop || m_stopping || m_dataFile.counts().recordsRead == m_recordsAtOpen) {
            m_endOfData = true;
            return false;
        }
        m_recordsAtOpen = m_dataFile.counts().recordsRead;
        m_dataFile.closeDataFile();
        // A sequence cut off by the file's end does not go on with its first lines.
        m_dataFile.state().ResetSequence();
        m_dataFile.OpenDataFile();
        if (!m_dataFile.isDataFileOpen())
            return false;
    }
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
    if (counts.recordsRead > m_seen.recordsRead && m_handed == m_handedSeen && !m_misfit) {
        OutcomeRecord record;
        if (counts.recordsTooShort > m_seen.recordsTooShort) {
            InsertLog("RSFP: Record too short, not sent: " + currentRecord());
            record.dataFault = true;
        }
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
        // A stop while the manifest was awaited leaves the record without an entry.
        if (!m_misfit && (!m_manifest || m_currentMatch)) {
            record.seq = ++m_seq;
            recordOutcome(record);
        }
    }
    m_currentMatch.reset();
    m_seen = counts;
    m_handedSeen = m_handed;
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
        if (record.latencyMs)
            m_summary.latencies.add(*record.latencyMs);
        m_progress.replied(record.latencyMs ? *record.latencyMs : *record.rttMs);
        const std::optional<ReplyExpectation> &expectation = m_options.reports.expectation;
        const QByteArray whole = *record.reply;
        // Judged whole; kept in part.
        record.keepReply(whole);
        // {id} is the record id as a reply names it, the receiver's own.
        const QByteArray replyId = FieldTable::recordId(record.id);
        if (m_manifest) {
            record.outcome = m_manifest->judge(record.expect, whole, replyId);
            if (isFailure(record.outcome)) {
                ++m_summary.unexpected;
                record.reason = "Event: " + outcomeName(record.outcome).toLatin1() + " reply to record "
                    + printable(record.id) + " (" + printable(record.expect) + "): " + printable(*record.reply);
                log(record.connection, record.reason);
            } else {
                ++m_summary.answered;
            }
            break;
        }
        const ReplyExpectation::Match match =
            expectation ? expectation->match(whole, replyId) : ReplyExpectation::Match::Yes;
        if (match == ReplyExpectation::Match::Yes) {
            ++m_summary.answered;
            break;
        }
        ++m_summary.unexpected;
        record.outcome = match == ReplyExpectation::Match::No ? Outcome::Unexpected : Outcome::Unmatched;
        record.reason = match == ReplyExpectation::Match::No ? ReplyExpectation::unexpectedLine(record.id, whole)
                                                             : ReplyExpectation::gaveUpLine(record.id, whole);
        log(record.connection, record.reason);
        break;
    }
    case Outcome::Unanswered:
        ++m_summary.unanswered;
        break;
    case Outcome::NotSent: // the summary counts it from the reader's counts
        ++m_notSent;
        break;
    case Outcome::Rejected:
        m_summary.unplannedRejections += record.unplanned;
        break;
    case Outcome::Unexpected: // decided here, never handed in
    case Outcome::Unmatched:
    case Outcome::Accepted:
    case Outcome::Refused:
    case Outcome::FalseAccept:
    case Outcome::FalseRefuse:
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
    RunFigures figures = m_summary.figures();
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
        else if (m_options.format == DataFormat::RawLog && m_options.replayPath != "-")
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
    // Every busy link has a connect or reply timeout running: some event will come.
    while (!m_stopping && !m_sendingOver && !freeConnection())
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
    for (qint64 wait = nsSinceStart - m_clock.nsecsElapsed(); wait > 0 && !m_stopping && !m_sendingOver;
         wait = nsSinceStart - m_clock.nsecsElapsed()) {
        wake.start(int(std::min<qint64>((wait + 999999) / 1000000, 24 * 3600 * 1000)));
        while (!m_stopping && !m_sendingOver && wake.isActive()) {
            waitAndDispatchEvents();
            // A link freed meanwhile takes a record that waits for one
            // (--pace recorded sleeps here until the next record's time).
            startWaiting();
        }
    }
}

void SendRun::waitUntil(qint64 nsSinceStart)
{
    std::fflush(m_out);
    if (nsSinceStart >= 0) {
        const qint64 wait = std::max<qint64>(0, nsSinceStart - m_clock.nsecsElapsed());
        m_wake.start(int(std::min<qint64>((wait + 999999) / 1000000, 24 * 3600 * 1000)));
    }
    waitAndDispatchEvents();
}

std::optional<ManifestMatch::Match> SendRun::matchRecord(bool goesOut)
{
    std::optional<ManifestMatch::Match> match =
        m_manifest->recordRead(recordId(currentRecord()), m_dataFile.counts().linesRead, goesOut, spareLines());
    if (!match && !m_manifest->stopped()) {
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
    qint64 intendedNs = m_intendedNs;
    if (intendedNs == RecordedPace) {
        intendedNs = recordedIntendedNs();
        sleepUntil(intendedNs);
        if (m_stopping || m_sendingOver)
            return SendResult::NoConnection;
    }
    Exchange exchange;
    exchange.packet = source;
    exchange.record = currentRecord();
    exchange.intendedNs = intendedNs;
    exchange.pending.id = recordId(exchange.record);
    if (m_currentMatch)
        exchange.pending.expect = m_currentMatch->expect;
    // Records that came due earlier go first.
    startWaiting();
    Connection *c = m_backlog.size() == 0 ? freeConnection() : nullptr;
    if (!c) {
        // Every link still holds an exchange: as the window, a period's
        // record is dropped; at a rate it waits its turn, if there is room.
        if (intendedNs < 0)
            return SendResult::Busy;
        exchange.pending.seq = ++m_seq;
        if (!m_backlog.push(std::move(exchange))) {
            --m_seq;
            return SendResult::Busy;
        }
        ++m_handed;
        return SendResult::Sent; // on its way, in turn
    }
    m_logConnection = c->number;
    exchange.pending.seq = ++m_seq;
    if (!startExchange(*c, std::move(exchange)))
        return SendResult::Busy;
    ++m_handed;
    m_sentLineOf = &c->exchange;
    return SendResult::Sent;
}

bool SendRun::startExchange(Connection &c, Exchange exchange)
{
    c.exchange = std::move(exchange);
    c.exchange.pending.connection = c.number;
    c.state = Connection::State::Connecting;
    c.connectStartNs = m_clock.nsecsElapsed();
    bool started = false;
    try {
        started = c.link.startSend(c.exchange.packet);
    } catch (...) {
        c.state = Connection::State::Free;
        throw;
    }
    if (!started)
        c.state = Connection::State::Free;
    return started;
}

void SendRun::startWaiting()
{
    while (m_backlog.size() > 0) {
        Connection *c = freeConnection();
        if (!c)
            return;
        Exchange exchange = *m_backlog.pop();
        try {
            if (startExchange(*c, exchange))
                continue;
            settleNotSent(std::move(exchange), "RSFP: Link busy, not sent: " + exchange.record);
        } catch (const PlatformError &failure) {
            log(c->number, sendFailureLine(failure).toLatin1());
            settleNotSent(std::move(exchange), "RSFP: No connection, not sent: " + exchange.record);
        }
    }
}

void SendRun::packetWritten(Connection &c)
{
    if (c.state != Connection::State::Connecting)
        return;
    const qint64 now = m_clock.nsecsElapsed();
    Exchange &exchange = c.exchange;
    m_summary.everConnected = true;
    ++m_summary.sent;
    exchange.written = true;
    exchange.pending.sentAt = QDateTime::currentDateTimeUtc();
    exchange.pending.connectMs = msBetween(c.connectStartNs, now);
    c.writtenNs = now;
    c.state = Connection::State::AwaitingReply;
    if (!exchange.sentLine.isEmpty())
        log(c.number, exchange.sentLine);
    c.replyTimeout.start(m_options.replyTimeoutMs);
}

void SendRun::connectionFailed(Connection &c)
{
    ++m_summary.connectFailures;
    m_connectFailure = m_lastLine;
    if (c.state == Connection::State::Connecting) {
        settleConnecting(c, "RSFP: No connection, not sent: " + c.exchange.record);
    } else if (c.state == Connection::State::AwaitingReply) {
        // A connection that failed after the send can bring no reply.
        endExchange(c, Outcome::Unanswered, {}, m_lastLine);
    }
}

void SendRun::settleConnecting(Connection &c, const QByteArray &logLine)
{
    c.state = Connection::State::Free;
    if (m_sentLineOf == &c.exchange)
        m_sentLineOf = &m_endedExchange;
    settleNotSent(std::move(c.exchange), logLine);
}

void SendRun::settleNotSent(Exchange &&exchange, const QByteArray &logLine)
{
    log(exchange.pending.connection, logLine);
    OutcomeRecord record = std::move(exchange.pending);
    record.outcome = Outcome::NotSent;
    record.reason = logLine;
    recordOutcome(std::move(record));
}

void SendRun::endExchange(Connection &connection, Outcome outcome, const QByteArray &reply, const QByteArray &logLine)
{
    // A reply is timed at its last byte, not at the quiet gap that ended it.
    const qint64 now = m_clock.nsecsElapsed() - (outcome == Outcome::Answered ? connection.link.replyQuietNs() : 0);
    connection.replyTimeout.stop();
    connection.state = Connection::State::Free;
    OutcomeRecord record = std::move(connection.exchange.pending);
    record.outcome = outcome;
    record.reason = logLine;
    if (outcome == Outcome::Answered) {
        record.rttMs = msBetween(connection.writtenNs, now);
        if (connection.exchange.intendedNs >= 0)
            record.latencyMs = msBetween(connection.exchange.intendedNs, now);
        record.reply = reply;
    }
    // Whatever the socket still holds (an unanswered connection) goes: the
    // next record needs a closed socket.
    connection.link.Close();
    recordOutcome(std::move(record));
}

qint64 SendRun::spareLines() const
{
    return m_dataFile.counts().linesRead - m_dataFile.counts().linesInRecords;
}

QByteArray SendRun::currentRecord() const
{
    return m_options.mode == SendOptions::Mode::Record ? m_options.record : m_dataFile.state().CurrentRecord;
}

void SendRun::showLiveLine()
{
    std::fprintf(m_status,
                 "\r\033[K%lld read, %lld sent, %lld answered, %lld unexpected, %lld unanswered, %lld rejected",
                 static_cast<long long>(m_dataFile.counts().recordsRead + (m_options.mode == SendOptions::Mode::Record)),
                 static_cast<long long>(m_summary.sent), static_cast<long long>(m_summary.answered),
                 static_cast<long long>(m_summary.unexpected), static_cast<long long>(m_summary.unanswered),
                 static_cast<long long>(m_dataFile.counts().linesRejected));
    std::fflush(m_status);
}

void SendRun::writeProgressLine()
{
    const qint64 now = m_clock.nsecsElapsed();
    ProgressFigures figures = m_progress.next(now, m_summary.sent);
    figures.answered = m_summary.answered;
    figures.unexpected = m_summary.unexpected;
    figures.unanswered = m_summary.unanswered;
    figures.notSent = m_notSent;
    if (m_schedule) {
        figures.targetRate = m_schedule->rateAt(now);
        figures.backlog = m_backlog.size();
    }
    const QByteArray line = progressLine(figures);
    std::fwrite(line.constData(), 1, size_t(line.size()), m_status);
    std::fflush(m_status);
}
