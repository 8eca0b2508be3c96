// Device discovery and identification through the window, against the simulated driver
// libraries: what a pass shows, logs and sends, and how a closing window stops a pass.

#include "app/Language.h"
#include "app/MainForm.h"
#include "devices/ReadVersion.h"
#include "platform/OutsideMessages.h"
#include "platform/WindowThreadCall.h"
#include "sessions/BootProtocol.h"
#include "sessions/DevicePanel.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
using gxsim::Driver;
using gxsim::Mode;

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

class Discovery : public testing::Test {
protected:
    // The bindings are process-wide and made once.
    static void SetUpTestSuite() { ASSERT_TRUE(BindSimulatorLibraries()); }

    SimSandbox sim;
    std::unique_ptr<TMainForm> form;
    int savedLanguage = CurrentLanguage;
    int linesSeen = 0;  // lines already taken by NewLines()

    void SetUp() override { CurrentLanguage = kLanguageEnglish; }
    void TearDown() override
    {
        Close();
        CurrentLanguage = savedLanguage;
    }

    // Creates the window, whose first pass starts 100 ms later by itself.
    void Create(const std::function<void(TMainForm&)>& prepare = {})
    {
        form = std::make_unique<TMainForm>(QStringList());
        form->DevPanel->resize(kDesignClientWidth, 300);
        if (prepare) prepare(*form);
    }
    // Creates the window and waits for its first pass.
    void Open(const std::function<void(TMainForm&)>& prepare = {})
    {
        Create(prepare);
        ASSERT_TRUE(WaitPassEnd());
    }
    void Close() { form.reset(); }
    // No pass runs and none is about to start.
    bool Idle() const { return !form->DevTimer->isActive() && !form->CurrentScan; }
    bool WaitPassEnd()
    {
        return WaitFor([&] { return Idle(); }, 60000);
    }
    // A device-change notification and the pass it starts.
    void Notify()
    {
        form->WMDeviceChange(kDevNodesChanged);
        ASSERT_TRUE(WaitPassEnd());
    }
    // Lets the event loop run for ms milliseconds.
    static void Run(int ms)
    {
        QDeadlineTimer until(ms);
        WaitFor([&] { return until.hasExpired(); }, ms + 1000);
    }

    QStringList Lines() const { return LogLines(*form); }
    // The lines logged since the last call.
    QStringList NewLines()
    {
        const QStringList all = Lines();
        const QStringList fresh = all.mid(linesSeen);
        linesSeen = static_cast<int>(all.size());
        return fresh;
    }
    QColor LineColour(const QString& line) const
    {
        for (QTextBlock b = form->reLog->document()->firstBlock(); b.isValid(); b = b.next())
            if (b.text() == line) return b.begin().fragment().charFormat().foreground().color();
        return QColor();
    }

    TDevEntry* Device(int32_t serial) const { return FindDeviceBySerial(form->DeviceList, serial); }
    // Commands of the packets the device received, in order.
    std::vector<int> Packets(std::string_view serial) const { return sim.Commands(serial); }
    std::vector<std::string> TextCommands(std::string_view serial) const
    {
        return sim.TextCommands(serial);
    }
    // Changes the simulated libraries' own behaviour (failing list calls).
    gxsim::DeviceSetup Silent(std::string serial)
    {
        gxsim::DeviceSetup d = SimDevice(std::move(serial), Driver::Vendor);
        d.Faults = {"silent"};
        return d;
    }
};

TEST_F(Discovery, BootloaderAndApplicationDevicesAppearWithTheirLinesAndPanels)
{
    sim.Add(SimDevice("1001", Driver::Ftdi));
    gxsim::DeviceSetup app = SimDevice("2002", Driver::Ftdi, Mode::Application);
    app.Firmware = "GXLV-9.10";
    sim.Add(app);
    Open();  // no notification: the first pass comes by itself

    const QStringList expected = {
        // Identification, on the scan thread.
        Line("Device    2002\tSending command of loader starting"),
        Line("Device    2002\tLoader starting command processed. Disconnect device and connect "
             "it again."),
        // ScanFinished.
        Line("Device    1001\tDevice connected"),
        Line("Device    1001\tFirmware version GXST-1.44"),
        Line("Device -------\tBootloader version GXBL-1.05"),
        Line("Device    1001\tProcessor ID 0x26013F37"),
        Line("Device    1001\tOperation mode - Bootloader"),
        Line("Device    2002\tDevice connected"),
        Line("Device    2002\tFirmware version GXLV-9.10"),
        Line("Device    2002\tProcessor ID 0x00000000"),
        Line("Device    2002\tOperation mode - Firmware"),
    };
    EXPECT_EQ(Lines(), expected);
    for (const QString& line : expected) EXPECT_EQ(LineColour(line), kBlack) << line.toStdString();

    ASSERT_EQ(form->DeviceList.size(), 2u);
    const TDevEntry& boot = *form->DeviceList[0];
    const TDevEntry& application = *form->DeviceList[1];
    EXPECT_EQ(boot.SerialNumber, 1001);
    EXPECT_EQ(boot.DriverKind, FtdiDriver);
    EXPECT_EQ(boot.DeviceCode, 0xFFFF);
    EXPECT_TRUE(boot.InBootloader);
    EXPECT_EQ(boot.ProcessorId, 0x26013F37u);
    EXPECT_EQ(boot.FtdiHandle, nullptr);  // closed after identification
    EXPECT_EQ(application.SerialNumber, 2002);
    EXPECT_FALSE(application.InBootloader);
    EXPECT_TRUE(application.BootloaderStarted);

    const TFWLoaderDevGroup& bootPanel = *boot.Panel;
    EXPECT_EQ(bootPanel.RequestedTop, 80);
    EXPECT_EQ(bootPanel.Box->title(), QStringLiteral("Device1001"));
    EXPECT_EQ(bootPanel.SerialValue->text(), QStringLiteral("1001"));
    EXPECT_EQ(bootPanel.FirmwareValue->text(), QStringLiteral("GXST-1.44"));
    EXPECT_EQ(bootPanel.BootValue->text(), QStringLiteral("GXBL-1.05"));
    EXPECT_EQ(bootPanel.StatusLabel->text(), QStringLiteral("Device connected"));
    EXPECT_TRUE(bootPanel.UpdateButton->isEnabled());

    const TFWLoaderDevGroup& appPanel = *application.Panel;
    EXPECT_EQ(appPanel.RequestedTop, 160);
    EXPECT_EQ(appPanel.FirmwareValue->text(), QStringLiteral("GXLV-9.10"));
    EXPECT_TRUE(appPanel.BootValue->text().isEmpty());
    EXPECT_FALSE(appPanel.UpdateButton->isEnabled());
    EXPECT_EQ(appPanel.StatusLabel->text(),
              QStringLiteral("Disconnect device and connect it again."));
    EXPECT_EQ(appPanel.StatusLabel->palette().color(QPalette::WindowText), kGreen);
    EXPECT_EQ(form->DevPanel->minimumHeight(), 2 * 96);

    // What each device was sent.
    EXPECT_EQ(Packets("1001"), (std::vector<int>{CMD_READ_FIRMWARE_VERSION, CMD_READ_BOOT_VERSION,
                                                 CMD_READ_PROCESSOR_ID}));
    EXPECT_EQ(sim.Journal("1001").back().Kind, "close");
    EXPECT_EQ(TextCommands("2002"),
              (std::vector<std::string>{"FL_READ_VERSION$", "START_BOOT_LOADER"}));
    EXPECT_EQ(sim.Journal("2002").back().Kind, "close");
    EXPECT_EQ(sim.Device("2002").NextMode, Mode::Bootloader);
}

TEST_F(Discovery, AKnownDeviceFoundAgainChangesNothing)
{
    sim.Add(SimDevice("3003", Driver::Vendor));
    Open();
    ASSERT_EQ(form->DeviceList.size(), 1u);
    const TDevEntry* record = form->DeviceList[0].get();
    const QPointer<QGroupBox> box = record->Panel->Box;
    const QStringList before = Lines();

    Notify();
    Notify();
    ASSERT_EQ(form->DeviceList.size(), 1u);
    EXPECT_EQ(form->DeviceList[0].get(), record);
    EXPECT_EQ(record->Panel->Box, box);
    EXPECT_FALSE(record->Detached);
    EXPECT_EQ(Lines(), before);
    EXPECT_EQ(sim.Journal("3003", "open").size(), 1u);  // never identified again
}

TEST_F(Discovery, PanelsStackAndUnpluggedDevicesGoWithMessage6)
{
    for (const char* serial : {"3101", "3102", "3103"}) sim.Add(SimDevice(serial, Driver::Vendor));
    Open();
    ASSERT_EQ(form->DeviceList.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(form->DeviceList[i]->Panel->RequestedTop, 80 * (i + 1));
    EXPECT_EQ(form->DevPanel->minimumHeight(), 288);
    const QPointer<QGroupBox> firstBox = form->DeviceList[0]->Panel->Box;
    NewLines();

    sim.Unplug("3101");
    Notify();
    EXPECT_EQ(NewLines(), QStringList{Line("Device    3101\tDevice disconnected")});
    EXPECT_EQ(LineColour(Line("Device    3101\tDevice disconnected")), kBlack);
    EXPECT_EQ(Device(3101), nullptr);
    EXPECT_TRUE(firstBox.isNull());  // the panel went with the record
    ASSERT_EQ(form->DeviceList.size(), 2u);
    EXPECT_EQ(form->DevPanel->minimumHeight(), 192);

    sim.Unplug("3102");
    sim.Unplug("3103");
    Notify();
    EXPECT_EQ(NewLines(), QStringList({Line("Device    3102\tDevice disconnected"),
                                       Line("Device    3103\tDevice disconnected")}));
    EXPECT_TRUE(form->DeviceList.empty());
    EXPECT_EQ(form->DevPanel->minimumHeight(), 90);
}

// A new device that answers nothing is reported in red under its own prefix, once per plug-in;
// it is not shown, and the other new devices of the pass are shown and identified as usual.
TEST_F(Discovery, ADeviceThatAnswersNothingIsReportedOnceAndHoldsBackNoOther)
{
    sim.Add(Silent("004001"));
    sim.Add(SimDevice("4002", Driver::Vendor));
    sim.Add(SimDevice("4003", Driver::Vendor, Mode::Application));
    Open();

    const QStringList lines = Lines().filter(QStringLiteral("Device    4001\t"));
    const QRegularExpression rejected(
        QStringLiteral("^Device    4001\\t\\( *\\d+\\)Error 8 of searching for new devices\\. "
                       "Last response code of the device 0 \\(serial number \"004001\"\\)$"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(rejected.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(LineColour(lines[0]), kRed);
    EXPECT_EQ(Device(4001), nullptr);
    ASSERT_NE(Device(4002), nullptr);
    ASSERT_NE(Device(4003), nullptr);
    EXPECT_EQ(FormatVersion(Device(4002)->BootloaderVersion), QStringLiteral("GXBL-1.05"));
    EXPECT_TRUE(Device(4003)->BootloaderStarted);
    EXPECT_EQ(form->DevPanel->minimumHeight(), 2 * 96);
    // 4001: command 4, then "FL_READ_VERSION$" four times (unanswered text reaches a bootloader
    // as garbage), and closed again.
    EXPECT_EQ(Packets("004001"), std::vector<int>{CMD_READ_FIRMWARE_VERSION});
    EXPECT_EQ(sim.Journal("004001").back().Kind, "close");
    NewLines();

    // Tried again at the next pass, and silent again: no second report while it stays plugged in.
    sim.Add(SimDevice("4004", Driver::Vendor));
    Notify();
    EXPECT_EQ(NewLines().filter(QStringLiteral("Error 8")).size(), 0);
    EXPECT_NE(Device(4004), nullptr);
    // Plugged in again: reported again. Then, answering, it is shown like any other.
    sim.Unplug("004001");
    Notify();
    sim.Plug("004001");
    Notify();
    EXPECT_EQ(NewLines().filter(QStringLiteral("Device    4001\t")).size(), 1);
    sim.Set("004001", [](gxsim::DeviceSetup& d) { d.Faults.clear(); });
    Notify();
    ASSERT_NE(Device(4001), nullptr);
    EXPECT_EQ(Device(4001)->SerialText, "004001");
}

TEST_F(Discovery, ARejectedDeviceHoldsBackNoRemoval)
{
    sim.Add(SimDevice("4100", Driver::Vendor));
    Open();
    ASSERT_NE(Device(4100), nullptr);
    NewLines();

    // 4100 goes; a new device refuses command 4 with status 131 and answers nothing else.
    sim.Unplug("4100");
    gxsim::DeviceSetup refusing = SimDevice("4101", Driver::Vendor);
    refusing.Faults = {"status:131 cmd=4"};
    sim.Add(refusing);
    Notify();
    const QStringList lines = NewLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], Line("Device    4100\tDevice disconnected"));
    EXPECT_TRUE(lines[1].startsWith(Line("Device    4101\t(")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(
        ")Error 8 of searching for new devices. Last response code of the device 131 (serial "
        "number \"4101\")")))
        << lines[1].toStdString();
    EXPECT_EQ(Device(4100), nullptr);
    EXPECT_EQ(Device(4101), nullptr);
}

struct StartCase {
    const char* fault;  // for the "START_BOOT_LOADER" exchange
    const char* line;   // what the pass logs about it, in red
};
class StartOutcome : public Discovery, public testing::WithParamInterface<StartCase> {};

TEST_P(StartOutcome, LeavesTheConnectedStatusOnThePanel)
{
    gxsim::DeviceSetup device = SimDevice("2101", Driver::Ftdi, Mode::Application);
    device.Faults = {std::string(GetParam().fault) + " cmd=start_boot"};
    sim.Add(device);
    Open();
    ASSERT_NE(Device(2101), nullptr);
    EXPECT_FALSE(Device(2101)->BootloaderStarted);
    // Only a started bootloader changes the status line.
    const QLabel* status = Device(2101)->Panel->StatusLabel;
    EXPECT_EQ(status->text(), QStringLiteral("Device connected"));
    EXPECT_EQ(status->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::WindowText));
    EXPECT_TRUE(Lines().contains(Line(GetParam().line)));
    EXPECT_EQ(LineColour(Line(GetParam().line)), kRed);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StartOutcome,
    testing::Values(StartCase{"silent", "Device    2101\tNo reply from device."},
                    StartCase{"reply:START\\x20ERROR", "Device    2101\tBootloader error"},
                    StartCase{"reply:WHAT", "Device    2101\tUnknown device reply: WHAT"},
                    StartCase{"write_fail", "Device    2101\tDriver error"}));

TEST_F(Discovery, AStartedDeviceComesBackInBootloaderModeWhenPluggedInAgain)
{
    sim.Add(SimDevice("2201", Driver::Ftdi, Mode::Application));
    Open();
    ASSERT_NE(Device(2201), nullptr);
    EXPECT_EQ(Device(2201)->Panel->StatusLabel->text(),
              QStringLiteral("Disconnect device and connect it again."));
    NewLines();

    sim.Unplug("2201");
    Notify();
    EXPECT_EQ(NewLines(), QStringList{Line("Device    2201\tDevice disconnected")});
    sim.Plug("2201");
    Notify();
    EXPECT_EQ(NewLines(), QStringList({Line("Device    2201\tDevice connected"),
                                       Line("Device    2201\tFirmware version GXST-1.44"),
                                       Line("Device -------\tBootloader version GXBL-1.05"),
                                       Line("Device    2201\tProcessor ID 0x26013F37"),
                                       Line("Device    2201\tOperation mode - Bootloader")}));
    const TFWLoaderDevGroup& panel = *Device(2201)->Panel;
    EXPECT_EQ(panel.BootValue->text(), QStringLiteral("GXBL-1.05"));
    EXPECT_TRUE(panel.UpdateButton->isEnabled());
    EXPECT_EQ(panel.StatusLabel->text(), QStringLiteral("Device connected"));
}

TEST_F(Discovery, DevicesWhoseSerialTextsBothGiveMinusOneAreToldApartByTheirTexts)
{
    sim.Add(SimDevice("-1", Driver::Vendor));
    sim.Add(SimDevice("ABC", Driver::Vendor));
    Open();
    ASSERT_EQ(form->DeviceList.size(), 2u);
    EXPECT_EQ(form->DeviceList[0]->SerialNumber, -1);
    EXPECT_EQ(form->DeviceList[1]->SerialNumber, -1);
    EXPECT_EQ(Lines().count(Line("Device      -1\tDevice connected")), 2);
    // Each was identified through its own channel.
    EXPECT_EQ(Packets("-1").size(), 3u);
    EXPECT_EQ(Packets("ABC").size(), 3u);
    const QPointer<QGroupBox> firstBox = form->DeviceList[0]->Panel->Box;
    const TDevEntry* second = form->DeviceList[1].get();
    NewLines();

    // The record of the device that went is the one taken away.
    sim.Unplug("-1");
    Notify();
    EXPECT_EQ(NewLines(), QStringList{Line("Device      -1\tDevice disconnected")});
    ASSERT_EQ(form->DeviceList.size(), 1u);
    EXPECT_EQ(form->DeviceList[0].get(), second);
    EXPECT_EQ(second->SerialText, "ABC");
    EXPECT_TRUE(firstBox.isNull());
}

// A second device whose library lists a serial text already taken is said once, in red, and left
// alone: not shown, never opened.
TEST_F(Discovery, ASecondDeviceWithATakenSerialTextIsReportedAndLeftAlone)
{
    gxsim::DeviceSetup first = SimDevice("4501a", Driver::Ftdi);
    first.ListedSerial = "4501";
    gxsim::DeviceSetup second = first;
    second.Serial = "4501b";
    sim.Add(first);
    sim.Add(second);
    Open();
    ASSERT_EQ(form->DeviceList.size(), 1u);
    const QString report = Line(
        "Device    4501\tA second device with serial number \"4501\" on the same driver: not "
        "shown and not updated");
    EXPECT_EQ(Lines().count(report), 1);
    EXPECT_EQ(LineColour(report), kRed);
    EXPECT_TRUE(sim.Journal("4501b").empty());
    Notify();
    EXPECT_EQ(Lines().count(report), 1);  // once per plug-in
    EXPECT_TRUE(sim.Journal("4501b").empty());
}

// Each pass logs one driver error here, so the lines count the passes.
class PassCount : public Discovery {
protected:
    void SetUp() override
    {
        Discovery::SetUp();
        sim.SetLibrary([](gxsim::LibrarySetup& l) { l.FtdiCountFails = true; });
        Open();
        ASSERT_EQ(Passes(), 1);
    }
    int Passes() const
    {
        return static_cast<int>(Lines().count(Line("Device -------\tDriver error")));
    }
};

TEST_F(PassCount, TwoNotifications50MsApartStartOnePass)
{
    form->WMDeviceChange(kDevNodesChanged);
    QThread::msleep(50);
    form->WMDeviceChange(kDevNodesChanged);
    ASSERT_TRUE(WaitPassEnd());
    Run(400);
    EXPECT_EQ(Passes(), 2);
}

TEST_F(PassCount, OtherNotificationsStartNothing)
{
    for (quint64 wParam : {quint64(0), quint64(0x8000), quint64(0x8004)})
        form->WMDeviceChange(wParam);
    form->HandleWindowMessage(kDeviceChangeMessage, 0x8000);
    Run(400);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Passes(), 1);
    // RescanTimer is never on: no pass comes by itself either.
    EXPECT_FALSE(form->RescanTimer->isActive());
}

TEST_F(PassCount, RequestsWhileAPassRunsGiveOneMorePassAfterIt)
{
    form->StartScan();
    ASSERT_NE(form->CurrentScan, nullptr);
    const TReadVersion* running = form->CurrentScan;
    form->StartScan();
    form->WMDeviceChange(kDevNodesChanged);
    EXPECT_EQ(form->CurrentScan, running);  // no second pass at the same time
    ASSERT_TRUE(WaitFor([&] { return Passes() == 2; }));
    // The requests were remembered: one more pass, 100 ms after the one that ran.
    ASSERT_TRUE(WaitFor([&] { return Passes() == 3; }));
    ASSERT_TRUE(WaitPassEnd());
    Run(400);
    EXPECT_EQ(Passes(), 3);
}

TEST_F(Discovery, ADevicePluggedInWhileAPassRunsIsFoundAfterIt)
{
    // An application-mode device that takes 1.5 s to answer keeps the first pass busy.
    gxsim::DeviceSetup slow = SimDevice("1201", Driver::Ftdi, Mode::Application);
    slow.Faults = {"delay:1500 cmd=read_version"};
    sim.Add(slow);
    Create();
    ASSERT_TRUE(WaitFor([&] { return !TextCommands("1201").empty(); }));
    ASSERT_NE(form->CurrentScan, nullptr);
    sim.Add(SimDevice("1202", Driver::Vendor));
    form->WMDeviceChange(kDevNodesChanged);  // the timer fires while the pass still runs
    ASSERT_TRUE(WaitFor([&] { return Device(1202) != nullptr; }, 30000));
    EXPECT_NE(Device(1201), nullptr);
}

TEST_F(Discovery, AutomaticUpdatePressesTheButtonOfABootloaderDeviceOnly)
{
    sim.Add(SimDevice("1301", Driver::Ftdi));
    sim.Add(SimDevice("1302", Driver::Ftdi, Mode::Application));
    Open([](TMainForm& f) { f.cbAutoWrite->setChecked(true); });
    // Pressed within ScanFinished, right after the device's own lines.
    const QStringList lines = Lines();
    const qsizetype mode = lines.indexOf(Line("Device    1301\tOperation mode - Bootloader"));
    ASSERT_GE(mode, 0);
    EXPECT_EQ(lines.value(mode + 1), Line("Device    1301\tStarting firmware updating"));
    EXPECT_EQ(lines.value(mode + 2), Line("Device    1302\tDevice connected"));
    EXPECT_EQ(lines.filter(QStringLiteral("Starting firmware updating")).size(), 1);
}

TEST_F(Discovery, TheUpdateButtonFindsItsDevice)
{
    sim.Add(SimDevice("1401", Driver::Vendor));
    sim.Add(SimDevice("1402", Driver::Ftdi, Mode::Application));
    Open();  // "Update automatically" is off
    EXPECT_TRUE(Lines().filter(QStringLiteral("Starting firmware updating")).isEmpty());
    NewLines();

    Device(1401)->Panel->UpdateButton->click();
    EXPECT_EQ(NewLines(), QStringList{Line("Device    1401\tStarting firmware updating")});
    // This binary carries no embedded image: the session ends at its load.
    ASSERT_TRUE(WaitFor([&] { return !Device(1401)->Writer; }));
    NewLines();
    // A device in application mode, and one already being written, start nothing.
    form->UpdateButtonClick(Device(1402)->Panel->UpdateButton);
    FunctionWorker writer(form.get(), {});  // stands in for a session
    Device(1401)->Writer = &writer;
    Device(1401)->Panel->UpdateButton->click();
    Device(1401)->Writer = nullptr;
    EXPECT_TRUE(NewLines().isEmpty());

    form->UpdateButtonClick(form->btnFwLoad);
    EXPECT_EQ(NewLines(), QStringList{Line("Device -------\tDevice object not found")});
    EXPECT_EQ(LineColour(Line("Device -------\tDevice object not found")), kRed);
}

TEST_F(Discovery, AnUnpluggedDeviceBeingWrittenIsAskedToStopAndKept)
{
    sim.Add(SimDevice("1501", Driver::Vendor));
    Open();
    TDevEntry* device = Device(1501);
    ASSERT_NE(device, nullptr);
    // Stands in for a session: runs until asked to stop.
    FunctionWorker writer(form.get(), [](FunctionWorker& w) {
        while (!w.StopRequested()) QThread::msleep(5);
    });
    writer.start();
    const auto stopWriter = qScopeGuard([&] {
        writer.RequestStop();
        WaitFor([&] { return writer.isFinished(); });
    });
    {
        std::lock_guard<std::recursive_mutex> lock(form->DeviceListLock);
        device->Writer = &writer;
    }
    NewLines();

    sim.Unplug("1501");
    Notify();
    EXPECT_TRUE(writer.StopRequested());
    EXPECT_TRUE(device->Detached);
    EXPECT_EQ(Device(1501), device);  // kept while the session runs
    EXPECT_TRUE(NewLines().isEmpty());

    ASSERT_TRUE(WaitFor([&] { return writer.isFinished(); }));
    {
        std::lock_guard<std::recursive_mutex> lock(form->DeviceListLock);
        device->Writer = nullptr;
    }
    Notify();
    EXPECT_EQ(NewLines(), QStringList{Line("Device    1501\tDevice disconnected")});
    EXPECT_EQ(Device(1501), nullptr);
}

// ---- A window that closes while a pass runs ----

class ClosingWindow : public Discovery {
protected:
    QStringList closingLines;  // logged while the window closed

    void CloseRecordingLines()
    {
        // The form pointer reads null while the window is destroyed: keep the document's.
        QTextDocument* log = form->reLog->document();
        QObject::connect(log, &QTextDocument::contentsChanged, form.get(),
                         [this, log] { closingLines << log->lastBlock().text(); });
        Close();
    }
    // Creates the window and starts a pass at once, without the event loop: nothing serves the
    // pass until the test says so.
    void CreateAndStartPass()
    {
        Create();
        form->DevTimer->stop();
        form->StartScan();
        ASSERT_NE(form->CurrentScan, nullptr);
    }
};

TEST_F(ClosingWindow, DuringAnExchangeThePassStopsAfterIt)
{
    gxsim::DeviceSetup slow = SimDevice("6001", Driver::Vendor);
    slow.Faults = {"silent cmd=4"};
    slow.ReadWaitMs = 3000;  // the command 4 read waits this long
    sim.Add(slow);
    CreateAndStartPass();
    ASSERT_TRUE(WaitUnserved([&] { return !Packets("6001").empty(); }));
    CloseRecordingLines();
    // Stopped after command 4: no "FL_READ_VERSION$", and the channel closed.
    EXPECT_TRUE(TextCommands("6001").empty());
    EXPECT_EQ(sim.Journal("6001").back().Kind, "close");
    EXPECT_TRUE(closingLines.isEmpty());
}

TEST_F(ClosingWindow, ASilentApplicationIsNotAskedForItsVersionAgain)
{
    // Each "FL_READ_VERSION$" waits 2 s for a reply that never comes, up to four times: a
    // closing window cuts the read short and sends no further attempt.
    gxsim::DeviceSetup silent = SimDevice("6301", Driver::Ftdi, gxsim::Mode::Application);
    silent.Faults = {"silent cmd=read_version"};
    sim.Add(silent);
    CreateAndStartPass();
    ASSERT_TRUE(WaitUnserved([&] { return !TextCommands("6301").empty(); }));
    CloseRecordingLines();
    EXPECT_EQ(TextCommands("6301"), std::vector<std::string>{"FL_READ_VERSION$"});
    EXPECT_EQ(sim.Journal("6301").back().Kind, "close");
    EXPECT_TRUE(closingLines.isEmpty());
}

TEST_F(ClosingWindow, WhileThePassWaitsForALogLineTheLineIsServed)
{
    sim.SetLibrary([](gxsim::LibrarySetup& l) { l.VendorCountFails = true; });
    sim.Add(SimDevice("6101", Driver::Ftdi));
    CreateAndStartPass();
    ASSERT_TRUE(WaitUnserved([] { return PendingWindowThreadCalls() > 0; }));
    CloseRecordingLines();
    EXPECT_EQ(closingLines, QStringList{Line("Device -------\tDriver error")});
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
    // The pass ended after its enumeration: the device it found was never opened.
    EXPECT_TRUE(sim.Journal("6101").empty());
}

TEST_F(ClosingWindow, WhileThePassWaitsForScanFinishedNothingIsAdded)
{
    sim.Add(SimDevice("6201", Driver::Vendor));
    CreateAndStartPass();
    ASSERT_TRUE(WaitUnserved([&] {
        const std::vector<gxsim::JournalEntry> journal = sim.Journal("6201");
        return !journal.empty() && journal.back().Kind == "close";
    }));
    QThread::msleep(50);  // the pass hands ScanFinished over and waits
    EXPECT_TRUE(form->DeviceList.empty());
    CloseRecordingLines();
    EXPECT_TRUE(closingLines.isEmpty());
}

}  // namespace
