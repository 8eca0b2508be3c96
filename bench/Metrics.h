#pragma once
// One machine-readable line per figure, beside a benchmark's own text, for the report that
// scripts/bench.sh makes of all of them: "metric<TAB>name<TAB>value<TAB>unit".

#include <cstdio>

inline void Metric(const char* name, double value, const char* unit)
{
    std::printf("metric\t%s\t%.3f\t%s\n", name, value, unit);
    std::fflush(stdout);
}
