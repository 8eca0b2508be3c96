#pragma once
// Where a firmware goes in a device's flash, and whether it may go there at all: the sector maps
// by processor identifier, the flash image a write session lays the firmware blocks into, and the
// compatibility rules between the firmware's family and version and the device's. No widgets, no
// window: the write session applies them on its own thread.

#include "devices/Structs.h"
#include "firmware/FirmwareBlock.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// One sector of a flash layout: its flash address (also its offset in the flash image) and size.
struct SectorInfo {
    uint32_t SectorStart;
    uint16_t SectorSize;
};

// A sector map: a constant table indexed by sector number, and the sectors a session may write.
struct FlashMap {
    std::span<const SectorInfo> Sectors;
    int FirstSector;  // the sectors before it are listed but never touched
    int LastSector;
    // Bytes from flash address 0 to the end of the last sector: the flash image's length.
    uint32_t ImageLength() const
    {
        const SectorInfo& last = Sectors[static_cast<size_t>(LastSector)];
        return last.SectorStart + last.SectorSize;
    }
};

// Result codes a layout or the compatibility check gives (the write session's ErrorCode).
inline constexpr int32_t kWriteBlockOutsideImage = 3;
inline constexpr int32_t kWriteNothingToWrite = 4;
inline constexpr int32_t kWriteNotCompatible = 9;

// The map of a processor. For an identifier of no row, the map whose last sector is 26 when the
// bootloader's version suffix is exactly "TR" or "PP", else the one whose last sector is 27, and
// known is false (the session logs message 56).
const FlashMap& SectorMapFor(uint32_t processorId, std::string_view bootloaderSuffix, bool& known);

// Every byte of the sector in image is 0xFF (a sector no block reaches stays so). A sector that
// lies outside image counts as not empty, so it is never skipped unnoticed.
bool SectorIsEmpty(std::span<const uint8_t> image, const SectorInfo& sector);

// The firmware laid into a flash image of a map.
struct FlashLayout {
    std::vector<uint8_t> Image;  // from flash address 0, filled with 0xFF before the blocks
    int FirstSector = -1;
    int LastSector = -1;  // the last sector that is not empty
    int32_t PartsTotal =
        0;  // parts of WRITE_PART_SIZE bytes from the start of FirstSector to the end of LastSector
    int32_t ErrorCode = 0;  // 0, or 3 (a block does not fit), or 4 (nothing to write)
};

// Lays blocks into an image of map in list order: a block with a negative FlashAddress goes to the
// start of the first sector, others to their address; a later block overwrites an earlier one.
// A block that does not fit gives code 3 and the copying stops there; trailing empty sectors are
// dropped; no sector left gives code 4, unless a block did not fit.
FlashLayout LayOutFirmware(const FlashMap& map, const TFirmwareBlockList& blocks);

// Whether firmware of imageVersion may go into a device that reported deviceFirmware and
// bootloader (the ten rules, the first that applies deciding). skip: the command line said
// "dontcheckcpbl".
bool FirmwareFitsDevice(const TFirmwareVersion& deviceFirmware, const TFirmwareVersion& bootloader,
                        const TFirmwareVersion& imageVersion, bool skip);
