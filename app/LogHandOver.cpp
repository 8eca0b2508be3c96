#include "app/LogHandOver.h"

#include "app/MainForm.h"
#include "devices/Structs.h"

#include <QMetaObject>
#include <QThread>
#include <memory>

class LogHandOver {
public:
    // Hands the filled slot to the window thread and returns once it has been logged there.
    static void Run(LogSlot& slot, const TDevEntry* device, bool numberFromDevice)
    {
        TMainForm* form = MainForm;
        if (!form) return;  // no window (start-up or shut-down): nowhere to log
        if (QThread::currentThread() == form->thread()) {
            form->AddDeviceLogText(slot.Kind, numberFromDevice ? Number(device) : slot.Device,
                                   slot.Text);
            return;
        }
        {
            std::lock_guard lock(slot.mutex_);
            slot.pending_ = true;
        }
        // The call's last copy marks the slot served when it goes: after the window thread has
        // run it, or unrun when the window is destroyed first. Either way the worker goes on.
        auto served = std::make_shared<Served>(&slot);
        QMetaObject::invokeMethod(
            form,
            [served = std::move(served), form, device, numberFromDevice] {
                LogSlot& s = *served->slot;
                QString text;
                int kind;
                int32_t number;
                {
                    std::lock_guard lock(s.mutex_);
                    text = s.Text;
                    kind = s.Kind;
                    number = numberFromDevice ? Number(device) : s.Device;
                }
                form->AddDeviceLogText(kind, number, text);
            },
            Qt::QueuedConnection);
        std::unique_lock lock(slot.mutex_);
        slot.served_.wait(lock, [&slot] { return !slot.pending_; });
    }

private:
    struct Served {
        LogSlot* slot;
        explicit Served(LogSlot* s) : slot(s) {}
        Served(const Served&) = delete;
        Served& operator=(const Served&) = delete;
        ~Served()
        {
            // Notified under the lock: the worker cannot return and free the slot before this
            // thread is done with it.
            std::lock_guard lock(slot->mutex_);
            slot->pending_ = false;
            slot->served_.notify_all();
        }
    };

    static int32_t Number(const TDevEntry* device) { return device ? device->SerialNumber : 0; }
};

void ReaderLog(LogSlot& slot, int kind, int32_t device, const QString& format,
               std::initializer_list<LogArg> args)
{
    slot.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    slot.Kind = kind;
    slot.Device = device;
    LogHandOver::Run(slot, nullptr, false);
}

void WriterLog(LogSlot& slot, const TDevEntry* device, int kind, const QString& format,
               std::initializer_list<LogArg> args)
{
    slot.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    slot.Kind = kind;
    slot.Device = 0;
    LogHandOver::Run(slot, device, true);
}

void WriterLog(LogSlot& slot, const TDevEntry& device, int kind, const QString& format,
               std::initializer_list<LogArg> args)
{
    WriterLog(slot, &device, kind, format, args);
}
