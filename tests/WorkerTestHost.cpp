#include "tests/WorkerTestHost.h"

#include "app/LogFormat.h"
#include "platform/WindowThreadCall.h"
#include "sessions/Identification.h"
#include "sessions/WriteProcess.h"
#include "tests/TestSupport.h"

TestWorkerHost::TestWorkerHost() : window_(std::make_unique<QObject>())
{
    InstallWindowThreadCalls(window_.get());
    Workers = std::make_unique<WorkerRegistry>(window_.get());
}

TestWorkerHost::~TestWorkerHost()
{
    if (Workers) Workers->StopAll();
    Workers.reset();
}

void TestWorkerHost::WorkerLog(int kind, int32_t device, const QString& text)
{
    Lines << LogLinePrefix(device) + text;
    Kinds.push_back(kind);
    if (OnLog) OnLog();
}

void TestWorkerHost::ScanFinished(TReadVersion& scan)
{
    ++ScanFinishedCalls;
    ScanError = scan.ScanError;
    LastReplyCode = scan.LastReplyCode;
    Rejected = scan.Rejected;
    FtdiListComplete = scan.FtdiListComplete;
    VendorListComplete = scan.VendorListComplete;
    for (std::unique_ptr<TDevEntry>& device : scan.FoundDevices) Found.push_back(std::move(device));
    scan.FoundDevices.clear();
}

bool TestWorkerHost::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    return Load ? Load(blocks, version) : false;
}

void TestWorkerHost::WriteFinished(TWriteThread& session)
{
    Sessions.push_back({session.Device, session.ErrorCode, session.LastStatus, session.PartsDone,
                        session.PartsTotal});
    std::lock_guard<std::recursive_mutex> lock(Lock);
    if (session.Device->Writer == &session) session.Device->Writer = nullptr;
}

void TestWorkerHost::ShowProgress(TDevEntry&, int position)
{
    Progress.push_back(position);
}

TReadVersion* TestWorkerHost::StartScan()
{
    auto scan = std::make_unique<TReadVersion>(*this, IdentifyDevice);
    TReadVersion* started = scan.get();
    expectedFinished_ = ScanFinishedCalls + 1;
    return Workers->Start(std::move(scan)) ? started : nullptr;
}

bool TestWorkerHost::WaitScanFinished(int timeoutMs)
{
    return WaitFor([&] { return ScanFinishedCalls >= expectedFinished_; }, timeoutMs);
}
