#include "platform/WindowThreadCall.h"

#include "platform/ScopeExit.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace {
// One waiting worker. Lives on the worker's stack until it has been released.
struct WaitingCall {
    const std::function<void()>* call = nullptr;
    std::mutex mutex;
    std::condition_variable released;
    bool pending = true;
    bool ran = false;
};

class WindowThreadCalls;

struct QueuedCall {
    WindowThreadCalls* target;
    WaitingCall* waiting;
    uint64_t sequence;  // order of queuing, across every window
};

// What the worker wrote before queuing its call reaches the window thread through this lock; what
// the call wrote goes back through the waiting entry's own.
std::mutex gQueueMutex;
std::deque<QueuedCall> gQueue;
std::unordered_map<QObject*, WindowThreadCalls*> gWindows;  // every window that serves calls
uint64_t gLastSequence = 0;

void Release(WaitingCall& waiting, bool ran)
{
    // Notified under the lock: the worker cannot return and free its entry before this thread is
    // done with it.
    std::lock_guard lock(waiting.mutex);
    waiting.ran = ran;
    waiting.pending = false;
    waiting.released.notify_all();
}

// Lives as a child of its window, on the window's thread; the queued events are posted to it.
class WindowThreadCalls : public QObject {
public:
    WindowThreadCalls(QObject* window, WindowThreadErrorHandler onError)
        : QObject(window), window_(window), thread_(window->thread()), onError_(std::move(onError))
    {
        std::lock_guard lock(gQueueMutex);
        gWindows[window_] = this;
    }

    ~WindowThreadCalls() override
    {
        // Taken out first, under the lock: from here on no worker queues a call or posts an event
        // to this object, and the calls still queued are released unrun.
        std::vector<WaitingCall*> left;
        {
            std::lock_guard lock(gQueueMutex);
            const auto it = gWindows.find(window_);
            if (it != gWindows.end() && it->second == this) gWindows.erase(it);
            for (auto q = gQueue.begin(); q != gQueue.end();) {
                if (q->target != this) {
                    ++q;
                    continue;
                }
                left.push_back(q->waiting);
                q = gQueue.erase(q);
            }
        }
        for (WaitingCall* waiting : left) Release(*waiting, false);
    }

    QThread* Thread() const { return thread_; }

    // A wake-up event is on its way to this object. Guarded by gQueueMutex. At most one is, so
    // that the window thread's posted events never pile up ahead of its timers and sockets:
    // each one posted while busy workers wait would otherwise bring more with it.
    bool wakePosted = false;

    // Runs this window's calls queued up to sequence upTo, in queue order, one at a time: a call
    // may itself run the event loop, which then serves the calls after it.
    size_t Serve(uint64_t upTo)
    {
        size_t served = 0;
        while (WaitingCall* waiting = TakeNext(upTo)) {
            bool ran = false;
            const ScopeExit release([&] { Release(*waiting, ran); });  // an exception included
            ran = true;
            try {
                (*waiting->call)();
            } catch (...) {
                Report(std::current_exception());
            }
            ++served;
        }
        return served;
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != WindowThreadCallEvent()) return QObject::event(event);
        uint64_t upTo = 0;
        {
            std::lock_guard lock(gQueueMutex);
            upTo = gLastSequence;
            wakePosted = false;  // calls queued from now on post the next one
        }
        Serve(upTo);
        return true;
    }

private:
    WaitingCall* TakeNext(uint64_t upTo)
    {
        std::lock_guard lock(gQueueMutex);
        for (auto q = gQueue.begin(); q != gQueue.end() && q->sequence <= upTo; ++q) {
            if (q->target != this) continue;
            WaitingCall* waiting = q->waiting;
            gQueue.erase(q);
            return waiting;
        }
        return nullptr;
    }

    void Report(std::exception_ptr error)
    {
        if (!onError_) return;
        try {
            onError_(error);
        } catch (...) {
            // The handler is the last stop: nothing may escape into the event loop from here.
        }
    }

    QObject* const window_;
    QThread* const thread_;
    const WindowThreadErrorHandler onError_;
};
}  // namespace

QEvent::Type WindowThreadCallEvent()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void InstallWindowThreadCalls(QObject* window, WindowThreadErrorHandler onError)
{
    new WindowThreadCalls(window, std::move(onError));  // owned by the window
}

bool RunOnWindowThread(QObject* window, const std::function<void()>& call)
{
    QThread* windowThread = nullptr;
    {
        std::lock_guard lock(gQueueMutex);
        const auto it = gWindows.find(window);
        if (it == gWindows.end()) return false;
        windowThread = it->second->Thread();
    }
    if (QThread::currentThread() == windowThread) {
        call();
        return true;
    }

    WaitingCall waiting;
    waiting.call = &call;
    {
        // Queued and announced under the lock, so the window's side cannot be destroyed in between.
        std::lock_guard lock(gQueueMutex);
        const auto it = gWindows.find(window);
        if (it == gWindows.end()) return false;
        WindowThreadCalls* target = it->second;
        gQueue.push_back({target, &waiting, ++gLastSequence});
        if (!target->wakePosted) {
            target->wakePosted = true;
            QCoreApplication::postEvent(target, new QEvent(WindowThreadCallEvent()));
        }
    }
    std::unique_lock lock(waiting.mutex);
    waiting.released.wait(lock, [&waiting] { return !waiting.pending; });
    return waiting.ran;
}

size_t ServeWindowThreadCalls(QObject* window)
{
    WindowThreadCalls* target = nullptr;
    uint64_t upTo = 0;
    {
        std::lock_guard lock(gQueueMutex);
        const auto it = gWindows.find(window);
        if (it == gWindows.end()) return 0;
        target = it->second;
        upTo = gLastSequence;
    }
    return target->Serve(upTo);
}

size_t PendingWindowThreadCalls()
{
    std::lock_guard lock(gQueueMutex);
    return gQueue.size();
}
