#pragma once

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "DataFile/TCPIPNDserver.h"
#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/LazyTimeout.h"
#include "report/Reports.h"
#include "sender/LoadSchedule.h"
#include "sender/Manifest.h"
#include "sender/RunSummary.h"
#include "sender/SendOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

// One run of ipnd-send: the fixed record, or a data file replayed through the
// same readers, framer and link as the window's cycle, over one link or
// several side by side (each one exchange at a time, none waiting for
// another's handshake or reply), paced on an absolute schedule, as a closed
// loop, or at a rate with a backlog (an open loop). Log lines go to `out`
// with a date and millisecond time stamp, and with the connection's number
// ("[3] ") when there is more than one.
class SendRun : public QObject, public DataFileHost
{
    Q_OBJECT

public:
    // Status goes to `status`: --progress lines, or else, on a terminal
    // (`terminal`) and without --quiet, one line kept up to date.
    SendRun(const SendOptions &options, FILE *out, FILE *status, bool terminal);
    ~SendRun() override;

    // Runs to the end (or to stop()), prints the summary, returns the exit status.
    int run();
    // Ends the run at the next line; exchanges under way count as unanswered
    // if their reply has not come.
    void stop();
    // stop() for a signal (or standard output gone): the run does not pass,
    // and exits with 128 + the signal's number, as a shell reports it.
    void interrupt(int signalNumber);
    // Where usage-like failures go (a manifest that does not fit, a report
    // that cannot be written, why no connection came up).
    void setErrorOutput(FILE *err) { m_err = err; }
    // The command line as typed, for the reports to name.
    void setCommandLine(const QString &commandLine) { m_commandLine = commandLine; }

    // DataFileHost.
    void InsertLog(const QByteArray &source) override;
    void InsertLogText(const QString &text) override;
    SendResult SendTCPPacket(const QByteArray &source) override;
    void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                       const QString &filterText) override;
    FileDialog &dataFileDialog() override { return m_dialog; }
    void showDataFilePath(const QString &) override {}

private:
    // Stands in for the file dialog: the file is the one on the command line.
    class GivenFile final : public FileDialog
    {
    public:
        void ShowOpen() override {}
    };

    // A record on its way: handed to a link, or waiting for one.
    struct Exchange
    {
        OutcomeRecord pending;
        QByteArray packet;
        QByteArray record;
        qint64 intendedNs = -1; // with --rate: when it was due
        // The reader's "Data Sent" line, logged when the packet is written.
        QByteArray sentLine;
        bool written = false;
    };

    // One link and the exchange it holds.
    struct Connection final : public LinkHost
    {
        Connection(SendRun &run, int number);

        void InsertLog(const QByteArray &source) override { run.log(number, source); }
        QString serverAddress() const override { return run.m_options.host; }
        QString serverPort() const override { return run.m_options.port; }
        void showReply(const QByteArray &) override {}
        void showProcessed(qint32) override {}

        enum class State { Free, Connecting, AwaitingReply };

        SendRun &run;
        const int number; // from 1
        Link link;
        LazyTimeout replyTimeout;
        State state = State::Free;
        Exchange exchange;
        qint64 connectStartNs = 0;
        qint64 writtenNs = 0;
    };

    void replay();
    void replayAtRate();
    void replayAtRecordedPace();
    // When the record just read is due, from its line's time stamp.
    qint64 recordedIntendedNs();
    // One period of the reader; at the end of the data, with --loop, the
    // file starts again. False once the data is over.
    bool readPeriod(const std::function<bool()> &keepReading);
    // Hands the exchange to the link (its packet goes when the connection
    // is up). False when it could not start: it is then settled as not sent.
    bool startExchange(Connection &connection, Exchange exchange);
    void packetWritten(Connection &connection);
    void connectionFailed(Connection &connection);
    // Records waiting in the backlog go out on the links that are free.
    void startWaiting();
    void settleNotSent(Exchange &&exchange, const QByteArray &logLine);
    // Settles as not sent the exchange of a connection still coming up.
    void settleConnecting(Connection &connection, const QByteArray &logLine);
    // Serves events until `nsSinceStart` (-1: until the next event).
    void waitUntil(qint64 nsSinceStart);
    Connection *freeConnection() const;
    bool anyBusy() const;
    // Serves events until a connection is free, or until none is busy.
    void awaitFreeConnection();
    void awaitAllConnections();
    // Serves what is pending now, every few milliseconds, so that a stop and
    // the progress line are seen while lines are read without a send.
    void pollEvents();
    void sleepUntil(qint64 nsSinceStart);
    void replyTimedOut(Connection &connection);
    void endExchange(Connection &connection, Outcome outcome, const QByteArray &reply,
                     const QByteArray &logLine);
    // Turns what the reader did since the last call into outcomes: a
    // rejected line, a record that did not go out.
    void settleReadStep();
    void recordOutcome(OutcomeRecord record);
    // Each report file's first failure to write, logged once.
    void reportWriteErrors();
    void log(int connection, const QByteArray &line);
    // Writes to `out`, flushed; false when its reader has gone (EPIPE).
    bool written(const QByteArray &text);
    void complain(const QByteArray &line);
    // A conformance run: the manifest's entry for the record the reader has
    // just yielded; none when the manifest does not fit (the run stops).
    std::optional<ManifestMatch::Match> matchRecord(bool goesOut);
    // The lines read so far that went into no record: refused, or parts dropped.
    qint64 spareLines() const;
    RunDescription description() const;
    // The run's figures as the reports and thresholds take them.
    RunFigures figures() const;
    QByteArray currentRecord() const;
    void showLiveLine();
    void writeProgressLine();

    SendOptions m_options;
    FILE *m_out;
    FILE *m_status;
    GivenFile m_dialog;
    std::vector<std::unique_ptr<Connection>> m_connections;
    DataFile m_dataFile;
    RunSummary m_summary;
    Reports m_reports;
    ElapsedClock m_clock;
    QElapsedTimer m_pollClock;
    QTimer *m_liveLineTimer = nullptr;
    QTimer *m_progressTimer = nullptr;
    QTimer m_wake;
    QTimer m_durationTimer;
    bool m_stopping = false;
    bool m_sendingOver = false; // --duration has passed
    bool m_endOfData = false;   // the reader came to the end of the data
    bool m_openFailed = false;
    int m_interruptedBy = 0; // the signal's number
    FILE *m_err = stderr;
    QString m_commandLine;
    QDateTime m_startedAt;
    std::unique_ptr<ManifestMatch> m_manifest;
    bool m_misfit = false; // the manifest did not fit: stopped, exit 2
    bool m_outGone = false; // standard output's reader has gone
    // The entry of the record the reader yielded last, once matched.
    std::optional<ManifestMatch::Match> m_currentMatch;
    QByteArray m_connectFailure; // the log line of the last failed connection

    // What the reader has been seen to do, for settleReadStep().
    qint64 m_seq = 0;
    DataFile::Counts m_seen;
    qint64 m_handed = 0; // records handed to a link or the backlog
    qint64 m_handedSeen = 0;
    qint64 m_recordsAtOpen = 0; // --loop: a pass that reads no record ends the run
    // With --rate: the backlog, and the intended time of the record the
    // reader is about to hand over.
    Backlog<Exchange> m_backlog;
    qint64 m_intendedNs = -1;
    std::optional<LoadSchedule> m_schedule; // an open loop's
    // m_intendedNs while each record's time comes from its line (--pace recorded).
    static constexpr qint64 RecordedPace = -2;
    std::optional<qint64> m_firstRecordedMs;
    qint64 m_pacedNs = 0; // the intended time of the last record so paced
    // The exchange whose "Data Sent" line the reader logs next, and where
    // one goes whose exchange has already ended.
    Exchange *m_sentLineOf = nullptr;
    Exchange m_endedExchange;
    // --progress: the interval since the last line.
    ProgressIntervals m_progress;
    qint64 m_notSent = 0;
    // The connection that the data file's log lines about a send belong to.
    int m_logConnection = 0;
    QByteArray m_lastLine;
    // Log lines' time stamps: the clock, and the text of the second last used.
    SystemClock m_wallClock;
    qint64 m_stampSecond = -1;
    QByteArray m_stampPrefix;
};
