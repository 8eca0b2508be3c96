#include "sessions/FlashLayout.h"

#include "sessions/BootProtocol.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace {
constexpr uint16_t k4K = 0x1000;
constexpr uint16_t k32K = 0x8000;

// Runs of equal sectors, back to back from address start.
struct Run {
    int count;
    uint16_t size;
};

template <size_t N>
constexpr std::array<SectorInfo, N> Sectors(uint32_t start, std::initializer_list<Run> runs)
{
    std::array<SectorInfo, N> sectors{};
    size_t i = 0;
    uint32_t address = start;
    for (const Run& run : runs) {
        for (int k = 0; k < run.count; ++k, ++i) {
            sectors[i] = {address, run.size};
            address += run.size;
        }
    }
    return sectors;
}

constexpr auto kSixteen4K = Sectors<16>(0, {{16, k4K}});
constexpr auto kSixtyFour4K = Sectors<64>(0, {{64, k4K}});
constexpr auto kSixteen4KSix32K = Sectors<22>(0, {{16, k4K}, {6, k32K}});
constexpr auto kSixteen4KFourteen32K = Sectors<30>(0, {{16, k4K}, {14, k32K}});
constexpr auto kTwoHundredFiftySix512 = Sectors<256>(0x4400, {{256, 512}});
// The processors that have no map of their own: sectors 0-7 of 4 KB, 8-21 of 32 KB, then 4 KB
// ones up to sector 26 ("TR" and "PP" bootloaders) or 27 (any other).
constexpr auto kDefaultTo26 = Sectors<27>(0, {{8, k4K}, {14, k32K}, {5, k4K}});
constexpr auto kDefaultTo27 = Sectors<28>(0, {{8, k4K}, {14, k32K}, {6, k4K}});

static_assert(kSixteen4KFourteen32K[29].SectorStart == 0x78000);
static_assert(kTwoHundredFiftySix512[255].SectorStart == 0x24200);
static_assert(kDefaultTo26[26].SectorStart == 0x7C000);
static_assert(kDefaultTo27[27].SectorStart == 0x7D000);

constexpr uint32_t kSmallProcessors[] = {0x0000BC40, 0x0001BC40};
constexpr uint32_t kSixtyFourSectorProcessors[] = {0x10040204};
constexpr uint32_t kTwentyTwoSectorProcessors[] = {0x25011723, 0x26013733, 0x26013F33};
constexpr uint32_t kThirtySectorProcessors[] = {0x25013F37, 0x25113737, 0x26012837, 0x26013F37,
                                                0x26113F37, 0x27193F47, 0x47193F47, 0x481D3F47};
constexpr uint32_t kHalfKilobyteSectorProcessors[] = {0x400FE000};

struct MapRow {
    std::span<const uint32_t> processors;
    FlashMap map;
};

const MapRow kMapRows[] = {
    {kSmallProcessors, {kSixteen4K, 4, 15}},
    {kSixtyFourSectorProcessors, {kSixtyFour4K, 4, 63}},
    {kTwentyTwoSectorProcessors, {kSixteen4KSix32K, 10, 21}},
    {kThirtySectorProcessors, {kSixteen4KFourteen32K, 10, 29}},
    {kHalfKilobyteSectorProcessors, {kTwoHundredFiftySix512, 0, 255}},
};
const FlashMap kDefaultMapTo26{kDefaultTo26, 4, 26};
const FlashMap kDefaultMapTo27{kDefaultTo27, 4, 27};
}  // namespace

const FlashMap& SectorMapFor(uint32_t processorId, std::string_view bootloaderSuffix, bool& known)
{
    for (const MapRow& row : kMapRows) {
        if (std::find(row.processors.begin(), row.processors.end(), processorId) !=
            row.processors.end()) {
            known = true;
            return row.map;
        }
    }
    known = false;
    return bootloaderSuffix == "TR" || bootloaderSuffix == "PP" ? kDefaultMapTo26 : kDefaultMapTo27;
}

bool SectorIsEmpty(std::span<const uint8_t> image, const SectorInfo& sector)
{
    if (static_cast<uint64_t>(sector.SectorStart) + sector.SectorSize > image.size()) return false;
    const uint8_t* begin = image.data() + sector.SectorStart;
    return std::all_of(begin, begin + sector.SectorSize, [](uint8_t b) { return b == 0xFF; });
}

FlashLayout LayOutFirmware(const FlashMap& map, const TFirmwareBlockList& blocks)
{
    FlashLayout layout;
    layout.FirstSector = map.FirstSector;
    layout.LastSector = map.LastSector;
    layout.Image.assign(map.ImageLength(), 0xFF);

    const uint32_t firstStart = map.Sectors[static_cast<size_t>(map.FirstSector)].SectorStart;
    for (const std::unique_ptr<TFirmwareBlock>& block : blocks) {
        if (!block) continue;
        const uint64_t destination =
            block->FlashAddress >= 0 ? static_cast<uint64_t>(block->FlashAddress) : firstStart;
        if (destination + block->DataSize > layout.Image.size()) {
            layout.ErrorCode = kWriteBlockOutsideImage;
            break;
        }
        if (block->DataSize > 0)
            std::memcpy(layout.Image.data() + destination, block->Data.get(), block->DataSize);
    }

    // Empty sectors at the end are not written.
    while (layout.LastSector >= layout.FirstSector &&
           SectorIsEmpty(layout.Image, map.Sectors[static_cast<size_t>(layout.LastSector)]))
        --layout.LastSector;
    if (layout.LastSector < layout.FirstSector) {
        // A block that did not fit keeps its own code: "nothing to write" would hide why.
        if (layout.ErrorCode == 0) layout.ErrorCode = kWriteNothingToWrite;
        return layout;
    }
    const SectorInfo& last = map.Sectors[static_cast<size_t>(layout.LastSector)];
    layout.PartsTotal =
        static_cast<int32_t>((last.SectorStart + last.SectorSize - firstStart) / WRITE_PART_SIZE);
    return layout;
}

bool FirmwareFitsDevice(const TFirmwareVersion& deviceFirmware, const TFirmwareVersion& bootloader,
                        const TFirmwareVersion& imageVersion, bool skip)
{
    const std::string& d = deviceFirmware.Name;
    const std::string& i = imageVersion.Name;
    const uint16_t b = bootloader.Number;
    const uint16_t n = imageVersion.Number;
    const bool lumivarsk = d == "GXLV" || d == "KORM";
    if (skip) return true;                                    // 1
    if (lumivarsk && b < 104 && n >= 900) return false;       // 2: an old bootloader, new firmware
    if (lumivarsk && b >= 104 && n < 900) return false;       // 3: a new bootloader, old firmware
    if (d == i) return true;                                  // 4
    if (d == "GXLV" && i == "KORM") return true;              // 5
    if (i == "GXLV" && d == "KORM") return true;              // 6
    if (d.empty()) return true;                               // 7
    if (d == "unk") return true;                              // 8: the device reported "Unknown"
    if (d == "NIMB" && i == "GXNB" && n >= 304) return true;  // 9
    return false;                                             // 10
}
