#pragma once
// A window for worker code without a window: the workers' seam (devices/WorkerHost.h) served on
// the calling thread. A worker's body called directly on that thread hands over at once, so a
// write session runs start to end on the fuzzing thread, with no thread of its own and no event
// loop.

#include "devices/WorkerHost.h"
#include "firmware/FirmwareBlock.h"

#include <QObject>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

class FuzzWorkerHost final : public TWorkerHost {
public:
    FuzzWorkerHost() = default;
    FuzzWorkerHost(const FuzzWorkerHost&) = delete;
    FuzzWorkerHost& operator=(const FuzzWorkerHost&) = delete;

    QObject* WindowThreadObject() override;
    void WorkerLog(int kind, int32_t device, const QString& text) override;
    void ScanFinished(TReadVersion& scan) override;
    bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) override;
    QString FirmwareSource() const override { return QString(); }
    void WriteFinished(TWriteThread& session) override;
    void ShowProgress(TDevEntry& device, int position) override;
    bool StartApplicationRequested() const override { return StartApplication; }
    TDeviceList& SharedDeviceList() override { return devices_; }
    std::recursive_mutex& SharedDeviceListLock() override { return lock_; }

    // Stands in for the window's firmware load.
    std::function<bool(TFirmwareBlockList&, TFirmwareVersion&)> Load;
    bool StartApplication = false;

    int LogLines = 0;
    int Finished = 0;
    std::vector<int> Progress;

private:
    TDeviceList devices_;
    std::recursive_mutex lock_;
};
