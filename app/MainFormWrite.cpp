// The window's side of the firmware write session.

#include "app/Language.h"
#include "app/MainForm.h"
#include "sessions/DevicePanel.h"

#include <QPushButton>

void TMainForm::UpdateButtonClick(QObject* sender)
{
    TDevEntry* device = nullptr;
    bool start = false;
    {
        std::lock_guard<std::recursive_mutex> lock(DeviceListLock);
        for (const std::unique_ptr<TDevEntry>& entry : DeviceList) {
            if (entry->Panel && entry->Panel->UpdateButton == sender) {
                device = entry.get();
                break;
            }
        }
        start = device && device->InBootloader && !device->Writer;
    }
    if (!device) {
        AddLog(Error, Msg(14));
        return;
    }
    if (!start) return;
    // The write session itself (StartFirmwareWrite: its thread, the record's Writer, the
    // disabled button and the status text) is not built yet; so far the press only reports the
    // start, with the line the session begins with.
    AddDeviceLog(Normal, device->SerialNumber, Msg(15));
}
