// The fuzz binaries' clock and pause. A pause moves the clock on and returns at once: against a
// stand-in device that answers at once, real pauses would only cut the inputs tried per second a
// hundredfold. The normal build, the replay test included, keeps the real clock and pause
// (platform/Clock.cpp, platform/linux/Pause.cpp) and a no-op AdvanceFuzzClock (NoFuzzClock.cpp).

#include "fuzz/FuzzClock.h"
#include "platform/Ticks.h"

#include <atomic>

namespace {
std::atomic<uint32_t> gNow{1000};
}  // namespace

uint32_t TickCount()
{
    return gNow.load();
}

void AdvanceFuzzClock(uint32_t ms)
{
    gNow += ms;
}

void PauseMs(uint32_t ms)
{
    AdvanceFuzzClock(ms);
}
