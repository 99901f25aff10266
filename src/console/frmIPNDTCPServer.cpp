#include "console/frmIPNDTCPServer.h"

#include "console/Twips.h"
#include "console/platform/AppIcon.h"
#include "platform/Clock.h"
#include "console/platform/QtFileDialog.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"
#include "platform/Version.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {

struct Placement
{
    QWidget *control;
    int left, top, width, height; // twips, relative to the parent
    int tabIndex;                 // -1: not in the tab order
};

QFont boldArial()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}

} // namespace

frmIPNDTCPServer::frmIPNDTCPServer(const WindowSettings &settings, QWidget *parent)
    : QWidget(parent)
    , TCPConnected(m_link.TCPConnected)
    , Processed(m_link.Processed)
{
    if (settings.clock) {
        m_clock = settings.clock;
    } else {
        m_ownClock = std::make_unique<SystemClock>();
        m_clock = m_ownClock.get();
    }
    if (settings.fileDialog) {
        CommonDialog1 = settings.fileDialog;
    } else {
        m_ownFileDialog = std::make_unique<QtFileDialog>(this);
        CommonDialog1 = m_ownFileDialog.get();
    }
    // Any other mode reads nothing at the end of a period.
    m_cycle.InputMode = dataFormatFromName(settings.inputMode);
    setWindowIcon(appIcon());
    createControls();
    placeControls();
    setTabOrderFromIndex();
    routeEvents();
    Form_Load();
    Timer1->start();
}

frmIPNDTCPServer::~frmIPNDTCPServer() = default;

void frmIPNDTCPServer::createControls()
{
    Frame1 = new QGroupBox(QStringLiteral("Single Test Packets"), this);
    cmdStandard = new QPushButton(QStringLiteral("Standard"), Frame1);
    cmdLongAdd = new QPushButton(QStringLiteral("Long"), Frame1);
    cmdNoAdd = new QPushButton(QStringLiteral("No Add"), Frame1);
    cmdMinAdd = new QPushButton(QStringLiteral("Min"), Frame1);
    cmdMaxAdd = new QPushButton(QStringLiteral("Max"), Frame1);

    Frame7 = new QGroupBox(QStringLiteral("Cycle Packet Control"), this);
    lbIPNDfile = new QLineEdit(Frame7);
    RunControl = new QPushButton(QStringLiteral("Start"), Frame7);
    RunControl->setFont(boldArial());
    PktPer = new QLineEdit(Frame7);
    PktNum = new QLineEdit(Frame7);
    timerlabel = new QLabel(QStringLiteral("Timer"), Frame7);
    timerlabel->setFont(boldArial());
    QPalette teal = timerlabel->palette();
    teal.setColor(QPalette::WindowText, QColor(0, 128, 128));
    timerlabel->setPalette(teal);
    label22 = new QLabel(QStringLiteral("Period"), Frame7);
    Label21 = new QLabel(QStringLiteral("Packets"), Frame7);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    m_display = new QTimer(this);
    m_display->setSingleShot(true);
    m_display->setInterval(DisplayRefreshMs);
    connect(m_display, &QTimer::timeout, this, &frmIPNDTCPServer::refreshDisplay);

    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    txbAddress = new QLineEdit(this);
    txbPort = new QLineEdit(this);
    lbProcessed = new QLineEdit(this);
    txbLog = new QPlainTextEdit(this);
    // A vertical scroll bar only: a long line (a record has no spaces) wraps
    // anywhere rather than scrolling sideways.
    txbLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txbLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txbLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txbLog->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    txbMessage = new QPlainTextEdit(this);
    txbMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txbMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txbMessage->setTabChangesFocus(true);
    txbLog->setTabChangesFocus(true);
    wskMessage = m_link.wskMessage;
    Label1 = new QLabel(QStringLiteral("Packets Processed"), this);

    setObjectName(QStringLiteral("frmIPNDTCPServer"));
    const std::pair<QObject *, const char *> names[] = {
        {Frame1, "Frame1"},         {cmdStandard, "cmdStandard"}, {cmdLongAdd, "cmdLongAdd"},
        {cmdNoAdd, "cmdNoAdd"},     {cmdMinAdd, "cmdMinAdd"},     {cmdMaxAdd, "cmdMaxAdd"},
        {Frame7, "Frame7"},         {lbIPNDfile, "lbIPNDfile"},   {RunControl, "RunControl"},
        {PktPer, "PktPer"},         {PktNum, "PktNum"},           {timerlabel, "timerlabel"},
        {label22, "label22"},       {Label21, "Label21"},         {Timer1, "Timer1"},
        {cmdClose, "cmdClose"},     {txbAddress, "txbAddress"},   {txbPort, "txbPort"},
        {lbProcessed, "lbProcessed"}, {txbLog, "txbLog"},         {txbMessage, "txbMessage"},
        {Label1, "Label1"}};
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));
}

static QList<Placement> controlTable(frmIPNDTCPServer &w)
{
    return {
        {w.Frame1, 210, 6195, 7050, 750, 14},
        {w.cmdStandard, 210, 315, 915, 285, 19},
        {w.cmdLongAdd, 1575, 315, 915, 285, 18},
        {w.cmdNoAdd, 2940, 315, 915, 285, 17},
        {w.cmdMinAdd, 4305, 315, 915, 285, 16},
        {w.cmdMaxAdd, 5670, 315, 915, 285, 15},
        {w.Frame7, 210, 7035, 7080, 975, 7},
        {w.lbIPNDfile, 3675, 525, 3225, 285, 20},
        {w.RunControl, 1800, 240, 1455, 255, 10},
        {w.PktPer, 840, 600, 615, 285, 9},
        {w.PktNum, 840, 210, 615, 285, 8},
        {w.timerlabel, 1800, 600, 1695, 255, 13},
        {w.label22, 120, 600, 615, 255, 12},
        {w.Label21, 120, 240, 735, 255, 11},
        {w.cmdClose, 3465, 150, 915, 285, 6},
        {w.txbAddress, 1335, 150, 1665, 315, 5},
        {w.txbPort, 195, 150, 1035, 315, 4},
        {w.lbProcessed, 6600, 270, 705, 285, 2},
        {w.txbLog, 150, 1500, 7185, 4515, 1},
        {w.txbMessage, 150, 630, 7155, 750, 0},
        {w.Label1, 5040, 300, 1515, 225, 3},
    };
}

void frmIPNDTCPServer::placeControls()
{
    const int dpi = logicalDpiX();
    for (const Placement &p : controlTable(*this)) {
        p.control->setGeometry(twipsToPixels(p.left, dpi), twipsToPixels(p.top, dpi),
                               twipsToPixels(p.width, dpi), twipsToPixels(p.height, dpi));
    }
    setFixedSize(twipsToPixels(7500, dpi), twipsToPixels(8265, dpi));
    // The sizes were drawn for a smaller dialog font than many desktops use:
    // a caption that would be cut off gets a smaller size of the same font.
    for (QLabel *label : {Label1, label22, Label21})
        fitCaption(label);
}

void frmIPNDTCPServer::fitCaption(QLabel *label)
{
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > label->width() && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

void frmIPNDTCPServer::setTabOrderFromIndex()
{
    QList<Placement> table = controlTable(*this);
    std::sort(table.begin(), table.end(), [](const Placement &a, const Placement &b) { return a.tabIndex < b.tabIndex; });
    QWidget *previous = nullptr;
    for (const Placement &p : table) {
        if (p.control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            setTabOrder(previous, p.control);
        previous = p.control;
    }
}

void frmIPNDTCPServer::routeEvents()
{
    connect(cmdClose, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdClose_Click);
    connect(cmdStandard, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdStandard_Click);
    connect(cmdNoAdd, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdNoAdd_Click);
    connect(cmdLongAdd, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdLongAdd_Click);
    connect(cmdMinAdd, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdMinAdd_Click);
    connect(cmdMaxAdd, &QPushButton::clicked, this, &frmIPNDTCPServer::cmdMaxAdd_Click);
    connect(RunControl, &QPushButton::clicked, this, &frmIPNDTCPServer::RunControl_Click);
    connect(Timer1, &QTimer::timeout, this, &frmIPNDTCPServer::Timer1_Timer);
    PktPer->installEventFilter(this);
}

void frmIPNDTCPServer::Form_Load()
{
    setWindowTitle(QStringLiteral("ZENT TCP 000 Test Generator %1.%2 (%3)")
                       .arg(Version::Major)
                       .arg(Version::Minor)
                       .arg(Version::Revision));
    txbAddress->setText(QString::fromLatin1(DefaultServerAddress));
    txbPort->setText(QString::fromLatin1(DefaultServerPort));
    m_cycle.PacketsLeft = 10000;
    m_cycle.PeriodTicks = 5;
    PktPer->setText(QString::number(m_cycle.PeriodTicks));
    PktNum->setText(QString::number(m_cycle.PacketsLeft));
    txbMessage->setFocus();
}

void frmIPNDTCPServer::InsertLog(const QByteArray &source)
{
    InsertLogText(QString::fromLatin1(source));
}

void frmIPNDTCPServer::InsertLogText(const QString &text)
{
    m_eventLog.insert(timeOfDayText(clock().now().time()), text);
    m_logChanged = true;
    scheduleDisplay();
}

// Laying out a text box costs far more than a whole exchange on loopback, so
// the boxes that the link and the log write are brought up to date at most
// once per display refresh; the values behind them are always current.
void frmIPNDTCPServer::scheduleDisplay()
{
    if (!m_display->isActive())
        m_display->start();
}

void frmIPNDTCPServer::refreshDisplay()
{
    if (std::exchange(m_logChanged, false))
        txbLog->setPlainText(m_eventLog.render());
    if (std::exchange(m_replyChanged, false))
        txbMessage->setPlainText(dateTimeText(m_replyAt) + QLatin1Char(' ') + QString::fromLatin1(m_reply));
    if (std::exchange(m_countChanged, false))
        lbProcessed->setText(QString::number(Processed));
}

bool frmIPNDTCPServer::eventFilter(QObject *watched, QEvent *event)
{
    // Focus that leaves for another control; not the whole window being
    // deactivated, nor the box's own context menu opening.
    if (watched == PktPer && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            PktPer_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void frmIPNDTCPServer::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}
