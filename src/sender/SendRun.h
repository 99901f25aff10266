#pragma once

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "DataFile/TCPIPNDserver.h"
#include "link/Link.h"
#include "platform/FileDialog.h"
#include "sender/RunSummary.h"
#include "sender/SendOptions.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdio>

class QTimer;

// One run of ipnd-send: the fixed record, or a data file replayed through the
// same readers, framer and link as the window's cycle, one exchange at a
// time, paced on an absolute schedule. Log lines go to `out` with a date and
// millisecond time stamp.
class SendRun : public QObject, public LinkHost, public DataFileHost
{
    Q_OBJECT

public:
    SendRun(const SendOptions &options, FILE *out, FILE *progress);
    ~SendRun() override;

    // Runs to the end (or to stop()), prints the summary, returns the exit status.
    int run();
    // Ends the run at the next opportunity; the exchange under way counts as
    // unanswered if its reply has not come.
    void stop();

    // LinkHost and DataFileHost.
    void InsertLog(const QByteArray &source) override;
    void InsertLogText(const QString &text) override { InsertLog(text.toUtf8()); }
    QString serverAddress() const override { return m_options.host; }
    QString serverPort() const override { return m_options.port; }
    void showReply(const QByteArray &) override {}
    void showProcessed(qint32) override {}
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

    void replay();
    // Waits for the end of the exchange that the period started, if any: the
    // reply, the server closing the connection, the reply timeout or a stop.
    void awaitReply();
    void sleepUntil(qint64 msSinceStart);
    void showProgress();

    SendOptions m_options;
    FILE *m_out;
    FILE *m_progress; // nullptr: no progress line
    GivenFile m_dialog;
    Link m_link;
    DataFile m_dataFile;
    RunSummary m_summary;
    QElapsedTimer m_clock;
    QTimer *m_progressTimer = nullptr;
    bool m_stopping = false;

    enum class ExchangeEnd { None, Answered, PeerClosed };
    bool m_awaitingReply = false;
    ExchangeEnd m_exchangeEnd = ExchangeEnd::None;
    QElapsedTimer m_roundTrip;
};
