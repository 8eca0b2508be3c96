// Packet framing, the checksum and the command set rule, without a device.

#include "sessions/BootProtocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
struct ChecksumCase {
    std::vector<uint8_t> bytes;
    uint16_t sum;
};
class Checksums : public testing::TestWithParam<ChecksumCase> {};

TEST_P(Checksums, AddWordsWithEndAroundCarry)
{
    const ChecksumCase& c = GetParam();
    EXPECT_EQ(PacketChecksum(c.bytes.data(), static_cast<uint16_t>(c.bytes.size())), c.sum);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Checksums,
    testing::Values(ChecksumCase{{0xFF, 0xFF, 0x01, 0x00}, 0x0001},
                    ChecksumCase{{0x01, 0x02, 0x03}, 0x0204},
                    ChecksumCase{{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF}, ChecksumCase{{}, 0x0000},
                    // A lone last byte counts as a word with a zero high byte, and carries.
                    ChecksumCase{{0xFF, 0xFF, 0x02}, 0x0002},
                    ChecksumCase{{0x00, 0x80, 0x00, 0x80}, 0x0001}));

TEST(Checksums, StopAtTheGivenLength)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(PacketChecksum(bytes, 2), 0x0201);
}

struct RequestCase {
    uint16_t command;
    uint16_t sector;
    uint32_t address;
    std::vector<uint8_t> bytes;
};
class Requests : public testing::TestWithParam<RequestCase> {};

TEST_P(Requests, AreTheExactBytes)
{
    const RequestCase& c = GetParam();
    EXPECT_EQ(BuildBootPacket(c.command, c.sector, c.address), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Requests,
                         testing::Values(RequestCase{CMD_READ_FIRMWARE_VERSION,
                                                     NO_SECTOR,
                                                     0,
                                                     {0x0E, 0x00, 0x0E, 0x00, 0x04, 0x00, 0x0A,
                                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00}},
                                         RequestCase{CMD_START_APPLICATION,
                                                     NO_SECTOR,
                                                     0,
                                                     {0x0E, 0x00, 0x0E, 0x00, 0x0D, 0x00, 0x0A,
                                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00}},
                                         RequestCase{CMD_ERASE_SECTOR_V2,
                                                     4,
                                                     0x4000,
                                                     {0x0E, 0x00, 0x0E, 0x00, 0x06, 0x00, 0x04,
                                                      0x00, 0x00, 0x40, 0x00, 0x00, 0x26, 0x40}},
                                         // Every address byte lands little-endian.
                                         RequestCase{CMD_ERASE_SECTOR_V1,
                                                     0x0102,
                                                     0x0A0B0C0D,
                                                     {0x0E, 0x00, 0x0E, 0x00, 0x01, 0x00, 0x02,
                                                      0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x37, 0x17}}));

TEST(Requests, AWritePartCarriesItsDataUnderTheChecksum)
{
    std::vector<uint8_t> data(WRITE_PART_SIZE);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    std::vector<uint8_t> packet = BuildBootPacket(CMD_WRITE_PART_V2, 12, 0xC200, data);
    ASSERT_EQ(packet.size(), 526u);
    const std::optional<BootPacket> header = ReadBootHeader(packet);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->PacketLength, 526);
    EXPECT_EQ(header->HeaderLength, 14);
    EXPECT_EQ(header->Command, CMD_WRITE_PART_V2);
    EXPECT_EQ(header->Sector, 12);
    EXPECT_EQ(header->Address, 0xC200u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), packet.begin() + 14));

    // The stored checksum is the sum over all 526 bytes taken with the field at 0.
    std::vector<uint8_t> zeroed = packet;
    zeroed[12] = zeroed[13] = 0;
    EXPECT_EQ(header->Checksum, PacketChecksum(zeroed.data(), 526));
    data[511] ^= 0x40;
    EXPECT_NE(ReadBootHeader(BuildBootPacket(CMD_WRITE_PART_V2, 12, 0xC200, data))->Checksum,
              header->Checksum);
}

TEST(Replies, ShorterThanAHeaderHaveNoFields)
{
    const std::vector<uint8_t> bytes(13, 0x0E);
    EXPECT_FALSE(ReadBootHeader(bytes));
    EXPECT_FALSE(ReadBootHeader({}));
}

struct SetCase {
    uint32_t processor;
    uint16_t bootloader;
    const char* image;
    bool second;
};
class CommandSets : public testing::TestWithParam<SetCase> {};

TEST_P(CommandSets, FollowProcessorFamilyAndBootloader)
{
    const SetCase& c = GetParam();
    EXPECT_EQ(UsesSecondCommandSet(c.processor, c.bootloader, c.image), c.second);
    EXPECT_EQ(EraseSectorCommand(c.processor, c.bootloader, c.image),
              c.second ? CMD_ERASE_SECTOR_V2 : CMD_ERASE_SECTOR_V1);
    EXPECT_EQ(WritePartCommand(c.processor, c.bootloader, c.image),
              c.second ? CMD_WRITE_PART_V2 : CMD_WRITE_PART_V1);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, CommandSets,
    testing::Values(SetCase{0x26013F37, 0, "", true}, SetCase{0x400FE000, 100, "KORM", true},
                    SetCase{0x0000BC40, 104, "GXLV", true}, SetCase{0x0000BC40, 103, "GXLV", false},
                    SetCase{0x0000BC40, 200, "KORM", false},
                    SetCase{0x0000BC40, 200, "gxlv", false}, SetCase{0x0001BC40, 0, "", false},
                    SetCase{0x12345678, 104, "GXLV", true}));

TEST(CommandSets, TakeTheSecondSetForEveryListedProcessor)
{
    for (uint32_t id : V2_PROCESSOR_IDS)
        EXPECT_TRUE(UsesSecondCommandSet(id, 0, "")) << std::hex << id;
    EXPECT_FALSE(UsesSecondCommandSet(0x26013F38, 0, ""));
}
}  // namespace
