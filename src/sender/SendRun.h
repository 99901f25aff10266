#pragma once

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "DataFile/TCPIPNDserver.h"
#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/LazyTimeout.h"
#include "report/Reports.h"
#include "sender/Manifest.h"
#include "sender/RunSummary.h"
#include "sender/SendOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

// One run of ipnd-send: the fixed record, or a data file replayed through the
// same readers, framer and link as the window's cycle, over one link or
// several side by side (each one exchange at a time), paced on an absolute
// schedule or as a closed loop. Log lines go to `out` with a date and
// millisecond time stamp, and with the connection's number ("[3] ") when
// there is more than one.
class SendRun : public QObject, public DataFileHost
{
    Q_OBJECT

public:
    SendRun(const SendOptions &options, FILE *out, FILE *progress);
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
        QElapsedTimer roundTrip;
        OutcomeRecord pending; // the record on its way
    };

    void replay();
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
    // `always`: also under --quiet (a failure the exit status alone cannot explain).
    void log(int connection, const QByteArray &line, bool always = false);
    void complain(const QByteArray &line);
    // A conformance run: the manifest's entry for the record the reader has
    // just yielded; none when the manifest does not fit (the run stops).
    std::optional<ManifestMatch::Match> matchRecord(bool goesOut);
    RunDescription description() const;
    // The run's figures as the reports and thresholds take them.
    RunFigures figures() const;
    QByteArray currentRecord() const;
    void showProgress();

    SendOptions m_options;
    FILE *m_out;
    FILE *m_progress; // nullptr: no progress line
    GivenFile m_dialog;
    std::vector<std::unique_ptr<Connection>> m_connections;
    DataFile m_dataFile;
    RunSummary m_summary;
    Reports m_reports;
    QElapsedTimer m_clock;
    QElapsedTimer m_pollClock;
    QTimer *m_progressTimer = nullptr;
    bool m_stopping = false;
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
    qint64 m_sentSeen = 0;
    // The connection that the data file's log lines about a send belong to.
    int m_logConnection = 0;
    QByteArray m_lastLine;
    // Log lines' time stamps: the clock, and the text of the second last used.
    SystemClock m_wallClock;
    qint64 m_stampSecond = -1;
    QByteArray m_stampPrefix;
};
