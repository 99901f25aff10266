// The run's replay: the data file read at the pacer's steps, each record
// it yields handed to the connection pool or the backlog, and what the
// reader and the pool tell turned into outcomes.

#include "sender/SendRun.h"

#include "platform/Dispatch.h"
#include "platform/PlatformError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 PollIntervalMs = 10;

Pacer::Settings pacerSettings(const SendOptions &o)
{
    Pacer::Settings settings;
    settings.mode = o.rate > 0          ? Pacer::Mode::Rate
        : o.recordedPace                ? Pacer::Mode::RecordedPace
        : o.periodSeconds > 0           ? Pacer::Mode::Period
                                        : Pacer::Mode::ClosedLoop;
    settings.periodSeconds = o.periodSeconds;
    settings.count = o.count;
    settings.load = {o.rate, o.rampUpSeconds, o.durationSeconds, o.count, o.stages};
    settings.speed = o.speed;
    return settings;
}

} // namespace

void SendRun::sendFixedRecord()
{
    m_summary.counts.read = 1;
    SendResult result = SendResult::NoConnection;
    QByteArray reason;
    try {
        result = SendTCPPacket(m_options.record);
    } catch (const PlatformError &failure) {
        reason = sendFailureLine(failure).toLatin1();
        InsertLogText(sendFailureLine(failure));
    }
    // The fixed record is logged by the link alone.
    m_sentLine.reset();
    if (result != SendResult::Sent) {
        OutcomeRecord record;
        record.seq = ++m_seq;
        record.id = recordId(m_options.record);
        record.reason = reason;
        recordOutcome(record);
    }
    awaitAllConnections();
}

bool SendRun::openData()
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
    return m_dataFile.isDataFileOpen();
}

void SendRun::replay()
{
    if (!openData()) {
        m_openFailed = true; // the reason is in the log
        return;
    }
    pace(m_pacer.emplace(pacerSettings(m_options), m_clock));
    awaitAllConnections();
    if (m_manifest && !m_misfit && !m_manifest->finish(m_endOfData, m_dataFile.counts().linesRead, spareLines())) {
        m_misfit = true;
        m_log.complain("--manifest " + m_manifest->fileName().toLocal8Bit() + ": "
                       + m_manifest->error().toLocal8Bit());
    }
    m_dataFile.closeDataFile();
}

void SendRun::pace(Pacer &pacer)
{
    bool dataOver = false;
    for (;;) {
        startWaiting();
        if (m_stopping)
            break;
        const Pacer::Step step = pacer.next(m_pool.freeConnection() != 0, m_backlog.size(), dataOver, m_sendingOver);
        if (step.kind == Pacer::Step::Kind::End)
            break;
        if (step.kind == Pacer::Step::Kind::Wait) {
            waitUntil(step.atNs);
            continue;
        }
        m_intendedNs = step.atNs;
        dataOver = !readPeriod();
        m_intendedNs = -1;
        pacer.readDone();
        // A run that has fallen behind reads record after record; the
        // replies that free its links are served in between, or it could
        // never catch up.
        if (pacer.behind())
            dispatchPendingEvents();
    }
    // What still waits for a link at the end is not sent.
    settleWaiting("RSFP: Still waiting for a connection at the end, not sent: ");
}

bool SendRun::readPeriod()
{
    const auto keepReading = [this] {
        pollEvents();
        return !m_stopping;
    };
    for (;;) {
        try {
            m_dataFile.ReadAndSendPeriod(m_options.format, keepReading);
        } catch (const PlatformError &failure) {
            // The link refused the record it was handed.
            InsertLogText(sendFailureLine(failure));
            if (m_unsettled)
                settleUnsent(sendFailureLine(failure).toLatin1(), false);
        }
        m_sentLine.reset();
        m_logConnection = 0;
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
        if (!openData())
            return false;
    }
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
    // A timer may fire a little early: sleep again until the time has come.
    for (qint64 wait = nsSinceStart - m_clock.nsecsElapsed(); wait > 0 && !m_stopping && !m_sendingOver;
         wait = nsSinceStart - m_clock.nsecsElapsed()) {
        waitUntil(nsSinceStart);
        // A link freed meanwhile takes a record that waits for one.
        startWaiting();
    }
}

void SendRun::awaitAllConnections()
{
    while (m_pool.anyBusy())
        waitAndDispatchEvents();
}

void SendRun::waitUntil(qint64 nsSinceStart)
{
    if (nsSinceStart >= 0) {
        const qint64 wait = std::max<qint64>(0, nsSinceStart - m_clock.nsecsElapsed());
        m_wake.start(int(std::min<qint64>((wait + 999999) / 1000000, 24 * 3600 * 1000)));
    }
    waitAndDispatchEvents();
}
