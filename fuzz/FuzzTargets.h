#pragma once
// Every fuzz target: the code that takes one input through the loader's own parsing or exchange
// code and checks what came out. The libFuzzer binaries (fuzz/CMakeLists.txt) and the replay
// test of the normal build (tests/FuzzReplayTest.cpp) both run inputs through this same code.
// Each target's seed inputs live in fuzz/corpus/<name>/, the inputs it once failed on in
// fuzz/regressions/<name>/.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Each returns normally for any input; a broken promise ends the process (fuzz/FuzzCheck.h).
void FuzzFirmwareImage(const uint8_t* data, size_t size);
void FuzzDeviceText(const uint8_t* data, size_t size);
void FuzzSettingsFile(const uint8_t* data, size_t size);
void FuzzOutsideMessages(const uint8_t* data, size_t size);
void FuzzDeviceReplies(const uint8_t* data, size_t size);

struct FuzzTarget {
    std::string_view Name;
    void (*Run)(const uint8_t* data, size_t size);
};

std::span<const FuzzTarget> FuzzTargets();
// Null for a name of no target.
const FuzzTarget* FindFuzzTarget(std::string_view name);
