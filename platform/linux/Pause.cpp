#include "platform/Ticks.h"

#include <thread>

void PauseMs(uint32_t ms)
{
    // nanosleep: about 1.05 ms for 1 ms on an idle system (the write benchmark prints it).
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;
