#pragma once
// The one worker-thread class of the loader (the scan pass, the write sessions) and the registry
// in which the window keeps every live worker.
//
// A worker runs its body, Execute, on its own thread, then its termination handler, OnTerminate,
// on the window thread while the thread waits; after that the thread touches nothing outside its
// own object. It hands everything else the window must do (log lines, loads, progress) over with
// HandOver, which waits until the window thread has run it. The object frees itself once the
// thread has ended.

#include <QString>
#include <QThread>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class WorkerRegistry;

// One pending log line of a worker. Only the owning thread fills it, right before it hands it
// over, and does not touch it again until the window thread has logged it.
struct LogSlot {
    QString Text;
    int Kind = 0;
    int32_t Device = 0;
};

class TWorkerThread : public QThread {
public:
    // window: the object whose thread is the window thread; every hand-over goes there.
    explicit TWorkerThread(QObject* window);
    // Waits for the thread if it is still finishing; leaves the registry.
    ~TWorkerThread() override;
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Tick count when the thread began its run; the "(% 6d)" times of its log lines count from it.
    uint32_t StartTick = 0;
    LogSlot Log;  // the worker's pending log line

    // The stop request. A flag of this object, so it is never lost: asked before the thread
    // starts, or after its body has ended, it still reads true.
    void RequestStop() noexcept { stopRequested_.store(true, std::memory_order_release); }
    bool StopRequested() const noexcept { return stopRequested_.load(std::memory_order_acquire); }

    // Runs call on the window thread and returns once it has run; false when it could not run
    // (the window is gone). Called on the window thread itself, runs it at once.
    bool HandOver(const std::function<void()>& call);

    QObject* Window() const { return window_; }

    // True once Execute has returned. What the body left in the object is safe to read after
    // this reads true, also where no termination handler ran to hand it over (the window gone).
    bool BodyEnded() const noexcept { return bodyEnded_.load(std::memory_order_acquire); }

protected:
    // The worker's body, on its own thread.
    virtual void Execute() = 0;
    // The termination handler, on the window thread while this thread waits, after Execute. It
    // also runs for a worker asked to stop; each handler decides what that means.
    virtual void OnTerminate() {}
    // On this thread, when Execute let an error out: the worker's last word on it (a result code,
    // a log line), before its termination handler runs as usual. An error is the worker's own: it
    // never reaches the thread's end, which would take the whole process with it. What this raises
    // in turn is dropped.
    virtual void BodyRaised(std::exception_ptr /*error*/) {}

private:
    void run() final;
    friend class WorkerRegistry;

    QObject* const window_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> bodyEnded_{false};
    std::atomic<uint64_t> systemThread_{0};  // set by the thread itself
    WorkerRegistry* registry_ = nullptr;     // window thread only
};

// Every live worker of one window: running, or ended and not yet freed. Window thread only.
class WorkerRegistry {
public:
    // window: where the workers' hand-overs go; served while StopAll waits.
    explicit WorkerRegistry(QObject* window);
    // Stops and awaits whatever still lives.
    ~WorkerRegistry();
    WorkerRegistry(const WorkerRegistry&) = delete;
    WorkerRegistry& operator=(const WorkerRegistry&) = delete;

    // Takes the worker over and starts it; it frees itself once its thread has ended. After
    // StopAll nothing starts any more: the worker is freed unstarted and the result is false.
    bool Start(std::unique_ptr<TWorkerThread> worker,
               QThread::Priority priority = QThread::NormalPriority);

    // Asks every live worker to stop and waits until all have ended, serving the window thread's
    // queued hand-overs meanwhile (a worker may be waiting in one), then frees them. Once it
    // returns no worker of this registry runs, and none is started again.
    void StopAll();

    bool Closed() const { return closed_; }
    size_t Live() const { return workers_.size(); }

private:
    friend class TWorkerThread;
    void Forget(TWorkerThread* worker);

    QObject* const window_;
    std::vector<TWorkerThread*> workers_;
    bool closed_ = false;
};
