#include "app/WindowThreadCall.h"

#include "devices/ScopeExit.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace {
// One waiting worker. Lives on the worker's stack until it has been served.
struct WaitingCall {
    const std::function<void()>* call;
    std::mutex mutex;
    std::condition_variable served;
    bool pending = true;
};

struct QueuedCall {
    QObject* window;
    WaitingCall* waiting;
};

// What the worker wrote before queuing its call reaches the window thread through this lock; what
// the call wrote goes back through the waiting entry's own.
std::mutex gQueueMutex;
std::deque<QueuedCall> gQueue;

QEvent::Type CallEventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// The first queued call for window, or all of them.
std::vector<WaitingCall*> Take(QObject* window, bool all)
{
    std::vector<WaitingCall*> taken;
    std::lock_guard lock(gQueueMutex);
    for (auto it = gQueue.begin(); it != gQueue.end();) {
        if (it->window != window) {
            ++it;
            continue;
        }
        taken.push_back(it->waiting);
        it = gQueue.erase(it);
        if (!all) break;
    }
    return taken;
}

void Release(WaitingCall& waiting)
{
    // Notified under the lock: the worker cannot return and free its entry before this thread is
    // done with it.
    std::lock_guard lock(waiting.mutex);
    waiting.pending = false;
    waiting.served.notify_all();
}

void Serve(WaitingCall& waiting)
{
    const ScopeExit release([&waiting] { Release(waiting); });  // an exception included
    (*waiting.call)();
}

class WindowThreadCalls : public QObject {
public:
    explicit WindowThreadCalls(QObject* window) : QObject(window), window_(window)
    {
        window->installEventFilter(this);
    }
    ~WindowThreadCalls() override
    {
        for (WaitingCall* waiting : Take(window_, true)) Release(*waiting);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != CallEventType()) return false;
        ServeWindowThreadCalls(window_);
        return true;
    }

private:
    QObject* window_;
};
}  // namespace

void InstallWindowThreadCalls(QObject* window)
{
    new WindowThreadCalls(window);
}  // owned by the window

void RunOnWindowThread(QObject* window, const std::function<void()>& call)
{
    if (QThread::currentThread() == window->thread()) {
        call();
        return;
    }
    WaitingCall waiting;
    waiting.call = &call;
    {
        std::lock_guard lock(gQueueMutex);
        gQueue.push_back({window, &waiting});
    }
    QCoreApplication::postEvent(window, new QEvent(CallEventType()));
    std::unique_lock lock(waiting.mutex);
    waiting.served.wait(lock, [&waiting] { return !waiting.pending; });
}

void ServeWindowThreadCalls(QObject* window)
{
    // One at a time: a call may itself run the event loop, which then serves the next.
    for (;;) {
        const std::vector<WaitingCall*> next = Take(window, false);
        if (next.empty()) return;
        Serve(*next.front());
    }
}

size_t PendingWindowThreadCalls()
{
    std::lock_guard lock(gQueueMutex);
    return gQueue.size();
}
