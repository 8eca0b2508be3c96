#include "devices/ReadVersion.h"

#include "app/Language.h"
#include "app/LoaderError.h"
#include "devices/Channel.h"
#include "devices/DriverLists.h"
#include "platform/Ticks.h"

#include <algorithm>
#include <mutex>

void ReaderLog(TReadVersion& scan, int kind, int32_t device, const QString& format,
               std::initializer_list<LogArg> args)
{
    scan.Log.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    scan.Log.Kind = kind;
    scan.Log.Device = device;
    HandOverLogLine(scan, scan.Host());
}

void GuardedScanStep(TReadVersion& scan, const std::function<void()>& step)
{
    std::exception_ptr error;
    try {
        step();
    } catch (...) {
        // The step's own scope has unwound by now: a lock it held is free again.
        error = std::current_exception();
    }
    if (error) ReaderLog(scan, Error, 0, Msg(36), {ExceptionText(error)});
}

TReadVersion::TReadVersion(TWorkerHost& host, IdentifyFunction identify)
    : TWorkerThread(host.WindowThreadObject()), host_(host), identify_(std::move(identify))
{
}

TReadVersion::~TReadVersion()
{
    wait();  // before the records it may still use go
    ReleaseFoundDevices();
}

void TReadVersion::Execute()
{
    ScanError = kScanOk;
    LastReplyCode = 0;
    StartTick = TickCount();
    DeviceList = &host_.SharedDeviceList();

    // One step: after an error in the FTDI enumeration the vendor one is skipped.
    GuardedScanStep(*this, [this] {
        EnumerateFtdiDevices(FoundDevices);
        if (!StopRequested()) EnumerateVendorDevices(FoundDevices);
    });
    if (!StopRequested()) GuardedScanStep(*this, [this] { Reconcile(); });
    if (!StopRequested()) GuardedScanStep(*this, [this] { IdentifyNewDevices(); });
    ElapsedMs = static_cast<int32_t>(TicksSince(StartTick));
}

void TReadVersion::OnTerminate()
{
    if (!StopRequested()) host_.ScanFinished(*this);
    // What ScanFinished did not take (a failed or stopped pass's devices) goes with the object.
}

void TReadVersion::EnumerateFtdiDevices(TDeviceList& list)
{
    std::vector<FtdiListEntry> entries;
    for (int attempt = 0; attempt < kFtdiListAttempts; ++attempt) {
        if (StopRequested()) return;
        const DriverListResult result = ReadFtdiDeviceList(entries);
        if (result == DriverListResult::NotBound) return;
        if (result == DriverListResult::DriverError) {
            ReaderLog(*this, Error, 0, Msg(37));
            return;
        }
        // A driver that has not read a device's description yet reports it empty.
        const bool complete =
            std::none_of(entries.begin(), entries.end(),
                         [](const FtdiListEntry& e) { return e.Description.empty(); });
        if (complete) {
            for (const FtdiListEntry& e : entries)
                if (e.Description == kProductDescription)
                    list.push_back(std::make_unique<TDevEntry>(e.Serial, 0xFFFF, FtdiDriver));
            return;
        }
        QThread::msleep(kFtdiListRetryMs);
    }
    // Still incomplete: no FTDI devices in this pass, and nothing to report.
}

void TReadVersion::EnumerateVendorDevices(TDeviceList& list)
{
    std::vector<VendorListEntry> entries;
    const DriverListResult result = ReadVendorDeviceList(entries);
    if (result == DriverListResult::NotBound) return;
    if (result == DriverListResult::DriverError) {
        ReaderLog(*this, Error, 0, Msg(37));
        return;
    }
    for (const VendorListEntry& e : entries)
        list.push_back(std::make_unique<TDevEntry>(e.Serial, e.DeviceCode, VendorDriver));
}

void TReadVersion::Reconcile()
{
    // Nothing in here logs or waits for another thread: the lock is held only for this.
    std::lock_guard<std::recursive_mutex> lock(host_.SharedDeviceListLock());
    for (const std::unique_ptr<TDevEntry>& known : *DeviceList) {
        if (FindDeviceBySerial(FoundDevices, known->SerialNumber)) {
            RemoveDeviceBySerial(FoundDevices, known->SerialNumber);
        } else {
            // Gone. A session writing it stops at its next check; the record goes when the
            // session ends, or with the next successful pass when there is none.
            if (known->Writer) known->Writer->RequestStop();
            known->Detached = true;
        }
    }
}

void TReadVersion::IdentifyNewDevices()
{
    TIdentifyContext context{[this](int kind, int32_t device, const QString& format,
                                    std::initializer_list<LogArg> args) {
                                 ReaderLog(*this, kind, device, format, args);
                             },
                             [this] { return StopRequested(); }, ScanError, LastReplyCode};
    for (const std::unique_ptr<TDevEntry>& device : FoundDevices) {
        if (StopRequested()) return;
        if (identify_) identify_(context, *device);
    }
}

void TReadVersion::ReleaseFoundDevices()
{
    for (std::unique_ptr<TDevEntry>& device : FoundDevices)
        if (device) ChannelClose(*device);
    FoundDevices.clear();
}
