#include "platform/WorkerThread.h"

#include "platform/SystemThreads.h"
#include "platform/Ticks.h"
#include "platform/WindowThreadCall.h"

#include <QDeadlineTimer>

#include <algorithm>

TWorkerThread::TWorkerThread(QObject* window) : window_(window) {}

TWorkerThread::~TWorkerThread()
{
    // The finished signal that frees the object comes right before the thread really ends; the
    // system thread's own clean-up after that still uses Qt's data of this thread.
    wait();
    AwaitSystemThreadExit(systemThread_.load(), 1000);
    if (registry_) registry_->Forget(this);
}

bool TWorkerThread::HandOver(const std::function<void()>& call)
{
    return RunOnWindowThread(window_, call);
}

void TWorkerThread::run()
{
    systemThread_.store(CurrentSystemThreadId());
    StartTick = TickCount();
    try {
        Execute();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            BodyRaised(error);
        } catch (...) {
            // Nothing more can be said: the worker still ends the ordinary way.
        }
    }
    bodyEnded_.store(true, std::memory_order_release);
    HandOver([this] { OnTerminate(); });
    // Nothing after the termination handler: the window may free what the worker used.
}

WorkerRegistry::WorkerRegistry(QObject* window) : window_(window) {}

WorkerRegistry::~WorkerRegistry()
{
    StopAll();
}

bool WorkerRegistry::Start(std::unique_ptr<TWorkerThread> worker, QThread::Priority priority)
{
    if (closed_ || !worker) return false;
    TWorkerThread* w = worker.release();  // frees itself from here on
    w->registry_ = this;
    workers_.push_back(w);
    QObject::connect(w, &QThread::finished, w, &QObject::deleteLater);
    w->start(priority);
    return true;
}

void WorkerRegistry::StopAll()
{
    closed_ = true;
    for (TWorkerThread* w : workers_) w->RequestStop();
    const auto live = [this](TWorkerThread* w) {
        return std::find(workers_.begin(), workers_.end(), w) != workers_.end();
    };
    while (!workers_.empty()) {
        TWorkerThread* w = workers_.front();
        w->RequestStop();
        // A worker may be waiting for this thread: serve it while waiting, in short slices. A
        // served call may free a worker that has ended (its deleteLater may run in a nested event
        // loop), so the registry is asked again after each slice.
        bool freed = false;
        while (!w->wait(QDeadlineTimer(10))) {
            ServeWindowThreadCalls(window_);
            if (!live(w)) {
                freed = true;
                break;
            }
        }
        if (!freed && live(w)) delete w;  // ended: a pending deleteLater goes with it
    }
}

void WorkerRegistry::Forget(TWorkerThread* worker)
{
    workers_.erase(std::remove(workers_.begin(), workers_.end(), worker), workers_.end());
}
