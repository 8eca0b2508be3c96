// The scan pass and the identification of new devices, against the simulated driver libraries,
// with a plain host in place of the window: what a pass finds, sends and hands over.

#include "app/Language.h"
#include "app/LoaderError.h"
#include "devices/ReadVersion.h"
#include "sessions/Identification.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {
using gxsim::Driver;
using gxsim::Mode;

class ScanPass : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(BindSimulatorLibraries()); }

    SimSandbox sim;
    TestWorkerHost host;
    int savedLanguage = CurrentLanguage;

    void SetUp() override { CurrentLanguage = kLanguageEnglish; }
    void TearDown() override { CurrentLanguage = savedLanguage; }

    // Runs one pass and waits for its termination handler.
    void Pass()
    {
        ASSERT_NE(host.StartScan(), nullptr);
        ASSERT_TRUE(host.WaitScanFinished());
    }
    TDevEntry* Found(int32_t serial) const { return FindDeviceBySerial(host.Found, serial); }
    std::vector<int> Packets(std::string_view serial) const { return sim.Commands(serial); }
    std::vector<std::string> TextCommands(std::string_view serial) const
    {
        return sim.TextCommands(serial);
    }
};

TEST_F(ScanPass, IdentifiesBothModesAndClosesEveryChannel)
{
    sim.Add(SimDevice("1001", Driver::Ftdi));
    gxsim::DeviceSetup app = SimDevice("2002", Driver::Vendor, Mode::Application);
    app.Firmware = "GXLV-9.10";
    sim.Add(app);
    Pass();

    EXPECT_EQ(host.ScanError, kScanOk);
    ASSERT_EQ(host.Found.size(), 2u);
    const TDevEntry& boot = *host.Found[0];
    EXPECT_TRUE(boot.InBootloader);
    EXPECT_EQ(FormatVersion(boot.FirmwareVersion), QStringLiteral("GXST-1.44"));
    EXPECT_EQ(FormatVersion(boot.BootloaderVersion), QStringLiteral("GXBL-1.05"));
    EXPECT_EQ(boot.ProcessorId, 0x26013F37u);
    EXPECT_EQ(boot.FtdiHandle, nullptr);
    const TDevEntry& application = *host.Found[1];
    EXPECT_FALSE(application.InBootloader);
    EXPECT_TRUE(application.BootloaderStarted);
    EXPECT_EQ(FormatVersion(application.FirmwareVersion), QStringLiteral("GXLV-9.10"));
    EXPECT_EQ(application.VendorHandle, nullptr);

    EXPECT_EQ(Packets("1001"), (std::vector<int>{CMD_READ_FIRMWARE_VERSION, CMD_READ_BOOT_VERSION,
                                                 CMD_READ_PROCESSOR_ID}));
    EXPECT_EQ(TextCommands("2002"),
              (std::vector<std::string>{"FL_READ_VERSION$", "START_BOOT_LOADER"}));
    for (const char* serial : {"1001", "2002"}) EXPECT_EQ(sim.Journal(serial).back().Kind, "close");
    EXPECT_EQ(host.Lines,
              QStringList({Line("Device    2002\tSending command of loader starting"),
                           Line("Device    2002\tLoader starting command processed. Disconnect "
                                "device and connect it again.")}));
}

TEST_F(ScanPass, AMissingProcessorIdReplyIsLoggedWithoutADeviceNumber)
{
    gxsim::DeviceSetup device = SimDevice("4201", Driver::Vendor);
    device.Faults = {"silent cmd=10"};
    sim.Add(device);
    Pass();
    EXPECT_EQ(host.Lines, QStringList{Line("Device -------\tNo response on processor ID request")});
    EXPECT_EQ(host.Kinds, std::vector<int>{Error});
    ASSERT_NE(Found(4201), nullptr);
    EXPECT_EQ(Found(4201)->ProcessorId, 0u);
    EXPECT_EQ(FormatVersion(Found(4201)->BootloaderVersion), QStringLiteral("GXBL-1.05"));
    EXPECT_EQ(host.ScanError, kScanOk);
}

TEST_F(ScanPass, ASilentDeviceFailsThePassWithTheLastReplyOfAnother)
{
    gxsim::DeviceSetup silent = SimDevice("4001", Driver::Vendor);
    silent.Faults = {"silent"};
    sim.Add(silent);
    sim.Add(SimDevice("4002", Driver::Vendor));
    Pass();
    EXPECT_EQ(host.ScanError, kScanNoAnswer);
    EXPECT_EQ(host.LastReplyCode, 128);  // 4002's accepted command 4
    EXPECT_EQ(Packets("4001"), std::vector<int>{CMD_READ_FIRMWARE_VERSION});
    EXPECT_EQ(sim.Journal("4001").back().Kind, "close");
    EXPECT_EQ(Packets("4002"), std::vector<int>{CMD_READ_FIRMWARE_VERSION});
}

TEST_F(ScanPass, ADeviceThatDoesNotOpenIsError7)
{
    gxsim::DeviceSetup refusing = SimDevice("4301", Driver::Ftdi);
    refusing.OpenFails = true;
    sim.Add(refusing);
    Pass();
    EXPECT_EQ(host.ScanError, kScanOpenFailed);
    EXPECT_TRUE(Packets("4301").empty());
}

struct StartCase {
    const char* fault;  // for the "START_BOOT_LOADER" exchange
    const char* line;   // logged after message 39
};
class StartOutcome : public ScanPass, public testing::WithParamInterface<StartCase> {};

TEST_P(StartOutcome, IsLoggedInRedAndLeavesTheBootloaderNotStarted)
{
    gxsim::DeviceSetup device = SimDevice("2101", Driver::Ftdi, Mode::Application);
    device.Faults = {std::string(GetParam().fault) + " cmd=start_boot"};
    sim.Add(device);
    Pass();
    EXPECT_EQ(host.Lines, QStringList({Line("Device    2101\tSending command of loader starting"),
                                       Line(GetParam().line)}));
    EXPECT_EQ(host.Kinds, (std::vector<int>{Normal, Error}));
    ASSERT_NE(Found(2101), nullptr);
    EXPECT_FALSE(Found(2101)->BootloaderStarted);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StartOutcome,
    testing::Values(StartCase{"silent", "Device    2101\tNo reply from device."},
                    StartCase{"reply:START\\x20ERRORX", "Device    2101\tBootloader error"},
                    StartCase{"reply:WHAT", "Device    2101\tUnknown device reply: WHAT"},
                    StartCase{"write_fail", "Device    2101\tDriver error"}));

TEST_F(ScanPass, OnlyExactDescriptionsAreListedAndLateOnesAreWaitedFor)
{
    gxsim::DeviceSetup lower = SimDevice("5001", Driver::Ftdi);
    lower.Description = "geotrovix";
    gxsim::DeviceSetup longer = SimDevice("5002", Driver::Ftdi);
    longer.Description = "Geotrovix USB";
    gxsim::DeviceSetup late = SimDevice("5003", Driver::Ftdi);
    late.LateDescription = 3;  // the driver reads the description at its fourth list
    for (const auto& d : {lower, longer, late}) sim.Add(d);
    Pass();
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->SerialNumber, 5003);
    EXPECT_EQ(sim.Device("5003").DescriptionReads, 3u);
    EXPECT_TRUE(sim.Journal("5001").empty());
    EXPECT_TRUE(sim.Journal("5002").empty());
    EXPECT_TRUE(host.Lines.isEmpty());
}

TEST_F(ScanPass, AnFtdiListThatStaysIncompleteGivesNoFtdiDevicesAndNoMessage)
{
    gxsim::DeviceSetup never = SimDevice("5101", Driver::Ftdi);
    never.LateDescription = 1000;
    sim.Add(never);
    sim.Add(SimDevice("5102", Driver::Vendor));
    Pass();
    EXPECT_EQ(sim.Device("5101").DescriptionReads, 50u);
    EXPECT_TRUE(sim.Journal("5101").empty());
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->SerialNumber, 5102);
    EXPECT_TRUE(host.Lines.isEmpty());
}

TEST_F(ScanPass, AFailingListIsADriverErrorAndTheOtherLibraryIsStillAsked)
{
    sim.SetLibrary([](gxsim::LibrarySetup& l) { l.VendorCountFails = true; });
    sim.Add(SimDevice("5201", Driver::Vendor));
    sim.Add(SimDevice("5202", Driver::Ftdi));
    Pass();
    EXPECT_EQ(host.Lines, QStringList{Line("Device -------\tDriver error")});
    EXPECT_EQ(host.Kinds, std::vector<int>{Error});
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->SerialNumber, 5202);
}

TEST_F(ScanPass, KnownDevicesStayAndGoneOnesAreMarkedDetachedAndTheirSessionsAskedToStop)
{
    sim.Add(SimDevice("5301", Driver::Vendor));
    host.Devices.push_back(std::make_unique<TDevEntry>("5301", 7, VendorDriver));
    host.Devices.push_back(std::make_unique<TDevEntry>("5302", 7, VendorDriver));
    FunctionWorker session(host.WindowThreadObject(), {});
    host.Devices[1]->Writer = &session;  // never started: the stop request still holds
    Pass();
    EXPECT_TRUE(host.Found.empty());  // 5301 is known: no new device
    EXPECT_TRUE(sim.Journal("5301").empty());
    EXPECT_FALSE(host.Devices[0]->Detached);
    EXPECT_TRUE(host.Devices[1]->Detached);
    EXPECT_TRUE(session.StopRequested());
    host.Devices[1]->Writer = nullptr;
}

TEST_F(ScanPass, AStopRequestEndsIdentificationAfterTheCurrentExchange)
{
    gxsim::DeviceSetup slow = SimDevice("5401", Driver::Ftdi, Mode::Application);
    slow.Faults = {"silent cmd=read_version"};
    sim.Add(slow);
    sim.Add(SimDevice("5402", Driver::Ftdi));
    TReadVersion* scan = host.StartScan();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !TextCommands("5401").empty(); }));
    host.Workers->StopAll();  // serves the pass while it waits, then frees it
    EXPECT_EQ(TextCommands("5401"), std::vector<std::string>{"FL_READ_VERSION$"});
    EXPECT_EQ(sim.Journal("5401").back().Kind, "close");
    EXPECT_TRUE(sim.Journal("5402").empty());  // never opened
    EXPECT_EQ(host.ScanFinishedCalls, 0);      // a stopped pass hands nothing over
}

// ---- A step of a pass that raises ----

struct RaisedCase {
    std::function<void()> raise;
    const char* line;
};
class GuardedStep : public ScanPass, public testing::WithParamInterface<RaisedCase> {};

TEST_P(GuardedStep, LogsMessage36AfterReleasingWhatTheStepHeld)
{
    TReadVersion scan(host, IdentifyDevice);  // not started: the step runs on a thread of ours
    // The window thread serves the line while the worker waits in the hand-over: the lock the
    // step held must be free by then.
    std::vector<bool> lockFreeWhenLogged;
    host.OnLog = [&] {
        const bool free = host.Lock.try_lock();
        if (free) host.Lock.unlock();
        lockFreeWhenLogged.push_back(free);
    };
    std::atomic<bool> done = false;
    bool after = false;
    std::thread worker([&] {
        GuardedScanStep(scan, [&] {
            std::lock_guard<std::recursive_mutex> lock(host.Lock);
            GetParam().raise();
            after = true;
        });
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_FALSE(after);
    EXPECT_EQ(host.Lines, QStringList{Line(GetParam().line)});
    EXPECT_EQ(host.Kinds, std::vector<int>{Error});
    EXPECT_EQ(lockFreeWhenLogged, std::vector<bool>{true});
}

INSTANTIATE_TEST_SUITE_P(
    Errors, GuardedStep,
    testing::Values(
        RaisedCase{[] { throw LoaderError(QStringLiteral("Firmware block size is too big")); },
                   "Device -------\tException \"Firmware block size is too big\" of device "
                   "searching"},
        RaisedCase{[] { throw std::runtime_error("no memory"); },
                   "Device -------\tException \"no memory\" of device searching"},
        RaisedCase{[] { throw 42; }, "Device -------\tException \"\" of device searching"}));
}  // namespace
