// The window's side of the link: the fields the link reads, the boxes it
// writes, the Close button, closing the window, and the edge of the handlers
// that send.

#include "console/frmIPNDTCPServer.h"

#include "platform/Clock.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"

#include <QLineEdit>

SendResult frmIPNDTCPServer::SendTCPPacket(const QByteArray &source)
{
    return m_link.SendTCPPacket(source);
}

QString frmIPNDTCPServer::serverAddress() const
{
    return txbAddress->text();
}

QString frmIPNDTCPServer::serverPort() const
{
    return txbPort->text();
}

void frmIPNDTCPServer::showReply(const QByteArray &reply)
{
    // The text is made when the box is brought up to date: of many replies
    // within one refresh only the last is shown.
    m_replyAt = clock().now();
    m_reply = reply;
    m_replyChanged = true;
    scheduleDisplay();
}

void frmIPNDTCPServer::showProcessed(qint32 /*processed*/)
{
    m_countChanged = true;
    scheduleDisplay();
}

void frmIPNDTCPServer::cmdClose_Click()
{
    m_link.Close();
}

void frmIPNDTCPServer::Form_Unload(qint16 & /*cancel*/)
{
    wskMessage->Close();
}

void frmIPNDTCPServer::reportFailure(const std::function<void()> &action)
{
    try {
        action();
    } catch (const PlatformError &failure) {
        InsertLogText(sendFailureLine(failure));
    }
}
