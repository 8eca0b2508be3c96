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
    FtdiListComplete = VendorListComplete = false;
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

void TReadVersion::BodyRaised(std::exception_ptr error)
{
    ReaderLog(*this, Error, 0, Msg(36), {ExceptionText(error)});
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
        if (result == DriverListResult::NotBound) {
            FtdiListComplete = true;  // no FTDI devices to speak of
            return;
        }
        if (result == DriverListResult::DriverError) {
            ReaderLog(*this, Error, 0, Msg(37));
            return;
        }
        // A node another program holds open shows only its flag: it is someone else's device,
        // not one whose description the driver has yet to read.
        const auto foreign = [](const FtdiListEntry& e) {
            return (e.Flags & FT_FLAGS_OPENED) != 0 && e.Description.empty();
        };
        const bool complete = std::none_of(
            entries.begin(), entries.end(),
            [&](const FtdiListEntry& e) { return e.Description.empty() && !foreign(e); });
        if (complete) {
            for (const FtdiListEntry& e : entries) {
                if (foreign(e) || e.Description != kProductDescription) continue;
                list.push_back(std::make_unique<TDevEntry>(e.Serial, 0xFFFF, FtdiDriver));
                Listed.push_back(KeyOf(*list.back()));
            }
            FtdiListComplete = true;
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
    if (result == DriverListResult::NotBound) {
        VendorListComplete = true;
        return;
    }
    if (result == DriverListResult::DriverError) {
        ReaderLog(*this, Error, 0, Msg(37));
        return;
    }
    for (const VendorListEntry& e : entries) {
        list.push_back(std::make_unique<TDevEntry>(e.Serial, e.DeviceCode, VendorDriver));
        Listed.push_back(KeyOf(*list.back()));
    }
    VendorListComplete = true;
}

void TReadVersion::Reconcile()
{
    {
        // Nothing in here logs or waits for another thread: the lock is held only for this.
        std::lock_guard<std::recursive_mutex> lock(host_.SharedDeviceListLock());
        for (const std::unique_ptr<TDevEntry>& known : *DeviceList) {
            // A library whose list this pass could not read says nothing of its devices.
            if (!ListComplete(known->DriverKind)) continue;
            const TDeviceKey key = KeyOf(*known);
            const auto found = std::find_if(
                FoundDevices.begin(), FoundDevices.end(),
                [&key](const std::unique_ptr<TDevEntry>& e) { return KeyOf(*e) == key; });
            if (found != FoundDevices.end()) {
                FoundDevices.erase(found);
            } else {
                // Gone. A session writing it stops at its next check; the record goes when the
                // session ends, or with the next pass when there is none.
                if (known->Writer) known->Writer->RequestStop();
                known->Detached = true;
            }
        }
        // What is left is new. A second device of a key that is listed already, or that an
        // earlier new device has, is not identified: opening it by its serial text might reach
        // the other one, even one that is being written.
        for (auto it = FoundDevices.begin(); it != FoundDevices.end();) {
            const TDeviceKey key = KeyOf(**it);
            const bool listed = FindDevice(*DeviceList, key) != nullptr;
            const bool earlier = std::any_of(FoundDevices.begin(), it,
                                             [&key](const auto& e) { return KeyOf(*e) == key; });
            if (!listed && !earlier) {
                ++it;
                continue;
            }
            Rejected.push_back({key, (*it)->SerialNumber, kScanDuplicateSerial, 0});
            it = FoundDevices.erase(it);
        }
    }
}

void TReadVersion::IdentifyNewDevices()
{
    for (auto it = FoundDevices.begin(); it != FoundDevices.end();) {
        if (StopRequested()) return;
        TDevEntry& device = **it;
        // Each device is judged on its own: one that fails does not hold back the others.
        int32_t error = kScanOk;
        int32_t lastReply = -1;  // none yet
        TIdentifyContext context{[this](int kind, int32_t number, const QString& format,
                                        std::initializer_list<LogArg> args) {
                                     ReaderLog(*this, kind, number, format, args);
                                 },
                                 [this] { return StopRequested(); }, error, lastReply};
        if (identify_) identify_(context, device);
        if (lastReply >= 0) LastReplyCode = lastReply;
        if (error == kScanOk) {
            ++it;
            continue;
        }
        if (ScanError == kScanOk) ScanError = error;
        Rejected.push_back({KeyOf(device), device.SerialNumber, error, std::max(lastReply, 0)});
        ChannelClose(device);
        it = FoundDevices.erase(it);
    }
}

void TReadVersion::ReleaseFoundDevices()
{
    for (std::unique_ptr<TDevEntry>& device : FoundDevices)
        if (device) ChannelClose(*device);
    FoundDevices.clear();
}
