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
#include <functional>
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

TEST_F(ScanPass, ADeviceThatAnswersNothingIsRejectedAndTheOthersAreIdentifiedAsUsual)
{
    gxsim::DeviceSetup silent = SimDevice("4001", Driver::Vendor);
    silent.Faults = {"silent"};
    sim.Add(silent);
    sim.Add(SimDevice("4002", Driver::Vendor));
    sim.Add(SimDevice("4003", Driver::Vendor, Mode::Application));
    Pass();
    EXPECT_EQ(host.ScanError, kScanNoAnswer);
    ASSERT_EQ(host.Rejected.size(), 1u);
    EXPECT_EQ(host.Rejected[0].Key, (TDeviceKey{VendorDriver, "4001"}));
    EXPECT_EQ(host.Rejected[0].SerialNumber, 4001);
    EXPECT_EQ(host.Rejected[0].ScanError, kScanNoAnswer);
    EXPECT_EQ(host.Rejected[0].LastReplyCode, 0);  // its own: it sent nothing
    EXPECT_EQ(host.LastReplyCode, 128);            // the pass's: 4003's was the last
    EXPECT_EQ(Packets("4001"), std::vector<int>{CMD_READ_FIRMWARE_VERSION});
    EXPECT_EQ(sim.Journal("4001").back().Kind, "close");
    // The failure of one holds back nothing of the others'.
    ASSERT_EQ(host.Found.size(), 2u);
    EXPECT_EQ(Packets("4002"), (std::vector<int>{CMD_READ_FIRMWARE_VERSION, CMD_READ_BOOT_VERSION,
                                                 CMD_READ_PROCESSOR_ID}));
    EXPECT_EQ(Found(4002)->ProcessorId, 0x26013F37u);
    EXPECT_TRUE(Found(4003)->BootloaderStarted);
}

TEST_F(ScanPass, ADeviceThatDoesNotOpenIsRejectedWithError7)
{
    gxsim::DeviceSetup refusing = SimDevice("4301", Driver::Ftdi);
    refusing.OpenFails = true;
    sim.Add(refusing);
    Pass();
    EXPECT_EQ(host.ScanError, kScanOpenFailed);
    ASSERT_EQ(host.Rejected.size(), 1u);
    EXPECT_EQ(host.Rejected[0].ScanError, kScanOpenFailed);
    EXPECT_TRUE(host.Found.empty());
    EXPECT_TRUE(Packets("4301").empty());
}

// A serial text that does not come back from its number ("%d" of 7001 is not "007001") is opened
// by the text as listed.
class SerialTexts : public ScanPass, public testing::WithParamInterface<Driver> {};

TEST_P(SerialTexts, WithLeadingZerosOpenAsListed)
{
    sim.Add(SimDevice("007001", GetParam()));
    Pass();
    EXPECT_TRUE(host.Rejected.empty());
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->SerialNumber, 7001);
    EXPECT_EQ(host.Found[0]->SerialText, "007001");
    EXPECT_TRUE(host.Found[0]->InBootloader);
    EXPECT_EQ(Packets("007001").size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SerialTexts, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const auto& info) {
                             return std::string(info.param == Driver::Ftdi ? "Ftdi" : "Vendor");
                         });

// Devices are told apart by library and serial text: the same text on one library is a second
// device the loader cannot reach on its own, and is never opened; the same number on the other
// library is another device.
TEST_F(ScanPass, ASecondDeviceWithAListedSerialTextIsRejectedUnopened)
{
    gxsim::DeviceSetup first = SimDevice("6001a", Driver::Vendor);
    first.ListedSerial = "6001";
    gxsim::DeviceSetup second = first;
    second.Serial = "6001b";
    gxsim::DeviceSetup otherLibrary = SimDevice("6001", Driver::Ftdi);
    for (const auto& d : {first, second, otherLibrary}) sim.Add(d);
    Pass();
    ASSERT_EQ(host.Found.size(), 2u);
    EXPECT_EQ(KeyOf(*host.Found[0]), (TDeviceKey{FtdiDriver, "6001"}));
    EXPECT_EQ(KeyOf(*host.Found[1]), (TDeviceKey{VendorDriver, "6001"}));
    ASSERT_EQ(host.Rejected.size(), 1u);
    EXPECT_EQ(host.Rejected[0].Key, (TDeviceKey{VendorDriver, "6001"}));
    EXPECT_EQ(host.Rejected[0].ScanError, kScanDuplicateSerial);
    EXPECT_FALSE(sim.Journal("6001a").empty());
    EXPECT_TRUE(sim.Journal("6001b").empty());

    // Listed already: one of the two is the known device, the other a second one, and neither
    // is opened. (The FTDI device is new again: only the vendor one became known.)
    host.Devices.push_back(std::move(host.Found[1]));
    host.Found.clear();
    sim.ClearJournal("6001a");
    Pass();
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->DriverKind, FtdiDriver);
    ASSERT_EQ(host.Rejected.size(), 1u);
    EXPECT_EQ(host.Rejected[0].ScanError, kScanDuplicateSerial);
    EXPECT_FALSE(host.Devices[0]->Detached);
    EXPECT_TRUE(sim.Journal("6001a").empty());
    EXPECT_TRUE(sim.Journal("6001b").empty());
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

// An FTDI list that cannot be read whole says nothing about the FTDI devices already known: they
// are not taken for gone, and their sessions go on. The vendor list is judged on its own.
struct ListCase {
    const char* name;
    std::function<void(SimSandbox&)> prepare;
    bool ftdiComplete;  // the FTDI list was read whole
    bool driverError;   // and message 37 was logged
};
class FtdiLists : public ScanPass, public testing::WithParamInterface<ListCase> {};

TEST_P(FtdiLists, ThatCannotBeReadLeaveTheKnownFtdiDevicesAlone)
{
    const ListCase& c = GetParam();
    sim.Add(SimDevice("5501", Driver::Ftdi));
    host.Devices.push_back(std::make_unique<TDevEntry>("5501", 0xFFFF, FtdiDriver));
    host.Devices.push_back(std::make_unique<TDevEntry>("5502", 7, VendorDriver));  // unplugged
    FunctionWorker session(host.WindowThreadObject(), {});
    host.Devices[0]->Writer = &session;  // never started: a stop request would still show
    sim.Add(SimDevice("5503", Driver::Vendor));
    c.prepare(sim);
    Pass();
    host.Devices[0]->Writer = nullptr;

    EXPECT_EQ(host.FtdiListComplete, c.ftdiComplete);
    EXPECT_TRUE(host.VendorListComplete);
    // Found again, or not seen at all: either way not gone.
    EXPECT_FALSE(host.Devices[0]->Detached);
    EXPECT_FALSE(session.StopRequested());
    EXPECT_TRUE(host.Devices[1]->Detached);  // the vendor list says 5502 is gone
    ASSERT_GE(host.Found.size(), 1u);
    EXPECT_EQ(host.Found.back()->SerialNumber, 5503);
    EXPECT_EQ(host.Lines.contains(Line("Device -------\tDriver error")), c.driverError);
    EXPECT_TRUE(sim.Journal("5501").empty());  // a known device is not opened by a pass
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FtdiLists,
    testing::Values(ListCase{"CountFails",
                             [](SimSandbox& sim) {
                                 sim.SetLibrary(
                                     [](gxsim::LibrarySetup& l) { l.FtdiCountFails = true; });
                             },
                             false, true},
                    ListCase{"ListFails",
                             [](SimSandbox& sim) {
                                 sim.SetLibrary(
                                     [](gxsim::LibrarySetup& l) { l.FtdiListFails = true; });
                             },
                             false, true},
                    // A description the driver never reads: 50 lists, 100 ms apart, then nothing.
                    ListCase{"StaysIncomplete",
                             [](SimSandbox& sim) {
                                 gxsim::DeviceSetup never = SimDevice("5504", Driver::Ftdi);
                                 never.LateDescription = 1000;
                                 sim.Add(never);
                             },
                             false, false},
                    // A USB-serial adapter another program holds open: none of ours, and no reason
                    // to read the list again.
                    ListCase{"AForeignNodeHeldOpenElsewhere",
                             [](SimSandbox& sim) {
                                 gxsim::DeviceSetup adapter = SimDevice("FT9Z", Driver::Ftdi);
                                 adapter.Description = "FT232R USB UART";
                                 adapter.OpenElsewhere = true;
                                 sim.Add(adapter);
                             },
                             true, false}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST_F(ScanPass, AForeignNodeIsLeftOutAndTheListIsReadOnce)
{
    gxsim::DeviceSetup adapter = SimDevice("FT9Z", Driver::Ftdi);
    adapter.OpenElsewhere = true;
    sim.Add(adapter);
    gxsim::DeviceSetup late = SimDevice("5601", Driver::Ftdi);
    late.LateDescription = 2;  // a description read late is still waited for
    sim.Add(late);
    Pass();
    EXPECT_TRUE(host.FtdiListComplete);
    ASSERT_EQ(host.Found.size(), 1u);
    EXPECT_EQ(host.Found[0]->SerialNumber, 5601);
    EXPECT_EQ(sim.Device("5601").DescriptionReads, 2u);  // three lists, not fifty
    EXPECT_TRUE(sim.Journal("FT9Z").empty());
    EXPECT_TRUE(host.Rejected.empty());
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
    EXPECT_FALSE(host.VendorListComplete);
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
