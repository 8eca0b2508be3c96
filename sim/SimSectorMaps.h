#pragma once
// The flash layouts of the simulated devices, by processor identifier. The simulator keeps its own
// copy, as a device's bootloader would, and checks every erase against it.

#include <cstdint>
#include <string_view>
#include <vector>

namespace gxsim {

struct FlashSector {
    uint32_t Start = 0;
    uint32_t Size = 0;
};

struct FlashLayout {
    std::vector<FlashSector> Sectors;  // indexed by sector number
    uint32_t FlashSize = 0;            // bytes from address 0 to the end of the last sector
};

// bootloaderText: the device's bootloader version text; its suffix ("TR", "PP") picks between
// the two layouts of processors that have no layout of their own.
FlashLayout LayoutFor(uint32_t processorId, std::string_view bootloaderText);

// The text after the version digits of a version text such as "GXBL-1.05TR", trimmed.
std::string_view VersionSuffix(std::string_view versionText);

}  // namespace gxsim
