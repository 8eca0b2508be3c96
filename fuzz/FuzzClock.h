#pragma once
// Time in the fuzz binaries: a clock of their own that moves only when the loader pauses or the
// scripted device stays silent, so a wait bounded by time ends after a bounded number of reads
// however fast the stand-in answers. The normal build (the replay test) keeps the real clock, and
// there this does nothing.

#include <cstdint>

void AdvanceFuzzClock(uint32_t ms);
