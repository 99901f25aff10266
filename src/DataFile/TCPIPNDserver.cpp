#include "DataFile/TCPIPNDserver.h"

#include "platform/Convert.h"
#include "platform/PlatformError.h"

bool TCPIPNDserver::endOfPeriod()
{
    if (TickCount < PeriodTicks) {
        ++TickCount;
        return false;
    }
    TickCount = 1;
    if (PacketsLeft <= 0)
        return false;
    --PacketsLeft;
    return true;
}

QString TCPIPNDserver::setPeriod(const QString &text)
{
    try {
        PeriodTicks = toInt16(text);
    } catch (const PlatformError &failure) {
        return QStringLiteral("Period not changed, still %1 ticks: %2").arg(PeriodTicks).arg(failure.description);
    }
    return {};
}
