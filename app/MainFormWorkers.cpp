// The window as the host of its worker threads, and stopping them all when it closes.

#include "app/MainForm.h"

#include <QTimer>

void TMainForm::WorkerLog(int kind, int32_t device, const QString& text)
{
    AddDeviceLogText(kind, device, text);
}

void TMainForm::StopWorkers()
{
    DevTimer->stop();
    scanRequestedWhileRunning_ = false;
    // Every worker still here, running or ended and not yet freed: each is asked to stop and
    // awaited while its hand-overs are served. What a served call raises goes to ReportError.
    Workers.StopAll();
    CurrentScan = nullptr;
}
