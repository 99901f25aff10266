#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QEventLoop>

void waitAndDispatchEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void dispatchPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void preferPlainEventDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}
