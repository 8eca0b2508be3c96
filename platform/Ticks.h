#pragma once
// Elapsed times are differences of a monotonic millisecond tick truncated to 32 bits; unsigned
// subtraction makes a difference taken across the wrap come out right.

#include <chrono>
#include <cstdint>

// The monotonic clock in ms (platform/Clock.cpp; the fuzz binaries keep a clock of their own, in
// which a device's silence makes time pass).
uint32_t TickCount();

inline uint32_t TicksSince(uint32_t start)
{
    return TickCount() - start;
}

// Sleeps about ms milliseconds. The device protocol's pauses are 1 ms; on Windows a sleep lasts
// a whole scheduler tick (about 15.6 ms) unless FineTimerResolution is held.
void PauseMs(uint32_t ms);

// Holds the system's timer resolution at 1 ms for its lifetime (Windows: timeBeginPeriod(1));
// nothing to do where sleeps are that fine already. The program holds one from start to end.
class FineTimerResolution {
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;
    // Whether the system took the request (and the destructor gives it back); always false where
    // there is nothing to ask for.
    bool Raised() const { return raised_; }

private:
    bool raised_ = false;
};
