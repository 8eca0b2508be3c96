#include "fuzz/FuzzWorkerHost.h"

#include "fuzz/FuzzCheck.h"

#include "platform/WindowThreadCall.h"

#include <memory>

QObject* FuzzWorkerHost::WindowThreadObject()
{
    // One for the process, on the thread that runs the inputs; hand-overs from it run at once.
    static const std::unique_ptr<QObject> window = [] {
        auto object = std::make_unique<QObject>();
        InstallWindowThreadCalls(object.get());
        return object;
    }();
    return window.get();
}

void FuzzWorkerHost::WorkerLog(int, int32_t, const QString& text)
{
    GX_FUZZ_CHECK(!text.isEmpty());
    ++LogLines;
}

void FuzzWorkerHost::ScanFinished(TReadVersion&)
{
    FuzzCheckFailed("no scan pass runs here", __FILE__, __LINE__);
}

bool FuzzWorkerHost::LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version)
{
    return Load && Load(blocks, version);
}

void FuzzWorkerHost::WriteFinished(TWriteThread&)
{
    ++Finished;
}

void FuzzWorkerHost::ShowProgress(TDevEntry&, int position)
{
    // The bar only moves forward, and within its range.
    GX_FUZZ_CHECK(position >= 0 && position <= 100);
    GX_FUZZ_CHECK(Progress.empty() || position > Progress.back());
    Progress.push_back(position);
}
