// The window's side of device discovery: the trigger, the start of a pass, what a finished pass
// changes in DeviceList and on screen, and stopping a pass when the window closes.

#include "app/Language.h"
#include "app/LoaderTexts.h"
#include "app/MainForm.h"
#include "devices/Channel.h"
#include "devices/ReadVersion.h"
#include "devices/Text8.h"
#include "platform/OutsideMessages.h"
#include "platform/ScopeExit.h"
#include "sessions/DevicePanel.h"
#include "sessions/Identification.h"

#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kDevPanelHeightPerDevice = 96;
}  // namespace

void TMainForm::SetUpDiscovery()
{
    connect(DevTimer, &QTimer::timeout, this, &TMainForm::DevTimerTimer);
    connect(RescanTimer, &QTimer::timeout, this, &TMainForm::RescanTimerTimer);
}

void TMainForm::WMDeviceChange(quint64 wParam)
{
    if (wParam != kDevNodesChanged) return;
    DevTimer->stop();
    DevTimer->start();
}

void TMainForm::DevTimerTimer()
{
    // The first firing may come before the show sequence has bound the driver libraries (it runs
    // from the event loop once the window is up): the timer then simply fires again.
    if (RunsShowAndCloseSequences && !driversBound_) return;
    DevTimer->stop();
    StartScan();
}

void TMainForm::RescanTimerTimer()
{
    RescanTimer->stop();
}

void TMainForm::StartScan()
{
    if (Workers.Closed()) return;
    if (CurrentScan) {
        // Seen once the pass has finished: a device plugged in meanwhile is not lost.
        scanRequestedWhileRunning_ = true;
        return;
    }
    auto scan = std::make_unique<TReadVersion>(*this, IdentifyDevice);
    TReadVersion* started = scan.get();
    // The registry keeps it until it has ended; it frees itself then.
    if (Workers.Start(std::move(scan), QThread::NormalPriority)) CurrentScan = started;
}

void TMainForm::ScanFinished(TReadVersion& scan)
{
    // A pass that finishes while the window closes changes nothing: its devices are freed.
    if (scan.StopRequested()) return;
    const ScopeExit clear([this] {
        CurrentScan = nullptr;
        // A request refused while the pass ran: one more pass, 100 ms from now.
        if (scanRequestedWhileRunning_ && !Workers.Closed()) {
            scanRequestedWhileRunning_ = false;
            DevTimer->start();
        }
    });

    {
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        for (auto it = DeviceList.begin(); it != DeviceList.end();) {
            TDevEntry& device = **it;
            // A device still being written goes when its session ends.
            if (!device.Detached || device.Writer) {
                ++it;
                continue;
            }
            AddDeviceLog(Normal, device.SerialNumber, Msg(6));
            ChannelClose(device);
            it = DeviceList.erase(it);  // its panel goes with it
        }

        ReportRejectedDevices(scan);

        for (std::unique_ptr<TDevEntry>& found : scan.FoundDevices) {
            TDevEntry& device = *found;
            const int32_t number = device.SerialNumber;
            AddDeviceLog(Normal, number, Msg(7));
            // Shown at last: a failure of its identification, once reported, is over.
            const auto reported = reportedRejections_.find(KeyOf(device));
            if (reported != reportedRejections_.end() && reported->second != kScanDuplicateSerial)
                reportedRejections_.erase(reported);
            DeviceList.push_back(std::move(found));
            TFWLoaderDevGroup& panel = CreateDevicePanel(device);
            QPushButton* button = panel.UpdateButton;
            button->setEnabled(device.InBootloader);
            connect(button, &QPushButton::clicked, this,
                    [this, button] { UpdateButtonClick(button); });
            AddDeviceLog(Normal, number, Msg(8), {FormatVersion(device.FirmwareVersion)});
            // The bootloader line carries no device number.
            if (device.InBootloader)
                AddLog(Normal, Msg(9), {FormatVersion(device.BootloaderVersion)});
            AddDeviceLog(Normal, number, Msg(10), {device.ProcessorId});
            AddDeviceLog(Normal, number, Msg(device.InBootloader ? 12 : 11));
            if (!device.InBootloader && device.BootloaderStarted)
                ShowDeviceStatus(device, Msg(13), Success);
            if (device.InBootloader && cbAutoWrite->isChecked()) button->click();
        }
        scan.FoundDevices.clear();
    }

    UpdateDevPanelHeight();
}

void TMainForm::ReportRejectedDevices(const TReadVersion& scan)
{
    // A device is told about once per plug-in, not at every pass: what a complete list no longer
    // shows is forgotten, and a duplicate once its key is listed only once.
    for (auto it = reportedRejections_.begin(); it != reportedRejections_.end();) {
        const auto listed = std::count(scan.Listed.begin(), scan.Listed.end(), it->first);
        const bool gone = it->second == kScanDuplicateSerial ? listed < 2 : listed == 0;
        if (scan.ListComplete(it->first.DriverKind) && gone)
            it = reportedRejections_.erase(it);
        else
            ++it;
    }
    for (const TRejectedDevice& rejected : scan.Rejected) {
        if (!reportedRejections_.emplace(rejected.Key, rejected.ScanError).second) continue;
        const QString serial = DecodeText8(rejected.Key.SerialText);
        if (rejected.ScanError == kScanDuplicateSerial) {
            AddDeviceLog(Error, rejected.SerialNumber, LoaderText(LoaderTextId::DuplicateSerial),
                         {serial});
            continue;
        }
        // Message 5 under the device's own prefix, with its serial text as listed.
        AddDeviceLogText(
            Error, rejected.SerialNumber,
            FormatLogText(Msg(5), {scan.ElapsedMs, rejected.ScanError, rejected.LastReplyCode}) +
                FormatLogText(LoaderText(LoaderTextId::SerialTextSuffix), {serial}));
    }
}

void TMainForm::UpdateDevPanelHeight()
{
    const int count = static_cast<int>(DeviceList.size());
    DevPanel->setMinimumHeight(count ? count * kDevPanelHeightPerDevice : kDevPanelMinimumHeight);
}
