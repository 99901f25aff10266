// What becomes of each record: handed to a free connection or to the
// backlog, or settled as not sent, rejected or withheld, as the reader and
// the connection pool tell it.

#include "sender/SendRun.h"

#include "platform/PlatformError.h"

void SendRun::startWaiting()
{
    while (m_backlog.size() > 0) {
        const int c = m_pool.freeConnection();
        if (c == 0)
            return;
        Exchange exchange = *m_backlog.pop();
        try {
            if (m_pool.start(c, exchange))
                continue;
            settleNotSent(std::move(exchange), "RSFP: Link busy, not sent: " + exchange.record);
        } catch (const PlatformError &failure) {
            log(c, sendFailureLine(failure).toLatin1());
            settleNotSent(std::move(exchange), "RSFP: No connection, not sent: " + exchange.record);
        }
    }
}

void SendRun::settleWaiting(const QByteArray &why)
{
    while (std::optional<Exchange> waiting = m_backlog.pop())
        settleNotSent(std::move(*waiting), why + waiting->record);
}

void SendRun::settleNotSent(Exchange &&exchange, const QByteArray &logLine)
{
    log(exchange.pending.connection, logLine);
    OutcomeRecord record = std::move(exchange.pending);
    record.outcome = Outcome::NotSent;
    record.reason = logLine;
    recordOutcome(std::move(record));
}

SendResult SendRun::SendTCPPacket(const QByteArray &source)
{
    if (m_stopping)
        return SendResult::NoConnection;
    if (m_manifest) {
        // Matched before it goes out: a record the manifest does not know
        // is never sent.
        m_currentMatch = matchRecord(true);
        if (!m_currentMatch) {
            m_unsettled = false;
            return SendResult::Withheld;
        }
    }
    qint64 intendedNs = m_intendedNs;
    if (intendedNs == Pacer::RecordedPace) {
        intendedNs = m_pacer->recordedNs(recordedTimeMs(m_dataFile.recordLogFields()));
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
    const int c = m_backlog.size() == 0 ? m_pool.freeConnection() : 0;
    if (c == 0) {
        // Every link still holds an exchange: as the window, a period's
        // record is dropped; at a rate it waits its turn, if there is room.
        exchange.pending.seq = m_seq + 1;
        if (intendedNs < 0 || !m_backlog.push(std::move(exchange)))
            return SendResult::Busy;
        ++m_seq;
        m_unsettled = false;
        return SendResult::Sent; // on its way, in turn
    }
    m_logConnection = c;
    exchange.pending.seq = ++m_seq;
    bool started = false;
    try {
        started = m_pool.start(c, std::move(exchange));
    } catch (...) {
        --m_seq;
        throw;
    }
    if (!started) {
        --m_seq;
        return SendResult::Busy;
    }
    m_unsettled = false;
    m_sentLine = SentLine{c, m_seq};
    return SendResult::Sent;
}

void SendRun::InsertLogText(const QString &text)
{
    InsertLog(text.toUtf8());
}

void SendRun::InsertLog(const QByteArray &source)
{
    // The reader says "Data Sent" as soon as the link has the record; it is
    // logged when the packet is written.
    if (const std::optional<SentLine> sent = std::exchange(m_sentLine, std::nullopt)) {
        if (m_pool.holds(sent->connection, sent->seq)) {
            Exchange &exchange = m_pool.exchangeOf(sent->connection);
            if (exchange.written)
                log(sent->connection, source);
            else
                exchange.sentLine = source;
        }
        return;
    }
    log(m_logConnection, source);
}

void SendRun::recordRead()
{
    ++m_summary.counts.read;
    m_currentMatch.reset();
    m_sentLine.reset();
    m_logConnection = 0;
    m_unsettled = true;
}

void SendRun::lineRejected(const QByteArray &reason)
{
    ++m_summary.counts.rejected;
    if (m_manifest) {
        m_manifest->lineRejected(reason); // settled with the entries, when the next record is found
        return;
    }
    OutcomeRecord record;
    record.seq = ++m_seq;
    record.outcome = Outcome::Rejected;
    record.reason = reason;
    recordOutcome(record);
}

void SendRun::recordTooShort(const QByteArray &record)
{
    ++m_summary.counts.tooShort;
    const QByteArray line = "RSFP: Record too short, not sent: " + record;
    log(m_logConnection, line);
    settleUnsent(line, true);
}

void SendRun::recordNotSent(const QByteArray &reason)
{
    settleUnsent(reason, false);
}

void SendRun::settleUnsent(const QByteArray &reason, bool dataFault)
{
    m_unsettled = false;
    if (m_misfit)
        return;
    OutcomeRecord record;
    record.dataFault = dataFault;
    record.id = recordId(currentRecord());
    record.connection = m_logConnection;
    record.reason = reason;
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
    m_currentMatch.reset();
}

void SendRun::written(const Exchange &exchange)
{
    m_summary.everConnected = true;
    ++m_summary.counts.sent;
    if (!exchange.sentLine.isEmpty())
        log(exchange.pending.connection, exchange.sentLine);
}

void SendRun::connectFailed(const QByteArray &line)
{
    ++m_summary.connectFailures;
    m_connectFailure = line;
}

std::optional<ManifestMatch::Match> SendRun::matchRecord(bool goesOut)
{
    std::optional<ManifestMatch::Match> match =
        m_manifest->recordRead(recordId(currentRecord()), m_dataFile.counts().linesRead, goesOut, spareLines());
    if (!match && !m_manifest->stopped()) {
        m_misfit = true;
        m_log.complain("--manifest " + m_manifest->fileName().toLocal8Bit() + ": "
                       + m_manifest->error().toLocal8Bit());
        stop();
    }
    return match;
}

qint64 SendRun::spareLines() const
{
    return m_dataFile.counts().linesRead - m_dataFile.counts().linesInRecords;
}

QByteArray SendRun::currentRecord() const
{
    return m_options.mode == SendOptions::Mode::Record ? m_options.record : m_dataFile.state().CurrentRecord;
}
