// The normal build runs the fuzz targets (the replay test) on the real clock: a silent device
// takes no time there beyond what the loader's own pauses take.

#include "fuzz/FuzzClock.h"

void AdvanceFuzzClock(uint32_t) {}
