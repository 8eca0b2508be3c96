#pragma once
// One scan pass on its own thread: enumerate both driver libraries, reconcile the result with the
// window's DeviceList, identify each new device, then hand the result to the window thread
// (ScanFinished) and wait until it has been taken. The window frees the thread object once the
// thread has ended.

#include "app/LogHandOver.h"
#include "devices/DeviceList.h"
#include "sessions/BootProtocol.h"

#include <QString>
#include <QThread>

#include <cstdint>
#include <exception>
#include <functional>

class TMainForm;

// Result codes of a pass (ScanError).
inline constexpr int32_t kScanOk = 0;
inline constexpr int32_t kScanOpenFailed = 7;  // a new device's channel did not open
inline constexpr int32_t kScanNoAnswer = 8;    // a new device answered no version query

// FTDI lists that still miss a description are read again, this often, this far apart.
inline constexpr int kFtdiListAttempts = 50;
inline constexpr unsigned long kFtdiListRetryMs = 100;
// The product description of the FTDI devices the loader serves; exact, case-sensitive.
inline constexpr const char* kProductDescription = "Geotrovix";

class TReadVersion : public QThread {
    Q_OBJECT
public:
    // form: the window whose DeviceList the pass reconciles and which runs ScanFinished. The
    // object is the form's child; the form frees it when the thread has ended.
    explicit TReadVersion(TMainForm& form);
    ~TReadVersion() override;

    uint32_t StartTick = 0;
    LogSlot Log;  // the pass's pending log line (ReaderLog)
    // Filled by the enumeration; after the reconciliation only the new devices remain. Touched
    // only by this thread, and by the window thread while this one waits for ScanFinished.
    TDeviceList FoundDevices;
    TDeviceList* DeviceList = nullptr;  // the window's, taken when the pass starts
    int32_t ScanError = kScanOk;
    // Status of the last reply of at least 14 bytes with HeaderLength 14 that the pass received;
    // 0 when none came.
    int32_t LastReplyCode = 0;
    int32_t ElapsedMs = 0;

    // The pass: enumeration, reconciliation, identification. Every step checks whether the
    // window asked the pass to stop (the window closes) and ends it early if so.
    void Execute();
    // Append a new record per device found; a failing list call logs message 37.
    void EnumerateFtdiDevices(TDeviceList& list);
    void EnumerateVendorDevices(TDeviceList& list);

    // The window is closing: the pass ends at its next check, without ScanFinished.
    bool StopRequested() const { return isInterruptionRequested(); }
    // Notes the status of a reply that an exchange received (see LastReplyCode).
    void NoteReply(const ReplyCode& reply);

protected:
    void run() override;

private:
    void Reconcile();
    void IdentifyNewDevices();
    // Closes whatever channel a found record may still hold, then frees the records.
    void ReleaseFoundDevices();

    TMainForm& form_;
};

// The text of a caught exception for message 36: the loader's own message, a standard
// exception's text, or empty for anything else.
QString ExceptionText(std::exception_ptr error);

// Runs one step of a pass. An exception ends the step and is logged through slot with kind Error
// and no device number, as message 36 with the exception's text. Anything the step holds (a
// lock) is released before the line is handed over.
void GuardedScanStep(LogSlot& slot, const std::function<void()>& step);
