// An FTDI library without FT_SetLatencyTimer (an older D2XX): the loader binds it all the same
// and writes devices through it, only without shortening the chip's latency timer.

#include "devices/DriverBindings.h"
#include "sessions/BootProtocol.h"
#include "sessions/WriteProcess.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <gtest/gtest.h>

namespace {
TEST(FtdiWithoutLatencyTimer, BindsAndWrites)
{
    ASSERT_NE(BindFtdiLibrary(), nullptr);
    EXPECT_EQ(FtdiLibrary.FT_SetLatencyTimer, nullptr);

    SimSandbox sim;
    TestWorkerHost host;
    gxsim::DeviceSetup setup = SimDevice("9101", gxsim::Driver::Ftdi);
    setup.ProcessorId = 0x400FE000;
    setup.LatencyMs = 16;  // the chip's default, which stays
    sim.Add(setup);
    host.Devices.push_back(std::make_unique<TDevEntry>(setup.Serial, 0xFFFF, FtdiDriver));
    TDevEntry& device = *host.Devices.back();
    device.InBootloader = true;
    device.ProcessorId = setup.ProcessorId;
    ParseVersion(device.FirmwareVersion, setup.Firmware);
    ParseVersion(device.BootloaderVersion, setup.Bootloader);
    const std::vector<uint8_t> payload(1024, 0x5C);
    host.Load = [&](TFirmwareBlockList& blocks, TFirmwareVersion& version) {
        ParseVersion(version, "GXST-1.50");
        blocks.push_back(std::make_unique<TFirmwareBlock>(payload.data(), payload.size(), -1));
        return true;
    };
    auto session = std::make_unique<TWriteThread>(host, device, false);
    device.Writer = session.get();
    ASSERT_TRUE(host.Workers->Start(std::move(session)));
    ASSERT_TRUE(WaitFor([&] { return !host.Sessions.empty(); }, 60000));
    EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteOk);
    EXPECT_TRUE(sim.Journal("9101", "latency").empty());
    const std::vector<uint8_t> flash = sim.Flash("9101");
    ASSERT_GE(flash.size(), 0x4400u + payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), flash.begin() + 0x4400));
}
}  // namespace
