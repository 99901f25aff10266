#pragma once

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "platform/Clock.h"
#include "platform/TextSink.h"
#include "report/Reports.h"
#include "sender/ConnectionPool.h"
#include "sender/LoadSchedule.h"
#include "sender/Manifest.h"
#include "sender/Pacer.h"
#include "sender/ReplyJudge.h"
#include "sender/RunLog.h"
#include "sender/RunSummary.h"
#include "sender/SendOptions.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class TlsClient;

// One run of ipnd-send: the fixed record, or a data file replayed through the
// same readers, framer and link as the window's cycle. The run wires its
// parts: the pacer says when the next record is read, the connection pool
// carries it, the judge gives the reply its verdict, the log and status line
// tell what happened, and the exit policy says how it ended.
class SendRun : public QObject, private DataFileHost, private ConnectionPool::Events
{
    Q_OBJECT

public:
    // The log goes to `out`, complaints to `err`; status, when given, takes
    // --progress lines, or else, on a terminal (`terminal`) and without
    // --quiet, one line kept up to date.
    SendRun(const SendOptions &options, TextSink &out, TextSink &err, TextSink *status, bool terminal);
    ~SendRun() override;

    // Runs to the end (or to stop()), prints the summary, returns the exit status.
    int run();
    // Ends the run at the next line; exchanges under way count as unanswered
    // if their reply has not come.
    void stop();
    // stop() for a signal (or standard output gone): the run does not pass,
    // and exits with 128 + the signal's number, as a shell reports it.
    void interrupt(int signalNumber);
    // The command line as typed, for the reports to name.
    void setCommandLine(const QString &commandLine) { m_commandLine = commandLine; }
    // Every connection speaks TLS from `tls` (not owned); its handshakes are
    // counted in the summary.
    void setTls(TlsClient *tls);

private:
    // DataFileHost.
    void InsertLog(const QByteArray &source) override;
    void InsertLogText(const QString &text) override;
    SendResult SendTCPPacket(const QByteArray &source) override;
    void recordRead() override;
    void lineRejected(const QByteArray &reason) override;
    void recordTooShort(const QByteArray &record) override;
    void recordNotSent(const QByteArray &reason) override;

    // ConnectionPool::Events.
    void linkLog(int connection, const QByteArray &line) override { log(connection, line); }
    void written(const Exchange &exchange) override;
    void ended(OutcomeRecord &&record) override { recordOutcome(std::move(record)); }
    void notSent(Exchange &&exchange, const QByteArray &line) override { settleNotSent(std::move(exchange), line); }
    void connectFailed(const QByteArray &line) override;

    void sendFixedRecord();
    void replay();
    bool openData();
    void pace(Pacer &pacer);
    // One period of the reader; at the end of the data, with --loop, the
    // file starts again. False once the data is over.
    bool readPeriod();
    // Records waiting in the backlog go out on the links that are free.
    void startWaiting();
    void settleWaiting(const QByteArray &why);
    void settleNotSent(Exchange &&exchange, const QByteArray &logLine);
    // A record read that never went to a link: settled with its manifest
    // entry, if the manifest has one for it.
    void settleUnsent(const QByteArray &reason, bool dataFault);
    // Serves events until `nsSinceStart` (-1: until the next event).
    void waitUntil(qint64 nsSinceStart);
    // Serves events until no connection holds an exchange.
    void awaitAllConnections();
    void sleepUntil(qint64 nsSinceStart);
    // Serves what is pending now, every few milliseconds, so that a stop and
    // the progress line are seen while lines are read without a send.
    void pollEvents();
    void recordOutcome(OutcomeRecord record);
    void reportWriteErrors();
    void log(int connection, const QByteArray &line) { m_log.line(connection, line); }
    // A conformance run: the manifest's entry for the record the reader has
    // just yielded; none when the manifest does not fit (the run stops).
    std::optional<ManifestMatch::Match> matchRecord(bool goesOut);
    // The lines read so far that went into no record: refused, or parts dropped.
    qint64 spareLines() const;
    RunDescription description() const;
    RunFigures figures() const;
    int finish();
    QByteArray currentRecord() const;
    void startStatus(bool terminal);
    void showLiveLine();
    void writeProgressLine();

    SendOptions m_options;
    SystemClock m_wallClock;
    RunLog m_log;
    std::optional<StatusLine> m_status;
    ElapsedClock m_clock;
    ConnectionPool m_pool;
    DataFile m_dataFile;
    RunSummary m_summary;
    Reports m_reports;
    std::unique_ptr<ManifestMatch> m_manifest;
    ReplyJudge m_judge;
    std::optional<Pacer> m_pacer;
    Backlog<Exchange> m_backlog;
    QElapsedTimer m_pollClock;
    QTimer *m_liveLineTimer = nullptr;
    QTimer *m_progressTimer = nullptr;
    QTimer m_wake;
    QTimer m_durationTimer;
    bool m_stopping = false;
    bool m_sendingOver = false; // --duration has passed
    bool m_endOfData = false;   // the run came to the end of the data
    bool m_openFailed = false;
    bool m_misfit = false;      // the manifest did not fit: stopped, exit 2
    bool m_unsettled = false;   // the record read last has not gone to a link, nor been settled
    int m_interruptedBy = 0;    // the signal's number
    QString m_commandLine;
    QDateTime m_startedAt;
    QByteArray m_connectFailure; // the link's line about the last failed connection
    TlsClient *m_tls = nullptr;
    qint64 m_seq = 0;
    qint64 m_recordsAtOpen = 0; // --loop: a pass that reads no record ends the run
    qint64 m_intendedNs = -1;   // when the record the reader hands over next is due
    // The entry of the record the reader yielded last, once matched.
    std::optional<ManifestMatch::Match> m_currentMatch;
    // The exchange whose "Data Sent" line the reader logs next.
    struct SentLine
    {
        int connection = 0;
        qint64 seq = 0;
    };
    std::optional<SentLine> m_sentLine;
    // The connection that the data file's log lines about a send belong to.
    int m_logConnection = 0;
    ProgressIntervals m_progress;
};
