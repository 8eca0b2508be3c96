#pragma once
// The narrow seam between the worker threads and the window. Workers never see the window's own
// type: they reach what they need through this interface, which the window implements and hands
// to every worker it starts. Each hand-over goes to the window thread through the worker's
// HandOver (platform/WorkerThread.h).

#include "devices/DeviceList.h"
#include "devices/Structs.h"

#include <cstdint>
#include <mutex>

class QObject;
class QString;
class TFirmwareBlockList;
class TReadVersion;
class TWorkerThread;
class TWriteThread;

class TWorkerHost {
public:
    // The object whose thread is the window thread: the target of every hand-over.
    virtual QObject* WindowThreadObject() = 0;

    // ---- Window thread only: called inside a worker's hand-over.
    // Logs a worker's finished line: the prefix for device (0 for none) and the text.
    virtual void WorkerLog(int kind, int32_t device, const QString& text) = 0;
    // The termination handler of a scan pass.
    virtual void ScanFinished(TReadVersion& scan) = 0;
    // Fills blocks and version from the selected firmware, as the Read button does; false after
    // logging a failure. May raise (an oversized block).
    virtual bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) = 0;
    // Where LoadFirmware takes the image from now: the image file's path, or empty for the
    // embedded image.
    virtual QString FirmwareSource() const = 0;
    // The termination handler of a write session.
    virtual void WriteFinished(TWriteThread& session) = 0;
    // Moves the progress bar of the device's panel to position (0 to 100).
    virtual void ShowProgress(TDevEntry& device, int position) = 0;

    // ---- Any thread.
    // Whether "Start application" is ticked now: a copy the window keeps for the workers, so that
    // no worker reads a widget.
    virtual bool StartApplicationRequested() const = 0;

    // ---- Any thread, but only while holding SharedDeviceListLock(): the window's DeviceList, its
    // records' Detached flags and their links to the write sessions.
    virtual TDeviceList& SharedDeviceList() = 0;
    virtual std::recursive_mutex& SharedDeviceListLock() = 0;

protected:
    ~TWorkerHost() = default;
};

// Hands the worker's filled log slot to the window thread and returns once it is logged. The
// device number is the slot's, or, when device is given, that record's SerialNumber read on the
// window thread at hand-over time. False when the window is gone and the line was dropped.
bool HandOverLogLine(TWorkerThread& worker, TWorkerHost& host, const TDevEntry* device = nullptr);

// LoadFirmware for a worker, run on the window thread while the worker waits. An error the load
// raises, and a load that never ran because the window is gone, are a failed load: the caller
// reports it by its own result code, so no dialog appears. source, when given, receives the
// FirmwareSource of that same load.
bool LoadFirmwareThroughWindow(TWorkerThread& worker, TWorkerHost& host, TFirmwareBlockList& blocks,
                               TFirmwareVersion& version, QString* source = nullptr);
