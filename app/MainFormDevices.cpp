// The window's device panels.

#include "app/MainForm.h"

#include "sessions/DevicePanel.h"

namespace {
constexpr int kPanelTopStep = 80;
}

TFWLoaderDevGroup& TMainForm::CreateDevicePanel(TDevEntry& record)
{
    const int top = static_cast<int>(DeviceList.size()) * kPanelTopStep;
    const QString bootloader =
        record.InBootloader ? FormatVersion(record.BootloaderVersion) : QString();
    record.Panel = std::unique_ptr<TFWLoaderDevGroup, PanelDeleter>(
        new TFWLoaderDevGroup(DevPanel, top, QString::number(record.SerialNumber), bootloader,
                              FormatVersion(record.FirmwareVersion)),
        PanelDeleter{&DestroyDevicePanel});
    return *record.Panel;
}

void TMainForm::ShowDeviceStatus(TDevEntry& device, const QString& text, int kind)
{
    if (device.Panel) SetDeviceStatus(*device.Panel, text, kind);
}
