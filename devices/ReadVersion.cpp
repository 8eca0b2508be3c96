#include "devices/ReadVersion.h"

#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/MainForm.h"
#include "app/WindowThreadCall.h"
#include "devices/Channel.h"
#include "devices/DriverLists.h"
#include "devices/Ticks.h"
#include "sessions/Identification.h"
#include "sessions/WriteProcess.h"

#include <algorithm>
#include <mutex>

namespace {
QString Msg(int n)
{
    return MessageText(CurrentLanguage, n);
}
}  // namespace

QString ExceptionText(std::exception_ptr error)
{
    try {
        if (error) std::rethrow_exception(error);
    } catch (const LoaderError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    return QString();
}

void GuardedScanStep(LogSlot& slot, const std::function<void()>& step)
{
    std::exception_ptr error;
    try {
        step();
    } catch (...) {
        // The step's own scope has unwound by now: a lock it held is free again.
        error = std::current_exception();
    }
    if (error) ReaderLog(slot, Error, 0, Msg(36), {ExceptionText(error)});
}

TReadVersion::TReadVersion(TMainForm& form) : QThread(&form), form_(form) {}

TReadVersion::~TReadVersion()
{
    ReleaseFoundDevices();
}

void TReadVersion::run()
{
    Execute();
    // Like a thread's termination handler: ScanFinished runs on the window thread while this
    // thread waits. A closing window serves the call while it waits for the pass; a pass asked to
    // stop skips it.
    if (!StopRequested()) RunOnWindowThread(&form_, [this] { form_.ScanFinished(*this); });
    // What ScanFinished did not take: a failed or stopped pass's devices.
    ReleaseFoundDevices();
}

void TReadVersion::Execute()
{
    ScanError = kScanOk;
    LastReplyCode = 0;
    StartTick = TickCount();
    DeviceList = &form_.DeviceList;

    // One step: after an error in the FTDI enumeration the vendor one is skipped.
    GuardedScanStep(Log, [this] {
        EnumerateFtdiDevices(FoundDevices);
        if (!StopRequested()) EnumerateVendorDevices(FoundDevices);
    });
    if (!StopRequested()) GuardedScanStep(Log, [this] { Reconcile(); });
    if (!StopRequested()) GuardedScanStep(Log, [this] { IdentifyNewDevices(); });
    ElapsedMs = static_cast<int32_t>(TicksSince(StartTick));
}

void TReadVersion::EnumerateFtdiDevices(TDeviceList& list)
{
    std::vector<FtdiListEntry> entries;
    for (int attempt = 0; attempt < kFtdiListAttempts; ++attempt) {
        if (StopRequested()) return;
        const DriverListResult result = ReadFtdiDeviceList(entries);
        if (result == DriverListResult::NotBound) return;
        if (result == DriverListResult::DriverError) {
            ReaderLog(Log, Error, 0, Msg(37));
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
        ReaderLog(Log, Error, 0, Msg(37));
        return;
    }
    for (const VendorListEntry& e : entries)
        list.push_back(std::make_unique<TDevEntry>(e.Serial, e.DeviceCode, VendorDriver));
}

void TReadVersion::Reconcile()
{
    // Nothing in here logs or waits for another thread: the lock is held only for this.
    std::lock_guard<std::recursive_mutex> lock(form_.DeviceListLock);
    for (const std::unique_ptr<TDevEntry>& known : *DeviceList) {
        if (FindDeviceBySerial(FoundDevices, known->SerialNumber)) {
            RemoveDeviceBySerial(FoundDevices, known->SerialNumber);
        } else {
            // Gone. A session writing it stops at its next check; the record goes when the
            // session ends, or with the next successful pass when there is none.
            if (known->Writer) known->Writer->requestInterruption();
            known->Detached = true;
        }
    }
}

void TReadVersion::IdentifyNewDevices()
{
    for (const std::unique_ptr<TDevEntry>& device : FoundDevices) {
        if (StopRequested()) return;
        IdentifyDevice(*this, *device);
    }
}

void TReadVersion::NoteReply(const ReplyCode& reply)
{
    if (reply) LastReplyCode = *reply;
}

void TReadVersion::ReleaseFoundDevices()
{
    for (std::unique_ptr<TDevEntry>& device : FoundDevices)
        if (device) ChannelClose(*device);
    FoundDevices.clear();
}
