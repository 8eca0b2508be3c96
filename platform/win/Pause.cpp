#include "platform/Ticks.h"

#include <windows.h>
#include <timeapi.h>

void PauseMs(uint32_t ms)
{
    Sleep(ms);
}

FineTimerResolution::FineTimerResolution() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution()
{
    if (raised_) timeEndPeriod(1);
}
