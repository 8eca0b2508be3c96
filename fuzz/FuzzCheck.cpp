#include "fuzz/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

void FuzzCheckFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}
