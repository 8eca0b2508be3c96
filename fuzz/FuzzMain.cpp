// The libFuzzer entry of one target binary; GX_FUZZ_TARGET names the target (fuzz/CMakeLists.txt).

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"

#include <cstddef>
#include <cstdint>

// Debian's Qt is built without frame pointers: the fast unwinder that records where each block
// was allocated walks garbage there and files a new stack for nearly every allocation, and its
// store grows without end (settings_file passed 850 MB in five minutes, still rising). The exact
// unwinder costs about half the speed and keeps the memory flat. ASAN_OPTIONS still overrides it.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const FuzzTarget* const target = FindFuzzTarget(GX_FUZZ_TARGET);
    GX_FUZZ_CHECK(target != nullptr);
    target->Run(data, size);
    return 0;
}
