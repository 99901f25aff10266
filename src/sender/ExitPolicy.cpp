#include "sender/ExitPolicy.h"

#include <csignal>

int exitStatus(const ExitFacts &facts)
{
    int status = facts.openFailed || facts.misfit ? 2 : facts.countsStatus;
    if (status == 0 && facts.thresholdMissed)
        status = 1;
    if (facts.interruptedBy != 0)
        status = 128 + facts.interruptedBy;
    if (facts.reportsFailed && status < 2)
        status = 2;
    if (facts.summaryLost && facts.interruptedBy == 0)
        status = 128 + SIGPIPE;
    return status;
}
