// The "Single Test Packets" buttons: each sends its fixed record as it stands,
// over a connection of its own.

#include "console/frmIPNDTCPServer.h"

#include "testpackets/TestRecords.h"

void frmIPNDTCPServer::cmdStandard_Click()
{
    reportFailure([this] { SendTCPPacket(TestRecords::Standard); });
}

void frmIPNDTCPServer::cmdNoAdd_Click()
{
    reportFailure([this] { SendTCPPacket(TestRecords::NoAdd); });
}

void frmIPNDTCPServer::cmdLongAdd_Click()
{
    reportFailure([this] { SendTCPPacket(TestRecords::Long); });
}

void frmIPNDTCPServer::cmdMinAdd_Click()
{
    reportFailure([this] { SendTCPPacket(TestRecords::Min); });
}

void frmIPNDTCPServer::cmdMaxAdd_Click()
{
    reportFailure([this] { SendTCPPacket(TestRecords::Max); });
}
