#include "fuzz/FuzzTargets.h"

namespace {
// The names are the folders' names under fuzz/corpus/ and fuzz/regressions/, and with "_fuzz"
// the binaries' (fuzz/Targets.cmake lists them for the builds).
constexpr FuzzTarget kTargets[] = {
    {"firmware_image", FuzzFirmwareImage}, {"device_text", FuzzDeviceText},
    {"settings_file", FuzzSettingsFile},   {"outside_message", FuzzOutsideMessages},
    {"device_reply", FuzzDeviceReplies},
};
}  // namespace

std::span<const FuzzTarget> FuzzTargets()
{
    return kTargets;
}

const FuzzTarget* FindFuzzTarget(std::string_view name)
{
    for (const FuzzTarget& target : kTargets)
        if (target.Name == name) return &target;
    return nullptr;
}
