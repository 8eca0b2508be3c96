#include "app/LogHandOver.h"

#include "app/MainForm.h"
#include "app/WindowThreadCall.h"
#include "devices/Structs.h"

namespace {
int32_t Number(const TDevEntry* device)
{
    return device ? device->SerialNumber : 0;
}

// Logs the filled slot on the window thread and returns once it is in the log.
void HandOver(LogSlot& slot, const TDevEntry* device, bool numberFromDevice)
{
    TMainForm* form = MainForm;
    if (!form) return;  // no window (start-up or shut-down): nowhere to log
    RunOnWindowThread(form, [&] {
        form->AddDeviceLogText(slot.Kind, numberFromDevice ? Number(device) : slot.Device,
                               slot.Text);
    });
}
}  // namespace

void ReaderLog(LogSlot& slot, int kind, int32_t device, const QString& format,
               std::initializer_list<LogArg> args)
{
    slot.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    slot.Kind = kind;
    slot.Device = device;
    HandOver(slot, nullptr, false);
}

void WriterLog(LogSlot& slot, const TDevEntry* device, int kind, const QString& format,
               std::initializer_list<LogArg> args)
{
    slot.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    slot.Kind = kind;
    slot.Device = 0;
    HandOver(slot, device, true);
}

void WriterLog(LogSlot& slot, const TDevEntry& device, int kind, const QString& format,
               std::initializer_list<LogArg> args)
{
    WriterLog(slot, &device, kind, format, args);
}
