#pragma once
// Elapsed times are differences of a monotonic millisecond tick truncated to 32 bits; unsigned
// subtraction makes a difference taken across the wrap come out right.

#include <chrono>
#include <cstdint>

inline uint32_t TickCount()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

inline uint32_t TicksSince(uint32_t start)
{
    return TickCount() - start;
}
