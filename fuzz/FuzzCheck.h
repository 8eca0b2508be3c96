#pragma once
// The targets' own checks. A broken promise of the code under test ends the process at once, as a
// crash does: libFuzzer then keeps the input, and the replay test fails on it.

[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);

#define GX_FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : FuzzCheckFailed(#condition, __FILE__, __LINE__))
