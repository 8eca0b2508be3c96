#include "app/LogHandOver.h"

#include "app/MainForm.h"
#include "devices/Structs.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <deque>

namespace {
struct PendingLine {
    TMainForm* form;
    LogSlot* slot;
    const TDevEntry* device;
    bool numberFromDevice;
};

// The slots waiting for the window thread. The data crosses threads only through this queue and
// the slot's own lock, never inside a posted call, so each hand-over is ordered by the project's
// own locks (and ThreadSanitizer sees them).
std::mutex gQueueMutex;
std::deque<PendingLine> gQueue;

QEvent::Type HandOverEventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

int32_t Number(const TDevEntry* device)
{
    return device ? device->SerialNumber : 0;
}
}  // namespace

class LogHandOver : public QObject {
public:
    explicit LogHandOver(TMainForm* form) : QObject(form), form_(form)
    {
        form->installEventFilter(this);
    }

    // A window destroyed with hand-overs still queued releases their workers unserved.
    ~LogHandOver() override
    {
        for (const PendingLine& line : Take(form_, true)) MarkServed(*line.slot);
    }

    // Queues the filled slot for the window thread and returns once it has been logged there.
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
        {
            std::lock_guard lock(gQueueMutex);
            gQueue.push_back({form, &slot, device, numberFromDevice});
        }
        QCoreApplication::postEvent(form, new QEvent(HandOverEventType()));
        std::unique_lock lock(slot.mutex_);
        slot.served_.wait(lock, [&slot] { return !slot.pending_; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != form_ || event->type() != HandOverEventType()) return false;
        // One event per line; the first to arrive serves every line queued so far.
        for (;;) {
            const std::vector<PendingLine> lines = Take(form_, false);
            if (lines.empty()) break;
            Serve(lines.front());
        }
        return true;
    }

private:
    // The first queued line of the form, or all of them.
    static std::vector<PendingLine> Take(TMainForm* form, bool all)
    {
        std::vector<PendingLine> taken;
        std::lock_guard lock(gQueueMutex);
        for (auto it = gQueue.begin(); it != gQueue.end();) {
            if (it->form != form) {
                ++it;
                continue;
            }
            taken.push_back(*it);
            it = gQueue.erase(it);
            if (!all) break;
        }
        return taken;
    }

    void Serve(const PendingLine& line)
    {
        QString text;
        int kind;
        int32_t number;
        {
            std::lock_guard lock(line.slot->mutex_);
            text = line.slot->Text;
            kind = line.slot->Kind;
            number = line.numberFromDevice ? Number(line.device) : line.slot->Device;
        }
        try {
            form_->AddDeviceLogText(kind, number, text);
        } catch (...) {
            MarkServed(*line.slot);  // the worker goes on; the error goes to the error display
            throw;
        }
        MarkServed(*line.slot);
    }

    static void MarkServed(LogSlot& slot)
    {
        // Notified under the lock: the worker cannot return and free the slot before this thread
        // is done with it.
        std::lock_guard lock(slot.mutex_);
        slot.pending_ = false;
        slot.served_.notify_all();
    }

    TMainForm* form_;
};

void InstallLogHandOver(TMainForm* form)
{
    new LogHandOver(form);
}  // owned by the form

size_t PendingLogHandOvers()
{
    std::lock_guard lock(gQueueMutex);
    return gQueue.size();
}

void ServeLogHandOvers(TMainForm* form)
{
    QCoreApplication::sendPostedEvents(form, HandOverEventType());
}

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
