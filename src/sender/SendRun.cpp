#include "sender/SendRun.h"

#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"

#include <QDateTime>
#include <QTimer>

#include <cmath>

SendRun::SendRun(const SendOptions &options, FILE *out, FILE *progress)
    : m_options(options)
    , m_out(out)
    , m_progress(progress)
    , m_link(*this)
    , m_dataFile(*this)
{
    m_link.wskMessage->setConnectTimeout(m_options.connectTimeoutMs);
    connect(&m_link, &Link::connectionFailed, this, [this] { ++m_summary.connectFailures; });
    connect(&m_link, &Link::replyHandled, this, [this] {
        if (m_awaitingReply && m_exchangeEnd == ExchangeEnd::None) {
            m_exchangeEnd = ExchangeEnd::Answered;
            m_summary.roundTripsMs.append(double(m_roundTrip.nsecsElapsed()) / 1e6);
        }
    });
    connect(&m_link, &Link::peerClosed, this, [this] {
        if (m_awaitingReply && m_exchangeEnd == ExchangeEnd::None)
            m_exchangeEnd = ExchangeEnd::PeerClosed;
    });
    if (m_progress) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setInterval(500);
        connect(m_progressTimer, &QTimer::timeout, this, &SendRun::showProgress);
    }
}

SendRun::~SendRun() = default;

void SendRun::InsertLog(const QByteArray &source)
{
    if (m_options.quiet)
        return;
    const QByteArray stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
    std::fwrite(stamp.constData(), 1, size_t(stamp.size()), m_out);
    std::fputc(' ', m_out);
    std::fwrite(source.constData(), 1, size_t(source.size()), m_out);
    std::fputc('\n', m_out);
}

void SendRun::OpenDialogBox(FileDialog &commonDialog, const QString &, QString &source, const QString &)
{
    commonDialog.FileName = m_options.replayFile;
    source = m_options.replayFile;
}

void SendRun::stop()
{
    m_stopping = true;
    // Ends a wait for a connection at once, as the window's Close button does.
    m_link.Close();
}

int SendRun::run()
{
    m_clock.start();
    if (m_progressTimer)
        m_progressTimer->start();
    if (m_options.mode == SendOptions::Mode::Record) {
        ++m_summary.recordsRead;
        try {
            SendTCPPacket(m_options.record);
            awaitReply();
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
    } else {
        replay();
    }
    m_summary.elapsedSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    if (m_progressTimer) {
        m_progressTimer->stop();
        std::fputs("\r\033[K", m_progress);
        std::fflush(m_progress);
    }
    const QByteArray summary = m_summary.text();
    std::fwrite(summary.constData(), 1, size_t(summary.size()), m_out);
    std::fflush(m_out);
    return m_summary.exitStatus();
}

void SendRun::replay()
{
    m_dataFile.OpenDataFile();
    if (!m_dataFile.isDataFileOpen())
        return; // the failure is in the log
    const double periodMs = m_options.periodSeconds * 1000.0;
    qint64 slot = 0; // the point of the schedule the period under way started at
    for (qint64 period = 0; !m_stopping && (m_options.count < 0 || period < m_options.count); ++period) {
        if (period > 0 && periodMs > 0) {
            // The next period starts at the first point of the schedule that
            // has not passed and comes after the last one: late exchanges
            // neither drift nor bunch up, and a quick one never gets a second
            // turn in its own slot.
            const double nowMs = double(m_clock.nsecsElapsed()) / 1e6;
            slot = std::max(slot + 1, qint64(std::ceil(nowMs / periodMs)));
            sleepUntil(qint64(std::llround(double(slot) * periodMs)));
            if (m_stopping)
                break;
        }
        try {
            m_dataFile.ReadAndSendPeriod(m_options.format, [this] { return !m_stopping; });
            awaitReply();
        } catch (const PlatformError &failure) {
            InsertLogText(sendFailureLine(failure));
        }
        if (m_dataFile.counts().recordsTooShort > m_summary.tooShort)
            InsertLog("RSFP: Record too short, not sent: " + m_dataFile.state().CurrentRecord);
        m_summary.recordsRead = m_dataFile.counts().recordsRead;
        m_summary.linesRejected = m_dataFile.counts().linesRejected;
        m_summary.tooShort = m_dataFile.counts().recordsTooShort;
        if (m_dataFile.takeEndOfData())
            break;
    }
    m_dataFile.closeDataFile();
}

void SendRun::sleepUntil(qint64 msSinceStart)
{
    std::fflush(m_out);
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    // A timer may fire a little early: sleep again until the time has come.
    for (qint64 wait = msSinceStart - m_clock.elapsed(); wait > 0 && !m_stopping;
         wait = msSinceStart - m_clock.elapsed()) {
        wake.start(int(std::min<qint64>(wait, 24 * 3600 * 1000)));
        while (!m_stopping && wake.isActive())
            waitAndDispatchEvents();
    }
}

SendResult SendRun::SendTCPPacket(const QByteArray &source)
{
    if (m_stopping)
        return SendResult::NoConnection;
    const SendResult result = m_link.SendTCPPacket(source);
    if (result == SendResult::Sent) {
        m_summary.everConnected = true;
        ++m_summary.sent;
        m_awaitingReply = true;
        m_exchangeEnd = ExchangeEnd::None;
        m_roundTrip.start();
    }
    return result;
}

void SendRun::awaitReply()
{
    if (!m_awaitingReply)
        return;
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.start(std::max(0, m_options.replyTimeoutMs - int(m_roundTrip.elapsed())));
    while (m_exchangeEnd == ExchangeEnd::None && timeout.isActive() && !m_stopping)
        waitAndDispatchEvents();
    m_awaitingReply = false;

    if (m_exchangeEnd == ExchangeEnd::Answered) {
        ++m_summary.answered;
    } else {
        ++m_summary.unanswered;
        if (m_exchangeEnd == ExchangeEnd::None && !m_stopping)
            InsertLog("Event: No reply within " + QByteArray::number(m_options.replyTimeoutMs)
                      + " ms: connection closed");
        else if (m_exchangeEnd == ExchangeEnd::None)
            InsertLog("Event: Stopped before the reply: connection closed");
    }
    // Whatever the socket holds now (an unanswered connection, or the
    // listener it opened after the server closed) goes: the next record
    // needs a closed socket.
    m_link.Close();
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
