// The device channel against the simulated driver libraries, bound by file name.

#include "devices/Channel.h"
#include "devices/DriverBindings.h"
#include "sessions/BootProtocol.h"
#include "tests/SimSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

namespace {
using gxsim::Driver;
using gxsim::Mode;

std::string DriverLabel(const testing::TestParamInfo<Driver>& info)
{
    return info.param == Driver::Ftdi ? "Ftdi" : "Vendor";
}

class ChannelFixture {
protected:
    explicit ChannelFixture(Driver driver, Mode mode = Mode::Bootloader)
        : setup(SimDevice("4321", driver, mode)), device(RecordOf(setup))
    {
    }
    ~ChannelFixture() { ChannelClose(device); }
    void Start()
    {
        ASSERT_TRUE(BindSimulatorLibraries());
        setup.JournalWrites = true;
        sim.Add(setup);
    }
    void* Handle() const
    {
        return device.DriverKind == FtdiDriver ? device.FtdiHandle : device.VendorHandle;
    }
    std::vector<uint32_t> WriteSizes() const
    {
        std::vector<uint32_t> sizes;
        for (const auto& e : sim.Journal(setup.Serial, "write"))
            sizes.push_back(static_cast<uint32_t>(std::stoul(e.Field("size"))));
        return sizes;
    }

    SimSandbox sim;
    gxsim::DeviceSetup setup;
    TDevEntry device;
};

class Channel : public ChannelFixture, public testing::TestWithParam<Driver> {
protected:
    Channel() : ChannelFixture(GetParam()) {}
    void SetUp() override { Start(); }
};

TEST_P(Channel, OpensAndClosesThroughTheLibraryThatFoundTheDevice)
{
    ASSERT_TRUE(ChannelOpen(device));
    EXPECT_NE(Handle(), nullptr);
    // Only the handle of the device's own kind is used.
    EXPECT_EQ(GetParam() == Driver::Ftdi ? device.VendorHandle : device.FtdiHandle, nullptr);
    ChannelClose(device);
    EXPECT_EQ(Handle(), nullptr);
    ChannelClose(device);  // closing a closed channel is harmless

    std::vector<std::string> kinds;
    for (const auto& e : sim.Journal(setup.Serial)) kinds.push_back(e.Kind);
    // FTDI: the latency timer is shortened at open, and the device reset right before closing
    // it; nothing is purged or reset at open.
    if (GetParam() == Driver::Ftdi)
        EXPECT_EQ(kinds, (std::vector<std::string>{"open", "latency", "reset", "close"}));
    else
        EXPECT_EQ(kinds, (std::vector<std::string>{"open", "close"}));
}

TEST_P(Channel, FailsToOpenWhatTheDriverRefuses)
{
    // A device is opened by its serial text as listed, whatever its number reads as: "ABC" is
    // -1 and "007" is 7, and neither "-1" nor "7" names a device.
    sim.Add(SimDevice("ABC", GetParam()));
    sim.Add(SimDevice("007", GetParam()));
    for (const char* listed : {"ABC", "007"}) {
        TDevEntry record = RecordOf(sim.Device(listed));
        EXPECT_TRUE(ChannelOpen(record)) << listed;
        ChannelClose(record);
    }
    TDevEntry unknown("7", setup.DeviceCode, device.DriverKind);
    EXPECT_FALSE(ChannelOpen(unknown));

    sim.Set(setup.Serial, [](gxsim::DeviceSetup& d) { d.OpenFails = true; });
    EXPECT_FALSE(ChannelOpen(device));
    EXPECT_EQ(Handle(), nullptr);
    sim.Set(setup.Serial, [](gxsim::DeviceSetup& d) { d.OpenFails = false; });
    sim.Unplug(setup.Serial);
    EXPECT_FALSE(ChannelOpen(device));
    sim.Plug(setup.Serial);
    EXPECT_TRUE(ChannelOpen(device));
}

TEST(VendorChannel, OpensByDeviceCodeAndSerial)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    SimSandbox sim;
    sim.Add(SimDevice("55", Driver::Vendor));
    TDevEntry wrongCode("55", 8, VendorDriver);
    EXPECT_FALSE(ChannelOpen(wrongCode));
    TDevEntry right("55", 7, VendorDriver);
    EXPECT_TRUE(ChannelOpen(right));
    ChannelClose(right);
}

struct PieceCase {
    Driver driver;
    uint32_t size;
    std::vector<uint32_t> pieces;
};
class Pieces : public ChannelFixture, public testing::TestWithParam<PieceCase> {
protected:
    Pieces() : ChannelFixture(GetParam().driver, Mode::Application) {}
    void SetUp() override { Start(); }
};

TEST_P(Pieces, GoOutAtMost64BytesAtATimeOneMsApart)
{
    ASSERT_TRUE(ChannelOpen(device));
    std::vector<uint8_t> data(GetParam().size, 0x5A);
    EXPECT_TRUE(ChannelSend(device, data.data(), GetParam().size));
    EXPECT_EQ(WriteSizes(), GetParam().pieces);
    const auto writes = sim.Journal(setup.Serial, "write");
    for (size_t i = 1; i < writes.size(); ++i)
        EXPECT_GE(std::stoll(writes[i].Field("us")) - std::stoll(writes[i - 1].Field("us")), 1000)
            << "pause before piece " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Pieces,
    testing::Values(PieceCase{Driver::Ftdi, 0, {}}, PieceCase{Driver::Ftdi, 64, {64}},
                    PieceCase{Driver::Ftdi, 150, {64, 64, 22}},
                    PieceCase{Driver::Ftdi, 526, {64, 64, 64, 64, 64, 64, 64, 64, 14}},
                    PieceCase{Driver::Vendor, 0, {}}, PieceCase{Driver::Vendor, 150, {64, 64, 22}},
                    PieceCase{Driver::Vendor, 526, {64, 64, 64, 64, 64, 64, 64, 64, 14}}));

TEST_P(Channel, AShortWriteStopsTheSend)
{
    sim.Fault(setup.Serial, "short_write:10");
    ASSERT_TRUE(ChannelOpen(device));
    std::vector<uint8_t> data(150, 0x11);
    EXPECT_FALSE(ChannelSend(device, data.data(), 150));
    EXPECT_EQ(WriteSizes(), std::vector<uint32_t>{64});

    // One write succeeds as the driver says, with the count it reports.
    uint32_t written = 0;
    EXPECT_TRUE(ChannelWrite(device, data.data(), 30, written));
    EXPECT_EQ(written, 10u);
}

TEST_P(Channel, AFailedWriteStopsTheSend)
{
    sim.Fault(setup.Serial, "write_fail");
    ASSERT_TRUE(ChannelOpen(device));
    std::vector<uint8_t> data(150, 0x11);
    EXPECT_FALSE(ChannelSend(device, data.data(), 150));
    EXPECT_EQ(WriteSizes(), std::vector<uint32_t>{64});
}

TEST_P(Channel, ReadsAtMostTheCapacityAndLeavesTheRestForTheNextRead)
{
    ASSERT_TRUE(ChannelOpen(device));
    const std::vector<uint8_t> query = BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0);
    ASSERT_TRUE(ChannelSend(device, query.data(), 14));
    std::array<uint8_t, 64> buffer{};
    ASSERT_EQ(ChannelRead(device, buffer.data(), 14, 1000), 14u);
    EXPECT_EQ(buffer[0], 24);  // PacketLength: 14 + "GXST-1.44" + its zero byte
    if (GetParam() == Driver::Ftdi) {
        uint32_t rx = 0, tx = 0, events = 0;
        FtdiLibrary.FT_GetStatus(device.FtdiHandle, &rx, &tx, &events);
        EXPECT_EQ(rx, 10u);
    }
    ASSERT_EQ(ChannelRead(device, buffer.data(), 64, 1000), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 10),
              std::string("GXST-1.44\0", 10));
}

TEST(FtdiChannel, ZeroFillsTheBufferWhenNothingArrives)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    SimSandbox sim;
    sim.Add(SimDevice("31", Driver::Ftdi, Mode::Application));
    TDevEntry device = RecordOf(sim.Device("31"));
    ASSERT_TRUE(ChannelOpen(device));
    std::array<uint8_t, 16> buffer;
    buffer.fill(0xAB);
    EXPECT_EQ(ChannelRead(device, buffer.data(), 8, 30), 0u);
    for (size_t i = 0; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], i < 8 ? 0 : 0xAB) << i;
    ChannelClose(device);
}

TEST(VendorChannel, IgnoresTheTimeOutAndLeavesTheBufferAsItWas)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    SimSandbox sim;
    gxsim::DeviceSetup setup = SimDevice("32", Driver::Vendor, Mode::Application);
    setup.ReadWaitMs = 20;
    sim.Add(setup);
    TDevEntry device = RecordOf(setup);
    ASSERT_TRUE(ChannelOpen(device));
    std::array<uint8_t, 16> buffer;
    buffer.fill(0xAB);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ChannelRead(device, buffer.data(), 8, 60000), 0u);
    // The library's own wait decides, not the 60 s passed in.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    for (uint8_t b : buffer) EXPECT_EQ(b, 0xAB);
    ChannelClose(device);
}

TEST_P(Channel, ReadsWhatHasArrivedShortlyAfterTheFirstByte)
{
    sim.Fault(setup.Serial, "split:6:400 cmd=4");
    ASSERT_TRUE(ChannelOpen(device));
    const std::vector<uint8_t> query = BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0);
    ASSERT_TRUE(ChannelSend(device, query.data(), 14));
    std::array<uint8_t, 64> buffer{};
    EXPECT_EQ(ChannelRead(device, buffer.data(), 64, 1000), 6u);
}

// A real FT232 sends full 62-byte packets at once and holds the rest back for its latency timer.
// The loader shortens that timer from the chip's default (here 255 ms) when it opens the device,
// so the rest of a long reply follows within a few milliseconds.
TEST(FtdiChannel, TheOpenShortensTheLatencyTimerThatHoldsBackTheRestOfAReply)
{
    ASSERT_TRUE(BindSimulatorLibraries());
    ASSERT_NE(FtdiLibrary.FT_SetLatencyTimer, nullptr);
    SimSandbox sim;
    gxsim::DeviceSetup setup = SimDevice("33", Driver::Ftdi);
    setup.Firmware = "GXST-1.44 " + std::string(45, 'x');  // 14 + 55 + 1 = 70 bytes of reply
    setup.LatencyMs = 255;
    sim.Add(setup);
    TDevEntry device = RecordOf(setup);
    ASSERT_TRUE(ChannelOpen(device));
    const std::vector<gxsim::JournalEntry> latency = sim.Journal("33", "latency");
    ASSERT_EQ(latency.size(), 1u);
    EXPECT_EQ(latency[0].Field("ms"), std::to_string(kFtdiLatencyTimerMs));
    const std::vector<uint8_t> query = BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0);
    ASSERT_TRUE(ChannelSend(device, query.data(), 14));
    std::array<uint8_t, 128> buffer{};
    EXPECT_EQ(ChannelRead(device, buffer.data(), 62, 1000), 62u);
    // Held back for 2 ms, not 255: it is there well inside a 100 ms read.
    EXPECT_EQ(ChannelRead(device, buffer.data(), 128, 100), 8u);
    ChannelClose(device);
}

TEST_P(Channel, AnUnpluggedDeviceNeitherTakesNorGivesBytes)
{
    ASSERT_TRUE(ChannelOpen(device));
    sim.Unplug(setup.Serial);
    const std::vector<uint8_t> query = BuildBootPacket(CMD_READ_FIRMWARE_VERSION, NO_SECTOR, 0);
    EXPECT_FALSE(ChannelSend(device, query.data(), 14));
    std::array<uint8_t, 16> buffer{};
    EXPECT_EQ(ChannelRead(device, buffer.data(), 16, 20), 0u);
    // Plugged in again, it is a new device: the old handle stays dead, and does not keep the
    // device from being opened anew, once.
    sim.Plug(setup.Serial);
    EXPECT_FALSE(ChannelSend(device, query.data(), 14));
    TDevEntry again = RecordOf(setup);
    ASSERT_TRUE(ChannelOpen(again));
    TDevEntry third = RecordOf(setup);
    EXPECT_FALSE(ChannelOpen(third));
    EXPECT_TRUE(ChannelSend(again, query.data(), 14));
    ChannelClose(again);
}

INSTANTIATE_TEST_SUITE_P(Drivers, Channel, testing::Values(Driver::Ftdi, Driver::Vendor),
                         DriverLabel);
}  // namespace
