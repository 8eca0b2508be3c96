#include "devices/WorkerHost.h"

#include "platform/WorkerThread.h"

#include <QString>

bool HandOverLogLine(TWorkerThread& worker, TWorkerHost& host, const TDevEntry* device)
{
    return worker.HandOver([&] {
        host.WorkerLog(worker.Log.Kind, device ? device->SerialNumber : worker.Log.Device,
                       worker.Log.Text);
    });
}

bool LoadFirmwareThroughWindow(TWorkerThread& worker, TWorkerHost& host, TFirmwareBlockList& blocks,
                               TFirmwareVersion& version, QString* source)
{
    bool loaded = false;
    const bool ran = worker.HandOver([&] {
        try {
            if (source) *source = host.FirmwareSource();
            loaded = host.LoadFirmware(blocks, version);
        } catch (...) {
            loaded = false;
        }
    });
    return ran && loaded;
}
