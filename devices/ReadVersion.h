#pragma once
// One scan pass on its own worker thread: enumerate both driver libraries, reconcile the result
// with the window's DeviceList, identify each new device, then hand the result to the window
// thread (ScanFinished, the termination handler) and wait until it has been taken.

#include "devices/DeviceList.h"
#include "devices/IdentifyContext.h"
#include "devices/WorkerHost.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

// FTDI lists that still miss a description are read again, this often, this far apart.
inline constexpr int kFtdiListAttempts = 50;
inline constexpr unsigned long kFtdiListRetryMs = 100;
// The product description of the FTDI devices the loader serves; exact, case-sensitive.
inline constexpr const char* kProductDescription = "Geotrovix";

// A device the pass found and does not add: its identification failed (it did not open, or
// answered no version query), or another device of its library already has its serial text.
struct TRejectedDevice {
    TDeviceKey Key;
    int32_t SerialNumber = 0;
    int32_t ScanError = kScanOk;  // kScanOpenFailed, kScanNoAnswer or kScanDuplicateSerial
    int32_t LastReplyCode = 0;    // of its own identification
};

class TReadVersion : public TWorkerThread {
public:
    // host: the window whose DeviceList the pass reconciles and which runs ScanFinished.
    // identify: what the pass runs for each new device.
    TReadVersion(TWorkerHost& host, IdentifyFunction identify);
    ~TReadVersion() override;

    // StartTick and the pending log line (Log) are the worker's own.
    // Filled by the enumeration; after the reconciliation only the new devices remain. Touched
    // only by this thread, and by the window thread while this one waits for ScanFinished.
    TDeviceList FoundDevices;
    TDeviceList* DeviceList = nullptr;  // the window's, taken when the pass starts
    // The first code a new device's identification ended with; 0 when all went well. Each device
    // is judged on its own: one that fails goes to Rejected, and the others are added.
    int32_t ScanError = kScanOk;
    std::vector<TRejectedDevice> Rejected;
    // What the enumeration listed, every device by its key, in driver order.
    std::vector<TDeviceKey> Listed;
    // A library's list was read whole this pass (or the library is not bound: it has no devices).
    // A list that failed or stayed incomplete says nothing about that library's devices: none of
    // them is taken for gone.
    bool FtdiListComplete = false;
    bool VendorListComplete = false;
    bool ListComplete(int32_t driverKind) const
    {
        return driverKind == FtdiDriver ? FtdiListComplete : VendorListComplete;
    }
    // Status of the last reply of at least 14 bytes with HeaderLength 14 that the pass received;
    // 0 when none came.
    int32_t LastReplyCode = 0;
    int32_t ElapsedMs = 0;

    // Append a new record per device found; a failing list call logs message 37. An FTDI node
    // that another program holds open (flagged open, its description empty) is none of ours.
    void EnumerateFtdiDevices(TDeviceList& list);
    void EnumerateVendorDevices(TDeviceList& list);

    TWorkerHost& Host() const { return host_; }

protected:
    // The pass: enumeration, reconciliation, identification. Every step checks whether the
    // window asked the pass to stop (the window closes) and ends it early if so.
    void Execute() override;
    // ScanFinished, unless the pass was asked to stop: its devices are then only freed.
    void OnTerminate() override;
    // An error outside the guarded steps: logged as one of them would be (message 36).
    void BodyRaised(std::exception_ptr error) override;

private:
    void Reconcile();
    void IdentifyNewDevices();
    // Closes whatever channel a found record may still hold, then frees the records.
    void ReleaseFoundDevices();

    TWorkerHost& host_;
    const IdentifyFunction identify_;
};

// For the scan thread: formats into a buffer of (format length + 5000) characters, puts the line
// into the pass's slot and hands it over; returns once the window thread has logged it. device is
// the device's SerialNumber, or 0 for the search as a whole.
void ReaderLog(TReadVersion& scan, int kind, int32_t device, const QString& format,
               std::initializer_list<LogArg> args = {});

// Runs one step of a pass. An exception ends the step and is logged through the pass with kind
// Error and no device number, as message 36 with the exception's text. Anything the step holds (a
// lock) is released before the line is handed over.
void GuardedScanStep(TReadVersion& scan, const std::function<void()>& step);
