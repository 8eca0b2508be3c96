// The window's side of device discovery: the trigger, the start of a pass, what a finished pass
// changes in DeviceList and on screen, and stopping a pass when the window closes.

#include "app/Language.h"
#include "app/MainForm.h"
#include "app/WindowThreadCall.h"
#include "devices/Channel.h"
#include "devices/ReadVersion.h"
#include "devices/ScopeExit.h"
#include "platform/OutsideMessages.h"
#include "sessions/DevicePanel.h"

#include <QDeadlineTimer>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int kDevPanelHeightPerDevice = 96;

QString Msg(int n)
{
    return MessageText(CurrentLanguage, n);
}
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
    if (CurrentScan || workersStopped_) return;
    // Owned by this window as its child; it frees itself once the thread has ended.
    auto* scan = new TReadVersion(*this);
    CurrentScan = scan;
    connect(scan, &QThread::finished, scan, &QObject::deleteLater);
    scan->start(QThread::NormalPriority);
}

void TMainForm::ScanFinished(TReadVersion& scan)
{
    // A pass that finishes while the window closes changes nothing: its devices are freed.
    if (scan.StopRequested()) return;
    const ScopeExit clear([this] { CurrentScan = nullptr; });

    if (scan.ScanError != kScanOk) {
        // The new devices are discarded; detached records stay until a pass succeeds.
        AddDeviceLog(Error, 0, Msg(5), {scan.ElapsedMs, scan.ScanError, scan.LastReplyCode});
        return;
    }

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

        for (std::unique_ptr<TDevEntry>& found : scan.FoundDevices) {
            TDevEntry& device = *found;
            const int32_t number = device.SerialNumber;
            AddDeviceLog(Normal, number, Msg(7));
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

    const int count = static_cast<int>(DeviceList.size());
    DevPanel->setMinimumHeight(count ? count * kDevPanelHeightPerDevice : kDevPanelMinimumHeight);
}

void TMainForm::StopWorkers()
{
    workersStopped_ = true;
    DevTimer->stop();
    // Every pass object still here: the one running and any that ended and waits to be freed.
    const QList<TReadVersion*> scans = findChildren<TReadVersion*>(Qt::FindDirectChildrenOnly);
    for (TReadVersion* scan : scans) scan->requestInterruption();
    for (TReadVersion* scan : scans) {
        // A pass may be waiting for this thread: for a log line, or for ScanFinished (which
        // returns at once now). Serve it while waiting, in short slices.
        while (!scan->wait(QDeadlineTimer(10))) ServeWindowThreadCalls(this);
        delete scan;
    }
    CurrentScan = nullptr;
}
