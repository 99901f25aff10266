// The replay cycle: Start and Stop, the period, and the one-second tick that
// reads and sends one record at the end of every period.

#include "console/frmIPNDTCPServer.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void frmIPNDTCPServer::RunControl_Click()
{
    if (m_cycle.Running) {
        RunControl->setText(QStringLiteral("Start"));
        m_dataFile.closeDataFile();
    } else {
        // The cycle starts whatever the open did: a failure was logged, and
        // the first period finds no file and stops the cycle again.
        m_dataFile.OpenDataFile(*this);
        RunControl->setText(QStringLiteral("Stop"));
    }
    m_cycle.Running = qint16(~m_cycle.Running);
}

void frmIPNDTCPServer::stopCycle()
{
    if (m_cycle.Running)
        RunControl_Click();
}

void frmIPNDTCPServer::PktPer_LostFocus()
{
    if (const QString failure = m_cycle.setPeriod(PktPer->text()); !failure.isEmpty())
        InsertLogText(failure);
}

void frmIPNDTCPServer::Timer1_Timer()
{
    if (m_cycle.Running != -1)
        return;
    timerlabel->setText(QStringLiteral("Timer %1").arg(m_cycle.TickCount));
    if (!m_cycle.endOfPeriod())
        return;
    PktNum->setText(QString::number(m_cycle.PacketsLeft));

    // A Stop served during a send's wait closes the file: read no further.
    if (m_cycle.InputMode)
        reportFailure([this] { m_dataFile.ReadAndSendPeriod(*m_cycle.InputMode, [this] { return m_cycle.Running == -1; }); });
    if (m_dataFile.takeEndOfData())
        stopCycle();
}
