// The write session with a plain host in place of the window, against the simulator: what a
// session hands over to the window thread, and what it does when the load fails.

#include "app/Language.h"
#include "app/LoaderError.h"
#include "firmware/ImagePacking.h"
#include "sessions/BootProtocol.h"
#include "sessions/WriteProcess.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace {
class SessionOnAPlainHost : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(BindSimulatorLibraries()); }

    SimSandbox sim;
    TestWorkerHost host;
    int savedLanguage = CurrentLanguage;

    void SetUp() override { CurrentLanguage = kLanguageEnglish; }
    void TearDown() override { CurrentLanguage = savedLanguage; }

    // A listed, identified record of a simulated device in its bootloader.
    TDevEntry& Listed(const gxsim::DeviceSetup& setup)
    {
        sim.Add(setup);
        const bool ftdi = setup.Kind == gxsim::Driver::Ftdi;
        host.Devices.push_back(std::make_unique<TDevEntry>(
            setup.Serial, ftdi ? 0xFFFF : setup.DeviceCode, ftdi ? FtdiDriver : VendorDriver));
        TDevEntry& device = *host.Devices.back();
        device.InBootloader = true;
        device.ProcessorId = setup.ProcessorId;
        ParseVersion(device.FirmwareVersion, setup.Firmware);
        ParseVersion(device.BootloaderVersion, setup.Bootloader);
        return device;
    }
    // Loads a payload as the window would.
    void LoadsPayload(std::vector<uint8_t> payload, const char* version = "GXST-1.50")
    {
        host.Load = [payload = std::move(payload), version](TFirmwareBlockList& blocks,
                                                            TFirmwareVersion& v) {
            ParseVersion(v, version);
            blocks.push_back(std::make_unique<TFirmwareBlock>(payload.data(), payload.size(), -1));
            return true;
        };
    }
    void Run(TDevEntry& device)
    {
        auto session = std::make_unique<TWriteThread>(host, device, false);
        device.Writer = session.get();
        ASSERT_TRUE(host.Workers->Start(std::move(session)));
        ASSERT_TRUE(WaitFor([&] { return !host.Sessions.empty(); }, 60000));
    }
    std::vector<int> Commands(std::string_view serial) const { return sim.Commands(serial); }
};

TEST_F(SessionOnAPlainHost, HandsTheProgressOverOnlyWhenTheBarMoves)
{
    TDevEntry& device = Listed(SimDevice("5001", gxsim::Driver::Ftdi));
    LoadsPayload(PlaceholderPayload(131072));
    Run(device);
    ASSERT_EQ(host.Sessions.size(), 1u);
    EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteOk);
    EXPECT_EQ(host.Sessions[0].PartsDone, 304);
    // 304 parts, but no more hand-overs than positions: each one moves the bar.
    EXPECT_LE(host.Progress.size(), 101u);
    EXPECT_TRUE(std::is_sorted(host.Progress.begin(), host.Progress.end()));
    EXPECT_EQ(std::adjacent_find(host.Progress.begin(), host.Progress.end()), host.Progress.end());
    EXPECT_EQ(host.Progress.front(), 0);
    EXPECT_EQ(host.Progress.back(), 100);
    EXPECT_EQ(device.Writer, nullptr);
    EXPECT_EQ(Commands("5001").back(), CMD_FINISH);
}

TEST_F(SessionOnAPlainHost, ReadsStartApplicationFromTheHostsCopy)
{
    gxsim::DeviceSetup setup = SimDevice("5002", gxsim::Driver::Vendor);
    setup.ProcessorId = 0x400FE000;
    TDevEntry& device = Listed(setup);
    LoadsPayload(std::vector<uint8_t>(512, 0x11));
    host.StartApplication = true;
    Run(device);
    EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteOk);
    const std::vector<int> commands = Commands("5002");
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], CMD_FINISH);
    EXPECT_EQ(commands.back(), CMD_START_APPLICATION);
    EXPECT_TRUE(host.Lines.contains(
        QStringLiteral("Device    5002\tSending command to application starting")));
}

struct LoadCase {
    const char* name;
    std::function<bool(TFirmwareBlockList&, TFirmwareVersion&)> load;
    bool windowGone;
};
class FailedLoad : public SessionOnAPlainHost, public testing::WithParamInterface<LoadCase> {};

TEST_P(FailedLoad, IsCode1AndTheDeviceIsNotOpened)
{
    TDevEntry& device = Listed(SimDevice("5003", gxsim::Driver::Ftdi));
    host.Load = GetParam().load;
    if (GetParam().windowGone) {
        // The session starts, but its window is gone before the load: nothing runs there.
        auto session = std::make_unique<TWriteThread>(host, device, false);
        TWriteThread* s = session.get();
        host.DestroyWindow();
        s->start();
        ASSERT_TRUE(s->wait(20000));
        // Read through the worker's own flag: the thread's end as Qt reports it is not an order
        // ThreadSanitizer can see.
        ASSERT_TRUE(s->BodyEnded());
        EXPECT_EQ(s->ErrorCode, kWriteLoadFailed);
        EXPECT_TRUE(host.Sessions.empty());  // no termination handler without a window
    } else {
        Run(device);
        ASSERT_EQ(host.Sessions.size(), 1u);
        EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteLoadFailed);
    }
    EXPECT_TRUE(sim.Journal("5003").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Loads, FailedLoad,
    testing::Values(LoadCase{"ReturnsFalse",
                             [](TFirmwareBlockList&, TFirmwareVersion&) { return false; }, false},
                    LoadCase{"Raises",
                             [](TFirmwareBlockList&, TFirmwareVersion&) -> bool {
                                 throw LoaderError(
                                     QStringLiteral("Firmware block size is too big"));
                             },
                             false},
                    LoadCase{"WindowGone",
                             [](TFirmwareBlockList&, TFirmwareVersion&) { return true; }, true}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

TEST_F(SessionOnAPlainHost, AnUnknownProcessorIsLoggedAndTakesTheDefaultMap)
{
    gxsim::DeviceSetup setup = SimDevice("5004", gxsim::Driver::Ftdi);
    setup.ProcessorId = 0x0000ABCD;
    TDevEntry& device = Listed(setup);
    LoadsPayload(std::vector<uint8_t>(4096, 0x22));
    Run(device);
    EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteOk);
    EXPECT_EQ(host.Lines.value(0), QStringLiteral("Device    5004\tUnknown processor ID 0000ABCD"));
    EXPECT_EQ(host.Lines.value(1), QStringLiteral("Device    5004\tUpdating sectors from 4 to 4"));
    EXPECT_EQ(sim.Flash("5004")[0x4000], 0x22);
}

// An error that escapes one session's work ends that session, not the process: it fails with
// code 8 and the error's text in red, its device gets the abort and is closed, and a session
// running beside it goes on to its end.
TEST_F(SessionOnAPlainHost, AnErrorInsideOneSessionEndsThatSessionOnly)
{
    gxsim::DeviceSetup small = SimDevice("5020", gxsim::Driver::Vendor);
    small.ProcessorId = 0x400FE000;  // 512-byte sectors: done long before the other
    gxsim::DeviceSetup slow = SimDevice("5021", gxsim::Driver::Ftdi);
    slow.Faults = {"delay:40 cmd=7"};
    TDevEntry& raising = Listed(small);
    TDevEntry& other = Listed(slow);
    LoadsPayload(std::vector<uint8_t>(0x4000, 0x5C));
    auto first = std::make_unique<TWriteThread>(host, raising, false);
    const QThread* raisingThread = first.get();
    host.OnStartApplicationAsked = [raisingThread] {
        if (QThread::currentThread() == raisingThread)
            throw std::runtime_error("the window's copy of the option is gone");
    };
    raising.Writer = first.get();
    ASSERT_TRUE(host.Workers->Start(std::move(first)));
    auto second = std::make_unique<TWriteThread>(host, other, false);
    other.Writer = second.get();
    ASSERT_TRUE(host.Workers->Start(std::move(second)));
    ASSERT_TRUE(WaitFor([&] { return host.Sessions.size() == 2; }, 60000));

    ASSERT_EQ(host.Sessions[0].Device, &raising);
    EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteRaised);
    const QString line = QStringLiteral(
        "Device    5020\tException \"the window's copy of the option is gone\" of firmware "
        "updating");
    const qsizetype at = host.Lines.indexOf(line);
    ASSERT_GE(at, 0) << host.Lines.join('\n').toStdString();
    EXPECT_EQ(host.Kinds[static_cast<size_t>(at)], Error);
    const std::vector<int> commands = Commands("5020");
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], CMD_FINISH);
    EXPECT_EQ(commands.back(), CMD_ABORT);
    EXPECT_EQ(sim.Journal("5020").back().Kind, "close");

    ASSERT_EQ(host.Sessions[1].Device, &other);
    EXPECT_EQ(host.Sessions[1].ErrorCode, kWriteOk);
    EXPECT_EQ(Commands("5021").back(), CMD_FINISH);
    EXPECT_EQ(sim.Journal("5021").back().Kind, "close");
}

// ---- Replies that come after their read gave up ----

// A late reply answers the request it was sent for, never a later one. An erase reply repeats the
// sector and its start, which is what the sector's first part is checked for: were the repeat's
// own reply left for that part, the part would pass on it, and on a sector of one part the part's
// real reply (here a refusal) would only be read after the finish command.
struct LateCase {
    const char* name;
    uint32_t processor;
    uint32_t firstAddress;  // where the first writable sector starts
    size_t payload;         // bytes from there; the last sector they reach is lateSector
    int lateSector;
    bool partsRefused;                // every part of that sector is answered with status 5
    int erase = CMD_ERASE_SECTOR_V2;  // the processor's command set
    int part = CMD_WRITE_PART_V2;
};
class LateReplies : public SessionOnAPlainHost,
                    public testing::WithParamInterface<std::tuple<LateCase, gxsim::Driver>> {};

TEST_P(LateReplies, AnswerOnlyTheirOwnRequest)
{
    const auto& [c, driver] = GetParam();
    gxsim::DeviceSetup setup = SimDevice("5010", driver);
    setup.ProcessorId = c.processor;
    const std::string sector = " sector=" + std::to_string(c.lateSector);
    setup.Faults = {"delay:1500 attempt=1 cmd=" + std::to_string(c.erase) + sector};
    if (c.partsRefused) setup.Faults.push_back("status:5 cmd=" + std::to_string(c.part) + sector);
    TDevEntry& device = Listed(setup);
    std::vector<uint8_t> payload(c.payload);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 31 + 7);
    LoadsPayload(payload);
    Run(device);

    ASSERT_EQ(host.Sessions.size(), 1u);
    const std::vector<gxsim::JournalEntry> packets = sim.Journal("5010", "packet");
    int lateParts = 0;
    for (const gxsim::JournalEntry& p : packets)
        if (p.Command() == c.part && p.Sector() == c.lateSector) ++lateParts;
    if (c.partsRefused) {
        // The first part's own refusal decides: code 6 with the device's status, and the session
        // goes no further than that part.
        EXPECT_EQ(host.Sessions[0].ErrorCode, kWritePartFailed);
        EXPECT_EQ(host.Sessions[0].LastStatus, 5u);
        EXPECT_EQ(lateParts, 1);
        EXPECT_EQ(Commands("5010").back(), CMD_ABORT);
    } else {
        // A slow erase is no error: the device ends up written, part for part.
        EXPECT_EQ(host.Sessions[0].ErrorCode, kWriteOk);
        EXPECT_EQ(host.Sessions[0].LastStatus, STATUS_ACCEPTED);
        const std::vector<uint8_t> flash = sim.Flash("5010");
        ASSERT_GE(flash.size(), c.firstAddress + payload.size());
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), flash.begin() + c.firstAddress));
        EXPECT_EQ(Commands("5010").back(), CMD_FINISH);
    }
    // Every erase and part reply the device sent was read within its own exchange: none was left
    // for the finish or the abort, whose replies the device sent last.
    int erases = 0;
    for (const gxsim::JournalEntry& p : packets)
        if (p.Command() == c.erase && p.Sector() == c.lateSector) ++erases;
    EXPECT_GE(erases, 2);
}

const LateCase kLateCases[] = {
    // 512-byte sectors from 0x4400, one part each: sectors 0 and 1.
    {"OnePartSectors", 0x400FE000, 0x4400, 1024, 1, false},
    {"OnePartSectorsRefused", 0x400FE000, 0x4400, 1024, 1, true},
    // 4 KB sectors from 0x4000, eight parts each: sectors 4 and 5; the first command set.
    {"FourKilobyteSectors", 0x0000BC40, 0x4000, 0x1200, 5, false, CMD_ERASE_SECTOR_V1,
     CMD_WRITE_PART_V1},
    {"FourKilobyteSectorsRefused", 0x0000BC40, 0x4000, 0x1200, 5, true, CMD_ERASE_SECTOR_V1,
     CMD_WRITE_PART_V1},
    // Six 4 KB sectors from 0xA000, then the first 32 KB sector (64 parts), 16.
    {"MixedSectors", 0x26013F37, 0xA000, 0x6200, 16, false},
    {"MixedSectorsRefused", 0x26013F37, 0xA000, 0x6200, 16, true},
};

INSTANTIATE_TEST_SUITE_P(Maps, LateReplies,
                         testing::Combine(testing::ValuesIn(kLateCases),
                                          testing::Values(gxsim::Driver::Ftdi,
                                                          gxsim::Driver::Vendor)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == gxsim::Driver::Ftdi ? "_ftdi"
                                                                                    : "_vendor");
                         });
}  // namespace
