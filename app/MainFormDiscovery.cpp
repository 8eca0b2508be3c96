// The window's side of device discovery.

#include "app/MainForm.h"

#include "platform/OutsideMessages.h"

#include <QTimer>

void TMainForm::WMDeviceChange(quint64 wParam)
{
    if (wParam != kDevNodesChanged) return;
    DevTimer->stop();
    DevTimer->start();
}
