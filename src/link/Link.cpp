// The test link: one packet per connection to the server named in the
// window, and every way in which such a connection ends.

#include "console/frmIPNDTCPServer.h"

#include "platform/Clock.h"
#include "platform/Convert.h"
#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/Socket.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <limits>

namespace {
constexpr qint16 Originate = 2;
constexpr qint16 ListenMode = 1;
} // namespace

SendResult frmIPNDTCPServer::SendTCPPacket(const QByteArray &source)
{
    // A busy socket drops the packet: the receiver is still answering the last
    // one, or the link waits for a peer.
    if (wskMessage->State() != Socket::Closed)
        return SendResult::Busy;

    OpenConnection(Originate);

    // Sleep in the event loop until this connection is up or has ended. Every
    // ending closes the socket or marks it failed, and the socket's own
    // connect timeout guarantees that one of them comes.
    const quint64 ownConnection = wskMessage->generation();
    do {
        waitAndDispatchEvents();
    } while (!TCPConnected && wskMessage->generation() == ownConnection && wskMessage->isConnecting());

    // The wait may have ended for another reason than our own connection
    // coming up: refused, timed out, closed by the operator, or already
    // answered and closed. Then there is nothing to send on.
    if (!TCPConnected || wskMessage->generation() != ownConnection || wskMessage->State() != Socket::Connected)
        return SendResult::NoConnection;
    wskMessage->SendData(source);
    return SendResult::Sent;
}

void frmIPNDTCPServer::OpenConnection(qint16 mode)
{
    if (mode == ListenMode) {
        wskMessage->setLocalPort(toInt32(txbPort->text()));
        wskMessage->Listen();
        InsertLog("TCP Remote Server: Local port <" + QByteArray::number(wskMessage->LocalPort()) + "> Local IP <"
                  + wskMessage->LocalIP().toLatin1() + " > ");
        return;
    }
    wskMessage->setRemoteHost(txbAddress->text());
    wskMessage->setRemotePort(toInt32(txbPort->text()));
    wskMessage->setProtocol(0);
    wskMessage->Connect();
    // The labels say "Local" but the values are the server's port and address.
    InsertLog("TCP TCP Originate: Local port <" + QByteArray::number(wskMessage->RemotePort()) + "> Local IP <"
              + wskMessage->RemoteHost().toLatin1() + " > ");
}

void frmIPNDTCPServer::wskMessage_Connect()
{
    skipFailure([&] { InsertLog("Event: Connected"); });
    TCPConnected = -1;
}

void frmIPNDTCPServer::wskMessage_DataArrival(qint32 /*bytesTotal*/)
{
    QByteArray reply;
    skipFailure([&] { reply = wskMessage->GetData(); });
    skipFailure([&] { InsertLog("Event: <" + wskMessage->RemoteHostIP().toLatin1() + "> Data Pkt Rxd"); });
    skipFailure([&] { HandleReply(reply); });
    // The count stops at its maximum rather than wrapping.
    if (Processed < std::numeric_limits<qint32>::max())
        ++Processed;
    m_countChanged = true;
    scheduleDisplay();
}

void frmIPNDTCPServer::HandleReply(const QByteArray &reply)
{
    m_replyText = dateTimeText(clock().now()) + QLatin1Char(' ') + QString::fromLatin1(reply);
    m_replyChanged = true;
    scheduleDisplay();
    TCPConnected = 0;
    skipFailure([&] { wskMessage->Close(); });
}

void frmIPNDTCPServer::wskMessage_Close()
{
    skipFailure([&] { InsertLog("Event: Port Closed"); });
    skipFailure([&] {
        if (wskMessage->State() != Socket::Closed)
            wskMessage->Close();
    });
    skipFailure([&] { wskMessage->Listen(); });
}

void frmIPNDTCPServer::wskMessage_ConnectionRequest(qint32 requestId)
{
    skipFailure([&] {
        if (wskMessage->State() != Socket::Closed)
            wskMessage->Close();
    });
    skipFailure([&] { wskMessage->Accept(requestId); });
    skipFailure([&] {
        InsertLog("Event: Connect request id = " + QByteArray::number(requestId) + " from <"
                  + wskMessage->RemoteHostIP().toLatin1() + ">");
    });
}

void frmIPNDTCPServer::wskMessage_Error(int number, const QString &description)
{
    // A connection that failed is logged with the socket's own words and
    // closed, so the link is free for the next send.
    skipFailure([&] {
        InsertLog("Event: Socket error " + QByteArray::number(number) + ": " + description.toLatin1());
    });
    skipFailure([&] { wskMessage->Close(); });
}

void frmIPNDTCPServer::cmdClose_Click()
{
    if (wskMessage->State() != Socket::Closed)
        wskMessage->Close();
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
        InsertLog("Send failed: " + failure.description.toLatin1() + " (error " + QByteArray::number(failure.number)
                  + ")");
    }
}
