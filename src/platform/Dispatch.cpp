#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QEventLoop>

void waitAndDispatchEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
