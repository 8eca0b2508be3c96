#pragma once
// A plain host for worker threads, without a window: it serves hand-overs on the test's thread
// (the "window thread"), collects the log lines workers hand over, keeps a device list with its
// lock, and records what a scan pass's termination handler is given.

#include "devices/ReadVersion.h"
#include "devices/WorkerHost.h"
#include "firmware/FirmwareBlock.h"
#include "platform/WorkerThread.h"

#include <QObject>
#include <QStringList>

#include <atomic>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TestWorkerHost : public TWorkerHost {
public:
    TestWorkerHost();
    ~TestWorkerHost();

    QObject* WindowThreadObject() override { return window_.get(); }
    void WorkerLog(int kind, int32_t device, const QString& text) override;
    void ScanFinished(TReadVersion& scan) override;
    bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) override;
    void WriteFinished(TWriteThread& session) override;
    void ShowProgress(TDevEntry& device, int position) override;
    bool StartApplicationRequested() const override
    {
        if (OnStartApplicationAsked) OnStartApplicationAsked();
        return StartApplication.load();
    }
    QString FirmwareSource() const override { return QString(); }
    TDeviceList& SharedDeviceList() override { return Devices; }
    std::recursive_mutex& SharedDeviceListLock() override { return Lock; }

    // The window goes: queued and later hand-overs are released without running.
    void DestroyWindow() { window_.reset(); }

    // Starts a scan pass that identifies new devices with IdentifyDevice.
    TReadVersion* StartScan();
    // Waits (serving hand-overs) until the pass's termination handler has run.
    bool WaitScanFinished(int timeoutMs = 60000);

    // Every line handed over, with its prefix, and its kind. OnLog runs as each one arrives.
    QStringList Lines;
    std::function<void()> OnLog;
    std::vector<int> Kinds;
    TDeviceList Devices;
    std::recursive_mutex Lock;

    // What the last ScanFinished was given; its new devices are taken over into Found.
    int ScanFinishedCalls = 0;
    int32_t ScanError = -1;
    int32_t LastReplyCode = -1;
    TDeviceList Found;
    std::vector<TRejectedDevice> Rejected;
    bool FtdiListComplete = false;
    bool VendorListComplete = false;

    // Stands in for the window's LoadFirmware.
    std::function<bool(TFirmwareBlockList&, TFirmwareVersion&)> Load;

    // What the write sessions handed over: each ended session's result, each progress position.
    struct SessionResult {
        const TDevEntry* Device;
        int32_t ErrorCode;
        uint32_t LastStatus;
        int32_t PartsDone;
        int32_t PartsTotal;
    };
    std::vector<SessionResult> Sessions;
    std::vector<int> Progress;
    std::atomic<bool> StartApplication = false;
    // Runs on the session's thread when it asks for "Start application"; may raise.
    std::function<void()> OnStartApplicationAsked;

    std::unique_ptr<WorkerRegistry> Workers;

private:
    std::unique_ptr<QObject> window_;
    int expectedFinished_ = 0;
};

// A worker whose body is a function.
class FunctionWorker : public TWorkerThread {
public:
    FunctionWorker(QObject* window, std::function<void(FunctionWorker&)> body,
                   std::function<void()> onTerminate = {})
        : TWorkerThread(window), body_(std::move(body)), onTerminate_(std::move(onTerminate))
    {
    }

protected:
    void Execute() override
    {
        if (body_) body_(*this);
    }
    void OnTerminate() override
    {
        if (onTerminate_) onTerminate_();
    }

private:
    std::function<void(FunctionWorker&)> body_;
    std::function<void()> onTerminate_;
};
