#include "sender/SendRun.h"

#include "DataFile/TCPIPNDserver.h"
#include "platform/CommandLine.h"
#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Tls.h"
#include "sender/ExitPolicy.h"

#include <QFileInfo>

#include <cmath>
#include <csignal>

namespace {

ConnectionPool::Settings poolSettings(const SendOptions &options)
{
    return {options.host,           options.port,       options.connections, options.connectTimeoutMs,
            options.replyTimeoutMs, options.replyGapMs, options.misbehaviour};
}

} // namespace

SendRun::SendRun(const SendOptions &options, TextSink &out, TextSink &err, TextSink *status, bool terminal)
    : m_options(options)
    , m_log(out, err, m_wallClock)
    , m_pool(poolSettings(options), m_clock, *this)
    , m_dataFile(*this)
    , m_judge(m_options.reports.expectation, nullptr)
    , m_backlog(options.maxBacklog)
{
    m_log.setQuiet(m_options.quiet);
    m_log.setNumbered(m_pool.size() > 1);
    // A reader of standard output that has gone (`| head`) ends the run as
    // a signal would; the reports are still finished.
    m_log.setGoneHandler([this] { interrupt(SIGPIPE); });
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
        m_judge = ReplyJudge(m_options.reports.expectation, m_manifest.get());
    }
    m_wake.setTimerType(Qt::PreciseTimer);
    m_wake.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    m_durationTimer.setSingleShot(true);
    connect(&m_durationTimer, &QTimer::timeout, this, [this] { m_sendingOver = true; });
    if (status) {
        m_status.emplace(*status);
        startStatus(terminal);
    }
}

SendRun::~SendRun() = default;

void SendRun::startStatus(bool terminal)
{
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

void SendRun::setTls(TlsClient *tls)
{
    m_tls = tls;
    m_pool.setTls(tls);
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
    m_pool.stopAll();
    settleWaiting("RSFP: Stopped while waiting for a connection, not sent: ");
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
        m_log.complain(reportError.toLocal8Bit());
        return 2;
    }
    if (!m_reports.open(m_options.reports, description(), &reportError)) {
        m_log.complain("Report: cannot write " + reportError.toLocal8Bit());
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
    if (m_options.mode == SendOptions::Mode::Record)
        sendFixedRecord();
    else
        replay();
    m_summary.elapsedSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    if (m_tls)
        m_summary.tlsHandshakes = {m_tls->fullHandshakes(), m_tls->resumedHandshakes()};
    if (m_pacer && m_pacer->schedule())
        m_summary.dueRecords = m_pacer->schedule()->due();
    if (m_progressTimer)
        m_progressTimer->stop();
    if (m_liveLineTimer) {
        m_liveLineTimer->stop();
        m_status->clearLive();
    }
    return finish();
}

int SendRun::finish()
{
    RunFigures figures = this->figures();
    const QList<ThresholdCheck> thresholds = checkThresholds(m_options.reports.thresholds, figures);
    const QStringList missed = thresholdLines(thresholds, false);
    figures.thresholdsMet = thresholdLines(thresholds, true);
    ExitFacts facts;
    facts.countsStatus = m_summary.exitStatus();
    facts.openFailed = m_openFailed;
    facts.misfit = m_misfit;
    facts.thresholdMissed = !missed.isEmpty();
    if (exitStatus(facts) == 3)
        m_log.complain("no connection to " + m_options.endpoint().toLocal8Bit() + " came up: " + m_connectFailure);
    facts.interruptedBy = m_interruptedBy;
    facts.reportsFailed = m_reports.failed();
    // The reports are finished before the summary goes out: a reader of
    // standard output that has gone away (`| head`) ends the program there.
    m_reports.finish(figures, missed, exitStatus(facts) == 0);
    reportWriteErrors();
    facts.reportsFailed = m_reports.failed();
    QByteArray summary = m_summary.text();
    for (const ThresholdCheck &check : thresholds)
        summary += check.markedLine() + '\n';
    if (figures.interrupted)
        summary += figures.interruptedText().toLatin1() + '\n';
    facts.summaryLost = !m_log.write(summary);
    return exitStatus(facts);
}

void SendRun::recordOutcome(OutcomeRecord record)
{
    // A reply is handed in answered; the judge may make it another outcome.
    if (record.outcome == Outcome::Answered) {
        m_summary.roundTrips.add(*record.rttMs);
        if (record.latencyMs)
            m_summary.latencies.add(*record.latencyMs);
        m_progress.replied(record.latencyMs ? *record.latencyMs : *record.rttMs);
        if (m_judge.judge(record))
            log(record.connection, record.reason);
    } else if (record.outcome == Outcome::Rejected) {
        m_summary.unplannedRejections += record.unplanned;
    }
    m_summary.counts.settled(record.outcome);
    m_summary.byExpect.count(record);
    m_reports.add(record);
    reportWriteErrors();
}

void SendRun::reportWriteErrors()
{
    for (const QString &error : m_reports.takeErrors())
        m_log.complain("Report: cannot write " + error.toLocal8Bit());
}

RunFigures SendRun::figures() const
{
    RunFigures figures = m_summary.figures();
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

void SendRun::showLiveLine()
{
    m_status->showLive(m_summary.counts);
}

void SendRun::writeProgressLine()
{
    const qint64 now = m_clock.nsecsElapsed();
    ProgressFigures figures = m_progress.next(now, m_summary.counts);
    if (m_pacer && m_pacer->schedule()) {
        figures.targetRate = m_pacer->schedule()->rateAt(now);
        figures.backlog = m_backlog.size();
    }
    m_status->writeProgress(figures);
}
