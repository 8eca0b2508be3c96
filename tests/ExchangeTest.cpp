// Every exchange of the bootloader protocol and of application mode, through both simulated
// driver libraries, with the device faults that reach each of its branches.

#include "devices/Channel.h"
#include "sessions/BootProtocol.h"
#include "tests/SimSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {
using gxsim::Driver;
using gxsim::Mode;

const char* Label(Driver driver)
{
    return driver == Driver::Ftdi ? "Ftdi" : "Vendor";
}

// A device of either library with an open channel; closed at the end.
class Connected {
protected:
    void Connect(Driver driver, Mode mode, const std::vector<std::string>& faults = {},
                 const std::function<void(gxsim::DeviceSetup&)>& adjust = {})
    {
        ASSERT_TRUE(BindSimulatorLibraries());
        setup = SimDevice("500", driver, mode);
        setup.Firmware = "GXLV-9.10";
        setup.Bootloader = "GXBL-1.05";
        setup.ProcessorId = 0x26013F37;  // 16 sectors of 4 KB, then 14 of 32 KB
        if (adjust) adjust(setup);
        sim.Add(setup);
        for (const std::string& rule : faults) sim.Fault(setup.Serial, rule);
        device = std::make_unique<TDevEntry>(setup.Serial, setup.DeviceCode,
                                             driver == Driver::Ftdi ? FtdiDriver : VendorDriver);
        ASSERT_TRUE(ChannelOpen(*device));
    }
    ~Connected()
    {
        if (device) ChannelClose(*device);
    }
    std::vector<gxsim::JournalEntry> Packets() const { return sim.Journal(setup.Serial, "packet"); }
    std::vector<gxsim::JournalEntry> Texts() const { return sim.Journal(setup.Serial, "text"); }
    void FillFlash(uint32_t offset, uint32_t size, uint8_t value)
    {
        ASSERT_TRUE(
            sim.Folder().WriteFlash(setup.Serial, offset, std::vector<uint8_t>(size, value)));
    }

    SimSandbox sim;
    gxsim::DeviceSetup setup;
    std::unique_ptr<TDevEntry> device;
};

// ---- Version queries ----

class VersionQuery : public Connected, public testing::TestWithParam<Driver> {};

TEST_P(VersionQuery, YieldsTheTextOfAnAcceptedReply)
{
    Connect(GetParam(), Mode::Bootloader);
    QueryReplyBuffer buffer;
    buffer.fill(0xCC);
    const QueryVersionResult firmware = QueryVersion(*device, CMD_READ_FIRMWARE_VERSION, buffer);
    EXPECT_TRUE(firmware.Accepted);
    EXPECT_EQ(firmware.Text, "GXLV-9.10");
    EXPECT_EQ(firmware.LastReply, STATUS_ACCEPTED);
    EXPECT_EQ(buffer[100], 0);  // zero-filled before the query, on either path

    const QueryVersionResult boot = QueryVersion(*device, CMD_READ_BOOT_VERSION, buffer);
    EXPECT_TRUE(boot.Accepted);
    EXPECT_EQ(boot.Text, "GXBL-1.05");

    const auto packets = Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].Command(), CMD_READ_FIRMWARE_VERSION);
    EXPECT_EQ(packets[1].Command(), CMD_READ_BOOT_VERSION);
    for (const auto& p : packets) {
        EXPECT_EQ(p.Sector(), NO_SECTOR);
        EXPECT_EQ(p.Address(), 0u);
        EXPECT_EQ(p.Field("checksum"), "ok");
        EXPECT_EQ(p.Field("length"), "14");
    }
}

TEST_P(VersionQuery, IsIgnoredByADeviceInApplicationMode)
{
    Connect(GetParam(), Mode::Application);
    QueryReplyBuffer buffer;
    const QueryVersionResult result = QueryVersion(*device, CMD_READ_FIRMWARE_VERSION, buffer);
    EXPECT_FALSE(result.Accepted);
    EXPECT_FALSE(result.LastReply);
    EXPECT_EQ(sim.Journal(setup.Serial, "ignored").size(), 1u);
}

// The FTDI path waits the query's 100 ms; the vendor library waits as long as it does itself.
TEST_P(VersionQuery, ALateReplyCountsOnlyWhereTheDriverStillWaits)
{
    Connect(GetParam(), Mode::Bootloader, {"delay:300 cmd=4"});
    QueryReplyBuffer buffer;
    const QueryVersionResult result = QueryVersion(*device, CMD_READ_FIRMWARE_VERSION, buffer);
    EXPECT_EQ(result.Accepted, GetParam() == Driver::Vendor);
}

INSTANTIATE_TEST_SUITE_P(Drivers, VersionQuery, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });

struct ReplyCase {
    const char* fault;
    bool accepted;
    const char* text;
    int lastReply;  // -1: none
};
class VersionReplies : public Connected,
                       public testing::TestWithParam<std::tuple<Driver, ReplyCase>> {};

TEST_P(VersionReplies, AreTestedOnlyForLengthHeaderAndStatus)
{
    const auto& [driver, c] = GetParam();
    Connect(driver, Mode::Bootloader, {std::string(c.fault) + " cmd=4"});
    QueryReplyBuffer buffer;
    const QueryVersionResult result = QueryVersion(*device, CMD_READ_FIRMWARE_VERSION, buffer);
    EXPECT_EQ(result.Accepted, c.accepted);
    EXPECT_EQ(result.Text, c.text);
    if (c.lastReply < 0)
        EXPECT_FALSE(result.LastReply);
    else
        EXPECT_EQ(result.LastReply, c.lastReply);
    EXPECT_EQ(Packets().size(), 1u);  // one attempt only
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VersionReplies,
    testing::Combine(
        testing::Values(Driver::Ftdi, Driver::Vendor),
        testing::Values(
            ReplyCase{"packet_length:14 short:14", false, "", 128},  // no payload announced
            ReplyCase{"status:129", false, "", 129}, ReplyCase{"header_length:16", false, "", -1},
            ReplyCase{"short:13", false, "", -1},
            // The checksum of a reply is not examined, nor whether PacketLength bytes came.
            ReplyCase{"bad_checksum packet_length:20", true, "GXLV-9.10", 128},
            ReplyCase{"short:18", true, "GXLV", 128}, ReplyCase{"delay:20", true, "GXLV-9.10", 128},
            ReplyCase{"silent", false, "", -1})));

// ---- Processor identifier ----

class ProcessorQuery : public Connected, public testing::TestWithParam<Driver> {};

TEST_P(ProcessorQuery, AcceptsTheIdentifierOfAFullReply)
{
    Connect(GetParam(), Mode::Bootloader);
    QueryReplyBuffer buffer{};
    const ProcessorIdResult result = QueryProcessorId(*device, buffer);
    EXPECT_EQ(result.Outcome, ProcessorIdOutcome::Accepted);
    EXPECT_EQ(result.ProcessorId, 0x26013F37u);
    EXPECT_EQ(result.LastReply, STATUS_ACCEPTED);
    ASSERT_EQ(Packets().size(), 1u);
    EXPECT_EQ(Packets()[0].Command(), CMD_READ_PROCESSOR_ID);
}

TEST_P(ProcessorQuery, ReportsNoReplyAndRefusal)
{
    Connect(GetParam(), Mode::Bootloader,
            {"silent cmd=10 attempt=1", "status:130 cmd=10 attempt=2"});
    QueryReplyBuffer buffer{};
    EXPECT_EQ(QueryProcessorId(*device, buffer).Outcome, ProcessorIdOutcome::NoReply);
    const ProcessorIdResult refused = QueryProcessorId(*device, buffer);
    EXPECT_EQ(refused.Outcome, ProcessorIdOutcome::Refused);
    EXPECT_EQ(refused.LastReply, 130);
    EXPECT_EQ(refused.ProcessorId, 0u);
}

// The identification reuses the command 5 reply's buffer for command 10 without clearing it. A
// reply too short to hold the identifier must not pick up bytes an earlier reply left there.
TEST_P(ProcessorQuery, NeverTakesAStaleIdentifierFromTheReusedBuffer)
{
    Connect(
        GetParam(), Mode::Bootloader,
        {"short:14 cmd=10 attempt=1", "short:17 cmd=10 attempt=2", "short:18 cmd=10 attempt=3"});
    QueryReplyBuffer buffer;
    ASSERT_TRUE(QueryVersion(*device, CMD_READ_BOOT_VERSION, buffer).Accepted);
    // Bytes 14..17 now hold "GXBL" from the bootloader version.
    for (const ProcessorIdOutcome expected :
         {ProcessorIdOutcome::Refused, ProcessorIdOutcome::Refused, ProcessorIdOutcome::Accepted}) {
        const ProcessorIdResult result = QueryProcessorId(*device, buffer);
        EXPECT_EQ(result.Outcome, expected);
        EXPECT_EQ(result.ProcessorId, expected == ProcessorIdOutcome::Accepted ? 0x26013F37u : 0u);
    }
}

TEST_P(ProcessorQuery, LeavesTheBufferBeyondTheReplyToTheDriver)
{
    Connect(GetParam(), Mode::Bootloader);
    QueryReplyBuffer buffer;
    buffer.fill(0xCD);
    ASSERT_EQ(QueryProcessorId(*device, buffer).Outcome, ProcessorIdOutcome::Accepted);
    // The FTDI read zero-fills what it may use; the vendor library leaves it.
    EXPECT_EQ(buffer[18], GetParam() == Driver::Ftdi ? 0x00 : 0xCD);
    EXPECT_EQ(buffer[1023], GetParam() == Driver::Ftdi ? 0x00 : 0xCD);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ProcessorQuery, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });

// ---- Erase ----

struct SectorCase {
    const char* name;
    std::vector<const char*> faults;
    bool success;
    bool isProtected;
    int deviceStatus;  // -1: no reply passed the header test
    int lastReply;     // -1: none
    size_t requests;   // packets the device received
    bool erased;       // the flash of the sector is 0xFF afterwards
};
class Erase : public Connected, public testing::TestWithParam<std::tuple<Driver, SectorCase>> {};

TEST_P(Erase, FollowsTheRepliesOfTheDevice)
{
    const auto& [driver, c] = GetParam();
    std::vector<std::string> faults(c.faults.begin(), c.faults.end());
    const bool protect = std::string(c.name) == "protected";
    const bool lock = std::string(c.name) == "locked";
    Connect(driver, Mode::Bootloader, faults, [&](gxsim::DeviceSetup& d) {
        if (protect) d.ProtectedSectors = {10};
        d.Locked = lock;
    });
    FillFlash(0x9000, 0x3000, 0x00);  // sectors 9 to 11

    const SectorExchangeResult r = EraseSectorExchange(*device, CMD_ERASE_SECTOR_V2, 10, 0xA000);
    EXPECT_EQ(r.Success, c.success);
    EXPECT_EQ(r.Protected, c.isProtected);
    if (c.deviceStatus < 0)
        EXPECT_FALSE(r.DeviceStatus);
    else
        EXPECT_EQ(r.DeviceStatus, c.deviceStatus);
    if (c.lastReply < 0)
        EXPECT_FALSE(r.LastReply);
    else
        EXPECT_EQ(r.LastReply, c.lastReply);
    const auto packets = Packets();
    ASSERT_EQ(packets.size(), c.requests);
    for (const auto& p : packets) {
        EXPECT_EQ(p.Command(), CMD_ERASE_SECTOR_V2);
        EXPECT_EQ(p.Sector(), 10);
        EXPECT_EQ(p.Address(), 0xA000u);
    }
    const std::vector<uint8_t> flash = sim.Flash(setup.Serial);
    EXPECT_EQ(flash[0xA000], c.erased ? 0xFF : 0x00);
    EXPECT_EQ(flash[0xAFFF], c.erased ? 0xFF : 0x00);
    EXPECT_EQ(flash[0x9FFF], 0x00);  // the neighbours are untouched
    EXPECT_EQ(flash[0xB000], 0x00);
}

const SectorCase kEraseCases[] = {
    {"accepted", {}, true, false, 128, 128, 1, true},
    {"short_then_whole", {"short:13 cmd=6 attempt=1"}, true, false, 128, 128, 2, true},
    {"short_three_times", {"short:13 cmd=6"}, false, false, -1, -1, 3, true},
    {"silent_once", {"silent cmd=6 attempt=1"}, true, false, 128, 128, 2, true},
    {"send_fails_twice", {"write_fail cmd=6 attempt=1-2"}, true, false, 128, 128, 1, true},
    {"wrong_sector", {"wrong_sector cmd=6"}, false, false, -1, 128, 1, true},
    {"wrong_packet_length", {"packet_length:16 cmd=6"}, false, false, -1, 128, 1, true},
    {"wrong_header_length", {"header_length:12 cmd=6"}, false, false, -1, -1, 1, true},
    {"address_not_examined", {"wrong_address cmd=6"}, true, false, 128, 128, 1, true},
    {"reply_checksum_not_examined", {"bad_checksum cmd=6"}, true, false, 128, 128, 1, true},
    {"protected", {}, true, true, 131, 131, 1, false},
    {"locked", {}, false, false, 138, 138, 1, false},
    {"other_status", {"status:200 cmd=6"}, false, false, 200, 200, 1, true},
    {"refused_checksum", {"corrupt_request cmd=6"}, false, false, 129, 129, 1, false},
    // The tail of a split reply is awaited and dropped: the repeated request gets a read of its
    // own, which its whole reply answers.
    {"split_reply", {"split:6:300 cmd=6 attempt=1"}, true, false, 128, 128, 2, true},
};

INSTANTIATE_TEST_SUITE_P(Replies, Erase,
                         testing::Combine(testing::Values(Driver::Ftdi, Driver::Vendor),
                                          testing::ValuesIn(kEraseCases)),
                         [](const auto& info) {
                             return std::string(Label(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).name;
                         });

class EraseMap : public Connected, public testing::TestWithParam<Driver> {};

// The device checks each erase against its own flash layout.
TEST_P(EraseMap, RefusesAddressesAndSectorsOutsideTheDevicesLayout)
{
    Connect(GetParam(), Mode::Bootloader);
    const SectorExchangeResult wrongAddress =
        EraseSectorExchange(*device, CMD_ERASE_SECTOR_V2, 10, 0xB000);
    EXPECT_FALSE(wrongAddress.Success);
    EXPECT_EQ(wrongAddress.DeviceStatus, 132);
    const SectorExchangeResult noSuchSector =
        EraseSectorExchange(*device, CMD_ERASE_SECTOR_V1, 30, 0x80000);
    EXPECT_FALSE(noSuchSector.Success);
    EXPECT_EQ(noSuchSector.DeviceStatus, 133);
    const SectorExchangeResult last =
        EraseSectorExchange(*device, CMD_ERASE_SECTOR_V1, 29, 0x78000);
    EXPECT_TRUE(last.Success);
    ASSERT_EQ(Packets().size(), 3u);
    EXPECT_EQ(Packets()[2].Command(), CMD_ERASE_SECTOR_V1);
}

INSTANTIATE_TEST_SUITE_P(Drivers, EraseMap, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });

// ---- Write-part ----

class WritePart : public Connected, public testing::TestWithParam<std::tuple<Driver, SectorCase>> {
protected:
    static std::array<uint8_t, WRITE_PART_SIZE> Data()
    {
        std::array<uint8_t, WRITE_PART_SIZE> data;
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x3C ^ (i & 0x0F));
        return data;
    }
};

TEST_P(WritePart, FollowsTheRepliesOfTheDevice)
{
    const auto& [driver, c] = GetParam();
    std::vector<std::string> faults(c.faults.begin(), c.faults.end());
    const bool protect = std::string(c.name) == "protected";
    const bool lock = std::string(c.name) == "locked";
    Connect(driver, Mode::Bootloader, faults, [&](gxsim::DeviceSetup& d) {
        if (protect) d.ProtectedSectors = {10};
        d.Locked = lock;
    });
    FillFlash(0xA000, 0x1000, 0xF0);
    const std::array<uint8_t, WRITE_PART_SIZE> data = Data();
    SectorReplyBuffer reply{};
    const SectorExchangeResult r =
        WritePartExchange(*device, CMD_WRITE_PART_V2, 10, 0xA200, data, reply);
    EXPECT_EQ(r.Success, c.success);
    EXPECT_EQ(r.Protected, c.isProtected);
    if (c.deviceStatus < 0)
        EXPECT_FALSE(r.DeviceStatus);
    else
        EXPECT_EQ(r.DeviceStatus, c.deviceStatus);
    const auto packets = Packets();
    ASSERT_EQ(packets.size(), c.requests);
    for (const auto& p : packets) {
        EXPECT_EQ(p.Command(), CMD_WRITE_PART_V2);
        EXPECT_EQ(p.Address(), 0xA200u);
        EXPECT_EQ(p.Field("length"), "526");
    }
    // Written as NOR flash is: the new bits ANDed into what was there.
    const std::vector<uint8_t> flash = sim.Flash(setup.Serial);
    for (size_t i = 0; i < WRITE_PART_SIZE; i += 97)
        EXPECT_EQ(flash[0xA200 + i], c.erased ? (0xF0 & data[i]) : 0xF0) << i;
    EXPECT_EQ(flash[0xA1FF], 0xF0);
    EXPECT_EQ(flash[0xA400], 0xF0);
    if (c.success) {
        const BootPacket header = *ReadBootHeader(reply);
        EXPECT_EQ(header.PacketLength, 14);
        EXPECT_EQ(header.Sector, 10);
        EXPECT_EQ(header.Address, 0xA200u);
        EXPECT_EQ(header.Status(), c.deviceStatus);
    }
}

// "erased" means here: the part was written.
const SectorCase kWriteCases[] = {
    {"accepted", {}, true, false, 128, 128, 1, true},
    {"short_then_whole", {"short:13 cmd=7 attempt=1"}, true, false, 128, 128, 2, true},
    {"send_fails_once", {"write_fail cmd=7 attempt=1"}, true, false, 128, 128, 1, true},
    {"wrong_address", {"wrong_address cmd=7"}, false, false, -1, 128, 1, true},
    {"wrong_sector", {"wrong_sector cmd=7"}, false, false, -1, 128, 1, true},
    {"protected", {}, true, true, 131, 131, 1, false},
    {"locked", {}, false, false, 138, 138, 1, false},
};

INSTANTIATE_TEST_SUITE_P(Replies, WritePart,
                         testing::Combine(testing::Values(Driver::Ftdi, Driver::Vendor),
                                          testing::ValuesIn(kWriteCases)),
                         [](const auto& info) {
                             return std::string(Label(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).name;
                         });

class WritePartBuffer : public Connected, public testing::TestWithParam<Driver> {};

// The caller's message shows the reply buffer as the last read left it.
TEST_P(WritePartBuffer, HoldsWhatTheLastReadLeft)
{
    Connect(GetParam(), Mode::Bootloader,
            {"status:138 cmd=7 attempt=1", "short:13 cmd=7 attempt=2-9"});
    std::array<uint8_t, WRITE_PART_SIZE> data{};
    SectorReplyBuffer reply;
    reply.fill(0x77);
    const SectorExchangeResult locked =
        WritePartExchange(*device, CMD_WRITE_PART_V2, 4, 0x4000, data, reply);
    EXPECT_FALSE(locked.Success);
    EXPECT_EQ(ReadBootHeader(reply)->Status(), STATUS_DEVICE_LOCKED);
    EXPECT_EQ(ReadBootHeader(reply)->Address, 0x4000u);

    const uint8_t lockedLastByte = reply[13];

    const SectorExchangeResult shortReplies =
        WritePartExchange(*device, CMD_WRITE_PART_V2, 4, 0x4000, data, reply);
    EXPECT_FALSE(shortReplies.Success);
    EXPECT_EQ(Packets().size(), 4u);
    // 13 fresh bytes; the FTDI read zero-filled the 14th first, the vendor library left the
    // locked reply's last byte there.
    const BootPacket header = *ReadBootHeader(reply);
    EXPECT_EQ(header.Status(), STATUS_ACCEPTED);
    EXPECT_EQ(header.Address, 0x4000u);
    EXPECT_EQ(reply[13], GetParam() == Driver::Ftdi ? 0 : lockedLastByte);
}

TEST_P(WritePartBuffer, IsRefusedOutsideItsSector)
{
    Connect(GetParam(), Mode::Bootloader);
    std::array<uint8_t, WRITE_PART_SIZE> data{};
    SectorReplyBuffer reply{};
    EXPECT_EQ(WritePartExchange(*device, CMD_WRITE_PART_V2, 10, 0xA100, data, reply).DeviceStatus,
              132);
    EXPECT_EQ(WritePartExchange(*device, CMD_WRITE_PART_V2, 10, 0xB000, data, reply).DeviceStatus,
              132);
    EXPECT_EQ(WritePartExchange(*device, CMD_WRITE_PART_V2, 10, 0xAE00, data, reply).DeviceStatus,
              128);
}

INSTANTIATE_TEST_SUITE_P(Drivers, WritePartBuffer, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });

// ---- Control commands ----

class Control : public Connected, public testing::TestWithParam<Driver> {};

TEST_P(Control, AreSentAndTheirRepliesNotExamined)
{
    Connect(GetParam(), Mode::Bootloader, {"silent cmd=12", "status:250 cmd=11"});
    EXPECT_EQ(SendControlCommand(*device, CMD_FINISH), 250);
    EXPECT_FALSE(SendControlCommand(*device, CMD_ABORT));
    EXPECT_EQ(SendControlCommand(*device, CMD_START_APPLICATION), STATUS_ACCEPTED);
    const auto packets = Packets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].Command(), CMD_FINISH);
    EXPECT_EQ(packets[1].Command(), CMD_ABORT);
    EXPECT_EQ(packets[2].Command(), CMD_START_APPLICATION);
    for (const auto& p : packets) EXPECT_EQ(p.Sector(), NO_SECTOR);
    // The application runs from the next plug-in on.
    EXPECT_EQ(sim.Device(setup.Serial).NextMode, Mode::Application);
    EXPECT_EQ(sim.Device(setup.Serial).Current, Mode::Bootloader);
}

INSTANTIATE_TEST_SUITE_P(Drivers, Control, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });

// ---- Application mode: "FL_READ_VERSION$" ----

struct AppVersionCase {
    const char* name;
    const char* fault;  // nullptr: none
    bool success;
    size_t attempts;
    const char* versionName;
    uint16_t number;
};
class AppVersion : public Connected,
                   public testing::TestWithParam<std::tuple<Driver, AppVersionCase>> {};

TEST_P(AppVersion, IsAskedUpToFourTimes)
{
    const auto& [driver, c] = GetParam();
    std::vector<std::string> faults;
    if (c.fault) faults.push_back(std::string(c.fault) + " cmd=read_version");
    Connect(driver, Mode::Application, faults,
            [](gxsim::DeviceSetup& d) { d.Firmware = "GXST-1.44"; });
    const AppVersionResult result = ReadApplicationVersion(*device);
    EXPECT_EQ(result.Success, c.success);
    EXPECT_EQ(Texts().size(), c.attempts);
    for (const auto& t : Texts()) EXPECT_EQ(t.Field("command"), "FL_READ_VERSION$");
    EXPECT_EQ(device->FirmwareVersion.Name, c.versionName);
    EXPECT_EQ(device->FirmwareVersion.Number, c.number);
}

const AppVersionCase kAppVersionCases[] = {
    {"answered", nullptr, true, 1, "GXST", 144},
    {"unknown_with_zero", "reply:Unknown\\0", true, 1, "unk", 1},
    {"unknown_without_zero", "reply:Unknown", false, 4, "", 0},
    {"third_time", "short:5 attempt=1-2", true, 3, "GXST", 144},
    {"number_zero", "reply:GXST-0.00\\0", false, 4, "GXST", 0},
    {"whole_text_to_the_end", "reply:GXLV-2.07b", true, 1, "GXLV", 207},
};

INSTANTIATE_TEST_SUITE_P(Replies, AppVersion,
                         testing::Combine(testing::Values(Driver::Ftdi, Driver::Vendor),
                                          testing::ValuesIn(kAppVersionCases)),
                         [](const auto& info) {
                             return std::string(Label(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).name;
                         });

// ---- Application mode: "START_BOOT_LOADER" ----

struct StartCase {
    const char* name;
    const char* fault;  // nullptr: none
    StartBootloaderOutcome outcome;
    const char* text;
};
class StartBoot : public Connected, public testing::TestWithParam<std::tuple<Driver, StartCase>> {};

TEST_P(StartBoot, SortsTheReply)
{
    const auto& [driver, c] = GetParam();
    std::vector<std::string> faults;
    if (c.fault) faults.push_back(std::string(c.fault) + " cmd=start_boot");
    Connect(driver, Mode::Application, faults);
    const StartBootloaderResult result = StartBootloaderExchange(*device);
    EXPECT_EQ(result.Outcome, c.outcome);
    EXPECT_EQ(result.Text, c.text);
    // The device starts unless it answers otherwise or never gets the command; a lost reply
    // does not stop it.
    const bool started = !c.fault || std::string(c.fault) == "silent";
    if (c.outcome != StartBootloaderOutcome::SendFailed) {
        ASSERT_EQ(Texts().size(), 1u);
        EXPECT_EQ(Texts()[0].Field("command"), "START_BOOT_LOADER");
    }
    EXPECT_EQ(sim.Device(setup.Serial).NextMode, started ? Mode::Bootloader : Mode::Application);
}

const StartCase kStartCases[] = {
    {"started", nullptr, StartBootloaderOutcome::Started, "STARTED"},
    {"started_and_more", "reply:STARTED,\\x20bye", StartBootloaderOutcome::Started, "STARTED, bye"},
    {"start_error", "reply:START\\x20ERRORX", StartBootloaderOutcome::StartError, "START ERRORX"},
    {"start_erro", "reply:START\\x20ERRO", StartBootloaderOutcome::OtherReply, "START ERRO"},
    {"four_letters", "reply:ABCD", StartBootloaderOutcome::OtherReply, "ABCD"},
    {"zero_inside", "reply:AB\\0CD", StartBootloaderOutcome::OtherReply, "AB"},
    {"silent", "silent", StartBootloaderOutcome::NoReply, ""},
    {"send_fails", "write_fail", StartBootloaderOutcome::SendFailed, ""},
};

INSTANTIATE_TEST_SUITE_P(Replies, StartBoot,
                         testing::Combine(testing::Values(Driver::Ftdi, Driver::Vendor),
                                          testing::ValuesIn(kStartCases)),
                         [](const auto& info) {
                             return std::string(Label(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).name;
                         });

// ---- The two modes in sequence, as an identification sees them ----

class Modes : public Connected, public testing::TestWithParam<Driver> {};

TEST_P(Modes, AStartedDeviceAnswersInItsBootloaderAfterBeingPluggedInAgain)
{
    Connect(GetParam(), Mode::Application);
    QueryReplyBuffer buffer;
    EXPECT_FALSE(QueryVersion(*device, CMD_READ_FIRMWARE_VERSION, buffer).Accepted);
    ASSERT_TRUE(ReadApplicationVersion(*device).Success);
    EXPECT_EQ(device->FirmwareVersion.Number, 910);
    ASSERT_EQ(StartBootloaderExchange(*device).Outcome, StartBootloaderOutcome::Started);
    ChannelClose(*device);

    sim.Unplug(setup.Serial);
    sim.Plug(setup.Serial);
    TDevEntry again(setup.Serial, setup.DeviceCode, device->DriverKind);
    ASSERT_TRUE(ChannelOpen(again));
    const QueryVersionResult firmware = QueryVersion(again, CMD_READ_FIRMWARE_VERSION, buffer);
    const QueryVersionResult boot = QueryVersion(again, CMD_READ_BOOT_VERSION, buffer);
    const ProcessorIdResult processor = QueryProcessorId(again, buffer);
    ChannelClose(again);
    EXPECT_TRUE(firmware.Accepted);
    EXPECT_EQ(boot.Text, "GXBL-1.05");
    EXPECT_EQ(processor.ProcessorId, 0x26013F37u);

    std::vector<std::string> order;
    for (const auto& e : sim.Journal(setup.Serial))
        order.push_back(e.Kind + " " + e.Field("cmd") + e.Field("command"));
    // FTDI also shortens the latency timer at each open and resets the device before each close.
    const std::vector<std::string> ftdi = {"open ",
                                           "latency ",
                                           "ignored ",
                                           "text FL_READ_VERSION$",
                                           "text START_BOOT_LOADER",
                                           "reset ",
                                           "close ",
                                           "open ",
                                           "latency ",
                                           "packet 4",
                                           "packet 5",
                                           "packet 10",
                                           "reset ",
                                           "close "};
    const std::vector<std::string> vendor = {"open ",
                                             "ignored ",
                                             "text FL_READ_VERSION$",
                                             "text START_BOOT_LOADER",
                                             "close ",
                                             "open ",
                                             "packet 4",
                                             "packet 5",
                                             "packet 10",
                                             "close "};
    EXPECT_EQ(order, GetParam() == Driver::Ftdi ? ftdi : vendor);
}

// Erase and write a 4 KB sector part by part, as a write session does, then finish.
TEST_P(Modes, AWholeSectorIsErasedWrittenAndFinished)
{
    Connect(GetParam(), Mode::Bootloader);
    FillFlash(0x4000, 0x1000, 0x00);
    std::vector<uint8_t> image(0x1000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    const uint16_t erase = EraseSectorCommand(setup.ProcessorId, 105, "GXLV");
    const uint16_t write = WritePartCommand(setup.ProcessorId, 105, "GXLV");
    ASSERT_TRUE(EraseSectorExchange(*device, erase, 4, 0x4000).Success);
    SectorReplyBuffer reply{};
    for (uint32_t part = 0; part < 8; ++part) {
        const std::span<const uint8_t, WRITE_PART_SIZE> data(image.data() + part * WRITE_PART_SIZE,
                                                             WRITE_PART_SIZE);
        ASSERT_TRUE(
            WritePartExchange(*device, write, 4, 0x4000 + part * WRITE_PART_SIZE, data, reply)
                .Success)
            << part;
    }
    SendControlCommand(*device, CMD_FINISH);

    const std::vector<uint8_t> flash = sim.Flash(setup.Serial);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x4000));
    const auto packets = Packets();
    ASSERT_EQ(packets.size(), 10u);
    EXPECT_EQ(packets[0].Command(), CMD_ERASE_SECTOR_V2);
    for (uint32_t part = 0; part < 8; ++part) {
        EXPECT_EQ(packets[1 + part].Command(), CMD_WRITE_PART_V2);
        EXPECT_EQ(packets[1 + part].Address(), 0x4000 + part * WRITE_PART_SIZE);
    }
    EXPECT_EQ(packets[9].Command(), CMD_FINISH);
}

INSTANTIATE_TEST_SUITE_P(Drivers, Modes, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) { return std::string(Label(info.param)); });
}  // namespace
