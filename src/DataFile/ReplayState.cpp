#include "DataFile/ReplayState.h"

void ReplayState::ResetSequence()
{
    RecordCount = 0;
    PartTotal = 0;
    TerminalId = 0;
    ExpectedPart = 0;
    freeSlots();
}

void ReplayState::freeSlots()
{
    for (int slot = 1; slot < Slots; ++slot) {
        PartState[slot][Received] = 0;
        PartState[slot][Terminal] = 0;
    }
}
