// With neither driver library bound, every channel operation and exchange fails without calling
// anything, and close leaves the record alone. This binary runs without any driver library on its
// search path.

#include "devices/Channel.h"
#include "devices/DriverBindings.h"
#include "devices/DriverLists.h"
#include "sessions/BootProtocol.h"

#include <gtest/gtest.h>

#include <array>

namespace {
class Unbound : public testing::TestWithParam<int32_t> {
protected:
    void SetUp() override
    {
        const TDriverBindings bound = BindMissingDriverLibraries();
        if (bound.Ftdi || bound.Vendor) GTEST_SKIP() << "a driver library is installed here";
    }
    TDevEntry device{"1234", 7, GetParam()};
};

TEST_P(Unbound, ChannelOperationsFail)
{
    EXPECT_FALSE(ChannelOpen(device));
    EXPECT_EQ(device.FtdiHandle, nullptr);
    EXPECT_EQ(device.VendorHandle, nullptr);

    // A record that claims to be open is not touched either: nothing can be called.
    int dummy = 0;
    device.FtdiHandle = &dummy;
    device.VendorHandle = &dummy;
    uint32_t written = 77;
    const uint8_t data[20] = {};
    EXPECT_FALSE(ChannelWrite(device, data, sizeof data, written));
    EXPECT_EQ(written, 77u);
    EXPECT_FALSE(ChannelSend(device, data, sizeof data));
    EXPECT_TRUE(ChannelSend(device, data, 0));  // nothing to send needs no driver

    std::array<uint8_t, 16> buffer;
    buffer.fill(0xAB);
    EXPECT_EQ(ChannelRead(device, buffer.data(), 8, 50), 0u);
    for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);

    ChannelClose(device);
    EXPECT_EQ(device.FtdiHandle, &dummy);
    EXPECT_EQ(device.VendorHandle, &dummy);
    device.FtdiHandle = device.VendorHandle = nullptr;
}

TEST_P(Unbound, ExchangesReportNothingSent)
{
    QueryReplyBuffer buffer{};
    EXPECT_FALSE(QueryVersion(device, CMD_READ_FIRMWARE_VERSION, buffer).Accepted);
    EXPECT_EQ(QueryProcessorId(device, buffer).Outcome, ProcessorIdOutcome::NotSent);
    const SectorExchangeResult erase = EraseSectorExchange(device, CMD_ERASE_SECTOR_V2, 4, 0x4000);
    EXPECT_FALSE(erase.Success);
    EXPECT_FALSE(erase.DeviceStatus);
    EXPECT_FALSE(SendControlCommand(device, CMD_FINISH));
    EXPECT_FALSE(ReadApplicationVersion(device).Success);
    EXPECT_EQ(StartBootloaderExchange(device).Outcome, StartBootloaderOutcome::SendFailed);
}

INSTANTIATE_TEST_SUITE_P(Drivers, Unbound, testing::Values(FtdiDriver, VendorDriver));

TEST(UnboundLists, AreNotAsked)
{
    if (FtdiLibrary.Module || VendorLibrary.Module) GTEST_SKIP();
    std::vector<FtdiListEntry> ftdi{{"x", "y"}};
    std::vector<VendorListEntry> vendor{{"x", 1}};
    EXPECT_EQ(ReadFtdiDeviceList(ftdi), DriverListResult::NotBound);
    EXPECT_EQ(ReadVendorDeviceList(vendor), DriverListResult::NotBound);
    EXPECT_TRUE(ftdi.empty());
    EXPECT_TRUE(vendor.empty());
}
}  // namespace
