// An FTDI DLL without FT_SetLatencyTimer (an older D2XX): bound all the same, and a device is
// erased and written through it, only without the chip's latency timer shortened. The write
// session that does this on Linux needs Qt; here the same exchanges run one by one.

#include "devices/Channel.h"
#include "devices/DriverBindings.h"
#include "sessions/BootProtocol.h"
#include "tests/SimSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {
TEST(FtdiWithoutLatencyTimer, BindsAndWrites)
{
    ASSERT_NE(BindFtdiLibrary(), nullptr);
    EXPECT_EQ(FtdiLibrary.FT_SetLatencyTimer, nullptr);

    SimSandbox sim;
    gxsim::DeviceSetup setup = SimDevice("9101", gxsim::Driver::Ftdi);
    setup.ProcessorId = 0x400FE000;  // 512-byte sectors from 0x4400
    setup.LatencyMs = 16;            // the chip's default, which stays
    sim.Add(setup);
    TDevEntry device = RecordOf(setup);
    ASSERT_TRUE(ChannelOpen(device));
    const ChannelCloser closer(device);

    std::array<uint8_t, WRITE_PART_SIZE> payload;
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
    const uint32_t address = 0x4400;
    const uint16_t erase = EraseSectorCommand(setup.ProcessorId, 105, "GXST");
    const uint16_t write = WritePartCommand(setup.ProcessorId, 105, "GXST");
    EXPECT_TRUE(EraseSectorExchange(device, erase, 0, address).Success);
    SectorReplyBuffer reply{};
    EXPECT_TRUE(WritePartExchange(device, write, 0, address, payload, reply).Success);

    EXPECT_TRUE(sim.Journal("9101", "latency").empty());
    EXPECT_EQ(sim.Commands("9101"), (std::vector<int>{CMD_ERASE_SECTOR_V2, CMD_WRITE_PART_V2}));
    const std::vector<uint8_t> flash = sim.Flash("9101");
    ASSERT_GE(flash.size(), address + payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), flash.begin() + address));
}
}  // namespace
