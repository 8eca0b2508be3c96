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

// FTDI lists that still miss a description are read again, this often, this far apart.
inline constexpr int kFtdiListAttempts = 50;
inline constexpr unsigned long kFtdiListRetryMs = 100;
// The product description of the FTDI devices the loader serves; exact, case-sensitive.
inline constexpr const char* kProductDescription = "Geotrovix";

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
    int32_t ScanError = kScanOk;
    // Status of the last reply of at least 14 bytes with HeaderLength 14 that the pass received;
    // 0 when none came.
    int32_t LastReplyCode = 0;
    int32_t ElapsedMs = 0;

    // Append a new record per device found; a failing list call logs message 37.
    void EnumerateFtdiDevices(TDeviceList& list);
    void EnumerateVendorDevices(TDeviceList& list);

    TWorkerHost& Host() const { return host_; }

protected:
    // The pass: enumeration, reconciliation, identification. Every step checks whether the
    // window asked the pass to stop (the window closes) and ends it early if so.
    void Execute() override;
    // ScanFinished, unless the pass was asked to stop: its devices are then only freed.
    void OnTerminate() override;

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
