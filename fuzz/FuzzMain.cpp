// The libFuzzer entry of one target binary; GX_FUZZ_TARGET names the target (fuzz/CMakeLists.txt).

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const FuzzTarget* const target = FindFuzzTarget(GX_FUZZ_TARGET);
    GX_FUZZ_CHECK(target != nullptr);
    target->Run(data, size);
    return 0;
}
