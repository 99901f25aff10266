#pragma once

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "DataFile/TCPIPNDserver.h"
#include "console/EventLog.h"
#include "link/Link.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class Clock;
class FileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class Socket;

// Settings that the code building the window passes in. The program uses the
// defaults; tests and tools put their own clock in.
struct WindowSettings
{
    const Clock *clock = nullptr;        // nullptr: the system clock
    FileDialog *fileDialog = nullptr;    // nullptr: Qt's own file dialog
    QString inputMode = QString::fromLatin1(RawLogMode);
};

// The server address written into txbAddress at start-up: a host on the
// private local network.
inline constexpr char DefaultServerAddress[] = "192.168.1.20";
inline constexpr char DefaultServerPort[] = "50003";

// The one window of the program. It owns every control, the socket, the timer,
// the event log and the link flags; its handlers are named after the control
// and the event.
class frmIPNDTCPServer : public QWidget, public DataFileHost, public DataFileChooser, public LinkHost
{
    Q_OBJECT

public:
    explicit frmIPNDTCPServer(const WindowSettings &settings = {}, QWidget *parent = nullptr);
    ~frmIPNDTCPServer() override;

    // Public methods.
    SendResult SendTCPPacket(const QByteArray &source) override;
    void InsertLog(const QByteArray &source) override;
    void InsertLogText(const QString &text) override;
    void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                       const QString &filterText) override;

    Link &link() { return m_link; }
    // The link's flags, read here: -1 true, 0 false.
    const qint16 &TCPConnected;
    const qint32 &Processed;

    const EventLog &eventLog() const { return m_eventLog; }
    // The log, reply and counter boxes show a change at most this much later.
    static constexpr int DisplayRefreshMs = 25;
    const TCPIPNDserver &cycle() const { return m_cycle; }
    DataFile &dataFile() { return m_dataFile; }

    // Controls, in the window's control order.
    QGroupBox *Frame1 = nullptr;
    QPushButton *cmdStandard = nullptr;
    QPushButton *cmdLongAdd = nullptr;
    QPushButton *cmdNoAdd = nullptr;
    QPushButton *cmdMinAdd = nullptr;
    QPushButton *cmdMaxAdd = nullptr;
    QGroupBox *Frame7 = nullptr;
    QLineEdit *lbIPNDfile = nullptr;
    QPushButton *RunControl = nullptr;
    QLineEdit *PktPer = nullptr;
    QLineEdit *PktNum = nullptr;
    QLabel *timerlabel = nullptr;
    QLabel *label22 = nullptr;
    QLabel *Label21 = nullptr;
    QTimer *Timer1 = nullptr;
    QPushButton *cmdClose = nullptr;
    QLineEdit *txbAddress = nullptr;
    QLineEdit *txbPort = nullptr;
    QLineEdit *lbProcessed = nullptr;
    QPlainTextEdit *txbLog = nullptr;
    QPlainTextEdit *txbMessage = nullptr;
    Socket *wskMessage = nullptr;
    QLabel *Label1 = nullptr;
    FileDialog *CommonDialog1 = nullptr;

    // Handlers.
    void Form_Load();
    void Form_Unload(qint16 &cancel);
    void cmdClose_Click();
    void cmdStandard_Click();
    void cmdNoAdd_Click();
    void cmdLongAdd_Click();
    void cmdMinAdd_Click();
    void cmdMaxAdd_Click();
    void RunControl_Click();
    void PktPer_LostFocus();
    void Timer1_Timer();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void placeControls();
    static void fitCaption(QLabel *label);
    void setTabOrderFromIndex();
    void routeEvents();

    FileDialog &dataFileDialog() override { return *CommonDialog1; }
    void showDataFilePath(const QString &path) override;
    void scheduleDisplay();
    void refreshDisplay();
    void stopCycle();

    QString serverAddress() const override;
    QString serverPort() const override;
    void showReply(const QByteArray &reply) override;
    void showProcessed(qint32 processed) override;

    // The edge of a handler that sends: a failure that leaves the sender is
    // written to the event log as one line and the window goes on working.
    void reportFailure(const std::function<void()> &action);

    const Clock &clock() const { return *m_clock; }

    std::unique_ptr<Clock> m_ownClock;
    const Clock *m_clock = nullptr;
    std::unique_ptr<FileDialog> m_ownFileDialog;
    QTimer *m_display = nullptr;
    bool m_logChanged = false;
    // The last reply and when it came, shown at the next refresh.
    QByteArray m_reply;
    QDateTime m_replyAt;
    bool m_replyChanged = false;
    bool m_countChanged = false;
    EventLog m_eventLog;
    Link m_link{*this};
    TCPIPNDserver m_cycle;
    DataFile m_dataFile{*this};
};
