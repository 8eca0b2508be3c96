// The sector maps, the flash image a session lays its blocks into, and the compatibility rules:
// no window, no device.

#include "firmware/FirmwareBlock.h"
#include "sessions/BootProtocol.h"
#include "sessions/FlashLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct MapCase {
    uint32_t processor;
    const char* suffix;  // of the bootloader's version
    bool known;
    int first;
    int last;
    uint32_t imageLength;
    uint32_t firstStart;  // where a block without an address lands
};

class SectorMaps : public testing::TestWithParam<MapCase> {};

TEST_P(SectorMaps, GiveTheFirstAndLastSectorAndTheImageLength)
{
    const MapCase& c = GetParam();
    bool known = !c.known;
    const FlashMap& map = SectorMapFor(c.processor, c.suffix, known);
    EXPECT_EQ(known, c.known);
    EXPECT_EQ(map.FirstSector, c.first);
    EXPECT_EQ(map.LastSector, c.last);
    EXPECT_EQ(map.ImageLength(), c.imageLength);
    EXPECT_EQ(map.Sectors[static_cast<size_t>(map.FirstSector)].SectorStart, c.firstStart);
    // The sectors lie back to back, in order, and every one holds whole parts.
    for (size_t i = 1; i < map.Sectors.size(); ++i) {
        EXPECT_EQ(map.Sectors[i].SectorStart,
                  map.Sectors[i - 1].SectorStart + map.Sectors[i - 1].SectorSize)
            << i;
        EXPECT_EQ(map.Sectors[i].SectorSize % WRITE_PART_SIZE, 0u) << i;
    }
    EXPECT_EQ(map.Sectors.size(), static_cast<size_t>(c.last + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Processors, SectorMaps,
    testing::Values(MapCase{0x0000BC40, "", true, 4, 15, 0x10000, 0x4000},
                    MapCase{0x0001BC40, "", true, 4, 15, 0x10000, 0x4000},
                    MapCase{0x10040204, "", true, 4, 63, 0x40000, 0x4000},
                    MapCase{0x25011723, "", true, 10, 21, 0x40000, 0xA000},
                    MapCase{0x26013733, "", true, 10, 21, 0x40000, 0xA000},
                    MapCase{0x26013F33, "", true, 10, 21, 0x40000, 0xA000},
                    MapCase{0x25013F37, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x25113737, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x26012837, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x26013F37, "TR", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x26113F37, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x27193F47, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x47193F47, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x481D3F47, "", true, 10, 29, 0x80000, 0xA000},
                    MapCase{0x400FE000, "", true, 0, 255, 0x24400, 0x4400},
                    // Unlisted processors: the suffix, exactly "TR" or "PP", decides.
                    MapCase{0x12345678, "TR", false, 4, 26, 0x7D000, 0x4000},
                    MapCase{0x00000000, "PP", false, 4, 26, 0x7D000, 0x4000},
                    MapCase{0x12345678, "", false, 4, 27, 0x7E000, 0x4000},
                    MapCase{0x12345678, "tr", false, 4, 27, 0x7E000, 0x4000},
                    MapCase{0x12345678, "TRX", false, 4, 27, 0x7E000, 0x4000}));

TEST(SectorMaps, TheDefaultMapMixesSectorSizes)
{
    bool known = true;
    const FlashMap& map = SectorMapFor(0xDEADBEEF, "", known);
    EXPECT_EQ(map.Sectors[7].SectorSize, 0x1000);
    EXPECT_EQ(map.Sectors[8].SectorStart, 0x8000u);
    EXPECT_EQ(map.Sectors[8].SectorSize, 0x8000);
    EXPECT_EQ(map.Sectors[21].SectorStart, 0x70000u);
    EXPECT_EQ(map.Sectors[22].SectorStart, 0x78000u);
    EXPECT_EQ(map.Sectors[22].SectorSize, 0x1000);
    EXPECT_EQ(map.Sectors[27].SectorStart, 0x7D000u);
}

// ---- Laying blocks into the flash image ----

TFirmwareBlockList Blocks(std::initializer_list<std::pair<int32_t, std::vector<uint8_t>>> list)
{
    TFirmwareBlockList blocks;
    for (const auto& [address, bytes] : list)
        blocks.push_back(std::make_unique<TFirmwareBlock>(bytes.data(), bytes.size(), address));
    return blocks;
}

const FlashMap& MapOf(uint32_t processor)
{
    bool known = false;
    return SectorMapFor(processor, "", known);
}

TEST(FlashImage, ABlockWithoutAddressLandsAtTheFirstSector)
{
    for (const auto& [processor, start] :
         {std::pair<uint32_t, uint32_t>{0x26013F37, 0xA000}, {0x400FE000, 0x4400}}) {
        const FlashLayout layout = LayOutFirmware(MapOf(processor), Blocks({{-1, {1, 2, 3}}}));
        ASSERT_EQ(layout.ErrorCode, 0);
        EXPECT_EQ(layout.Image[start], 1);
        EXPECT_EQ(layout.Image[start + 2], 3);
        EXPECT_EQ(layout.Image[start - 1], 0xFF);
        EXPECT_EQ(layout.Image[start + 3], 0xFF);
    }
}

TEST(FlashImage, TrailingEmptySectorsAreDroppedAndThePartsCountToTheLastOneKept)
{
    // 0x26013F37: 4 KB sectors 10-15, then 32 KB ones. 5,000 bytes from 0xA000 reach sector 11.
    const FlashLayout layout =
        LayOutFirmware(MapOf(0x26013F37), Blocks({{-1, std::vector<uint8_t>(5000, 0x11)}}));
    EXPECT_EQ(layout.ErrorCode, 0);
    EXPECT_EQ(layout.FirstSector, 10);
    EXPECT_EQ(layout.LastSector, 11);
    EXPECT_EQ(layout.PartsTotal, 16);  // two 4 KB sectors
    EXPECT_EQ(layout.Image.size(), 0x80000u);

    // 0x400FE000: 512-byte sectors from 0x4400; a block in sector 3 only.
    const FlashLayout small = LayOutFirmware(
        MapOf(0x400FE000), Blocks({{0x4400 + 3 * 512, std::vector<uint8_t>(10, 0)}}));
    EXPECT_EQ(small.FirstSector, 0);
    EXPECT_EQ(small.LastSector, 3);
    EXPECT_EQ(small.PartsTotal, 4);  // sectors 0 to 3, the empty ones included
}

TEST(FlashImage, ABlockEndingAtTheEndFitsAndOneByteMoreIsCode3)
{
    const FlashMap& map = MapOf(0x0000BC40);  // image 0x10000, first sector at 0x4000
    const uint32_t room = map.ImageLength() - 0x4000;
    const FlashLayout fits = LayOutFirmware(map, Blocks({{-1, std::vector<uint8_t>(room, 0x22)}}));
    EXPECT_EQ(fits.ErrorCode, 0);
    EXPECT_EQ(fits.LastSector, 15);
    EXPECT_EQ(fits.Image.back(), 0x22);

    // The copying stops at the block that does not fit: an earlier block is laid, a later one not.
    const FlashLayout over = LayOutFirmware(
        map,
        Blocks({{0x5000, {0x33}}, {-1, std::vector<uint8_t>(room + 1, 0x22)}, {0x6000, {0x44}}}));
    EXPECT_EQ(over.ErrorCode, kWriteBlockOutsideImage);
    EXPECT_EQ(over.Image[0x5000], 0x33);
    EXPECT_EQ(over.Image[0x6000], 0xFF);
    EXPECT_EQ(over.Image[0x4000], 0xFF);

    const FlashLayout far = LayOutFirmware(map, Blocks({{0x0FFFF, {1, 2}}}));
    EXPECT_EQ(far.ErrorCode, kWriteBlockOutsideImage);
}

TEST(FlashImage, NothingButErasedBytesIsCode4)
{
    const FlashLayout layout =
        LayOutFirmware(MapOf(0x26013F37), Blocks({{-1, std::vector<uint8_t>(70000, 0xFF)}}));
    EXPECT_EQ(layout.ErrorCode, kWriteNothingToWrite);
    EXPECT_LT(layout.LastSector, layout.FirstSector);
    EXPECT_EQ(LayOutFirmware(MapOf(0x26013F37), Blocks({})).ErrorCode, kWriteNothingToWrite);
    // Bytes before the first sector are never written, so they count for nothing.
    EXPECT_EQ(LayOutFirmware(MapOf(0x26013F37), Blocks({{0, {0}}})).ErrorCode,
              kWriteNothingToWrite);
}

TEST(FlashImage, LaterBlocksOverwriteEarlierOnesWhereTheyOverlap)
{
    const FlashLayout layout = LayOutFirmware(
        MapOf(0x0000BC40), Blocks({{-1, std::vector<uint8_t>(8, 0x01)}, {0x4004, {0x02, 0x03}}}));
    EXPECT_EQ(layout.Image[0x4003], 0x01);
    EXPECT_EQ(layout.Image[0x4004], 0x02);
    EXPECT_EQ(layout.Image[0x4005], 0x03);
    EXPECT_EQ(layout.Image[0x4006], 0x01);
}

TEST(FlashImage, ASectorIsEmptyOnlyWhenEveryByteIsErased)
{
    std::vector<uint8_t> image(0x3000, 0xFF);
    const SectorInfo sector{0x1000, 0x1000};
    EXPECT_TRUE(SectorIsEmpty(image, sector));
    image[0x1FFF] = 0xFE;
    EXPECT_FALSE(SectorIsEmpty(image, sector));
    image[0x1FFF] = 0xFF;
    image[0x0FFF] = 0;  // the sector before
    image[0x2000] = 0;  // and the one after
    EXPECT_TRUE(SectorIsEmpty(image, sector));
    // A sector beyond the image is never taken for an empty one.
    EXPECT_FALSE(SectorIsEmpty(image, SectorInfo{0x2800, 0x1000}));
}

// ---- Compatibility ----

TFirmwareVersion Version(const char* text)
{
    TFirmwareVersion v;
    ParseVersion(v, text);
    return v;
}

struct CompatibilityCase {
    const char* device;      // the firmware the bootloader reported ("" for none)
    const char* bootloader;  // its bootloader
    const char* image;
    bool skip;
    bool fits;
};

class Compatibility : public testing::TestWithParam<CompatibilityCase> {};

TEST_P(Compatibility, FollowsTheFirstRuleThatApplies)
{
    const CompatibilityCase& c = GetParam();
    EXPECT_EQ(
        FirmwareFitsDevice(Version(c.device), Version(c.bootloader), Version(c.image), c.skip),
        c.fits)
        << c.device << " / " << c.bootloader << " / " << c.image;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Compatibility,
    testing::Values(
        // 1: the command line skips the check, whatever the rest says.
        CompatibilityCase{"GXLV-8.00", "GXBL-1.03", "GXLV-9.00", true, true},
        CompatibilityCase{"ABCD-1.00", "GXBL-1.00", "WXYZ-1.00", true, true},
        // 2 and 3: the bootloader 1.04 splits the GXLV and KORM firmware at 9.00.
        CompatibilityCase{"GXLV-8.00", "GXBL-1.03", "GXLV-9.00", false, false},
        CompatibilityCase{"KORM-8.00", "GXBL-1.03", "KORM-9.10", false, false},
        CompatibilityCase{"GXLV-9.00", "GXBL-1.04", "GXLV-8.99", false, false},
        CompatibilityCase{"GXLV-8.00", "GXBL-1.03", "GXLV-8.99", false, true},
        CompatibilityCase{"GXLV-9.00", "GXBL-1.04", "GXLV-9.00", false, true},
        // 4: the same family.
        CompatibilityCase{"GXST-1.40", "GXBL-1.05", "GXST-1.44", false, true},
        // 5 and 6: GXLV and KORM take each other's firmware.
        CompatibilityCase{"GXLV-9.00", "GXBL-1.04", "KORM-9.10", false, true},
        CompatibilityCase{"KORM-9.00", "GXBL-1.04", "GXLV-9.10", false, true},
        // 7 and 8: a device that reported no family, or "Unknown", takes anything.
        CompatibilityCase{"", "GXBL-1.05", "GXST-1.44", false, true},
        CompatibilityCase{"Unknown", "GXBL-1.05", "GXLV-9.10", false, true},
        // 9: NIMB takes GXNB from 3.04 on.
        CompatibilityCase{"NIMB-1.00", "GXBL-1.05", "GXNB-3.04", false, true},
        CompatibilityCase{"NIMB-1.00", "GXBL-1.05", "GXNB-3.03", false, false},
        // 10: anything else; names are compared with letter case.
        CompatibilityCase{"GXST-1.40", "GXBL-1.05", "GXLV-9.10", false, false},
        CompatibilityCase{"gxst-1.40", "GXBL-1.05", "GXST-1.44", false, false},
        CompatibilityCase{"GXNB-3.10", "GXBL-1.05", "NIMB-3.10", false, false}));
}  // namespace
