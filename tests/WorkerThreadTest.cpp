// The worker-thread class and the registry that stops and awaits every worker of a window.

#include "app/ErrorDisplay.h"
#include "app/LoaderError.h"
#include "app/MainForm.h"
#include "platform/WindowThreadCall.h"
#include "platform/WorkerThread.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {
class WorkerThreads : public testing::Test {
protected:
    std::unique_ptr<QObject> window = std::make_unique<QObject>();
    std::unique_ptr<WorkerRegistry> registry;
    std::vector<std::exception_ptr> errors;

    void SetUp() override
    {
        InstallWindowThreadCalls(window.get(),
                                 [this](std::exception_ptr e) { errors.push_back(e); });
        registry = std::make_unique<WorkerRegistry>(window.get());
    }
    void TearDown() override { registry.reset(); }
};

// Counts how often its termination handler ran, and says when it has been freed.
class CountingWorker : public FunctionWorker {
public:
    CountingWorker(QObject* window, std::function<void(FunctionWorker&)> body,
                   std::atomic<int>& terminated, std::atomic<bool>& freed)
        : FunctionWorker(window, std::move(body), [&terminated] { terminated.fetch_add(1); }),
          freed_(freed)
    {
    }
    ~CountingWorker() override { freed_ = true; }

private:
    std::atomic<bool>& freed_;
};

TEST_F(WorkerThreads, AStopRequestedBeforeTheStartOrAfterTheBodyStillReadsTrue)
{
    std::atomic<bool> sawStop = false;
    FunctionWorker early(window.get(), [&](FunctionWorker& w) { sawStop = w.StopRequested(); });
    early.RequestStop();  // before start(): a stored link to it may already be used
    early.start();
    ASSERT_TRUE(WaitFor([&] { return early.isFinished(); }));
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(early.StopRequested());

    FunctionWorker late(window.get(), {});
    late.start();
    ASSERT_TRUE(WaitFor([&] { return late.isFinished(); }));
    late.RequestStop();  // after the body ended
    EXPECT_TRUE(late.StopRequested());
}

TEST_F(WorkerThreads, TheTerminationHandlerRunsOnTheWindowThreadAfterTheBody)
{
    std::atomic<bool> bodyDone = false;
    QThread* handlerThread = nullptr;
    bool bodyDoneFirst = false;
    FunctionWorker worker(
        window.get(), [&](FunctionWorker&) { bodyDone = true; },
        [&] {
            handlerThread = QThread::currentThread();
            bodyDoneFirst = bodyDone;
        });
    worker.start();
    ASSERT_TRUE(WaitFor([&] { return worker.isFinished(); }));
    EXPECT_EQ(handlerThread, window->thread());
    EXPECT_TRUE(bodyDoneFirst);
    EXPECT_NE(worker.StartTick, 0u);
}

TEST_F(WorkerThreads, AnEndedWorkerFreesItself)
{
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    ASSERT_TRUE(registry->Start(
        std::make_unique<CountingWorker>(window.get(), nullptr, terminated, freed)));
    EXPECT_EQ(registry->Live(), 1u);
    ASSERT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return freed.load();
    }));
    EXPECT_EQ(terminated.load(), 1);
    EXPECT_EQ(registry->Live(), 0u);
}

// ---- StopAll: the close sequence of a window's workers ----

TEST_F(WorkerThreads, StopAllServesAWorkerBlockedInAHandOver)
{
    std::atomic<bool> handedOver = false;
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    bool served = false;
    ASSERT_TRUE(registry->Start(std::make_unique<CountingWorker>(
        window.get(),
        [&](FunctionWorker& w) {
            handedOver = true;
            w.HandOver([&] { served = true; });
        },
        terminated, freed)));
    ASSERT_TRUE(WaitUnserved([&] { return handedOver && PendingWindowThreadCalls() == 1; }));
    registry->StopAll();
    EXPECT_TRUE(served);
    EXPECT_EQ(terminated.load(), 1);
    EXPECT_TRUE(freed);
    EXPECT_EQ(registry->Live(), 0u);
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

TEST_F(WorkerThreads, StopAllWaitsForAWorkerInACallThatCannotBeCut)
{
    // Stands in for a driver call that comes back only after its own wait.
    std::atomic<bool> inCall = false;
    std::atomic<bool> bodyEnded = false;
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    ASSERT_TRUE(registry->Start(std::make_unique<CountingWorker>(
        window.get(),
        [&](FunctionWorker&) {
            inCall = true;
            QThread::msleep(300);
            bodyEnded = true;
        },
        terminated, freed)));
    ASSERT_TRUE(WaitUnserved([&] { return inCall.load(); }));
    registry->StopAll();
    EXPECT_TRUE(bodyEnded);  // not freed under a running body
    EXPECT_TRUE(freed);
    EXPECT_EQ(terminated.load(), 1);
}

TEST_F(WorkerThreads, StopAllRunsAQueuedTerminationHandlerOnceAndFreesTheWorker)
{
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    ASSERT_TRUE(registry->Start(
        std::make_unique<CountingWorker>(window.get(), nullptr, terminated, freed)));
    ASSERT_TRUE(WaitUnserved([] { return PendingWindowThreadCalls() == 1; }));
    EXPECT_EQ(terminated.load(), 0);
    registry->StopAll();
    EXPECT_EQ(terminated.load(), 1);
    EXPECT_TRUE(freed);
}

TEST_F(WorkerThreads, StopAllAsksEveryWorkerToStop)
{
    std::atomic<int> terminated = 0;
    std::vector<std::unique_ptr<std::atomic<bool>>> freed;
    for (int i = 0; i < 4; ++i) {
        freed.push_back(std::make_unique<std::atomic<bool>>(false));
        ASSERT_TRUE(registry->Start(std::make_unique<CountingWorker>(
            window.get(),
            [](FunctionWorker& w) {
                while (!w.StopRequested()) QThread::msleep(2);
            },
            terminated, *freed.back())));
    }
    registry->StopAll();
    EXPECT_EQ(terminated.load(), 4);
    for (const auto& f : freed) EXPECT_TRUE(f->load());
}

TEST_F(WorkerThreads, AnErrorRaisedInAServedCallGoesToTheWindowsHandler)
{
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    ASSERT_TRUE(registry->Start(std::make_unique<CountingWorker>(
        window.get(),
        [](FunctionWorker& w) { w.HandOver([] { throw std::runtime_error("raised"); }); },
        terminated, freed)));
    ASSERT_TRUE(WaitUnserved([] { return PendingWindowThreadCalls() == 1; }));
    EXPECT_NO_THROW(registry->StopAll());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(freed);
}

TEST_F(WorkerThreads, AfterStopAllNothingStarts)
{
    registry->StopAll();
    std::atomic<int> terminated = 0;
    std::atomic<bool> freed = false;
    std::atomic<bool> ran = false;
    EXPECT_FALSE(registry->Start(std::make_unique<CountingWorker>(
        window.get(), [&](FunctionWorker&) { ran = true; }, terminated, freed)));
    EXPECT_TRUE(freed);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(registry->Closed());
}

TEST_F(WorkerThreads, AWorkerWhoseWindowIsGoneLoadsNoFirmware)
{
    TestWorkerHost host;
    int loads = 0;
    host.Load = [&](TFirmwareBlockList&, TFirmwareVersion&) { return ++loads, true; };
    bool loaded = true;
    FunctionWorker worker(host.WindowThreadObject(), [&](FunctionWorker& w) {
        TFirmwareBlockList blocks;
        TFirmwareVersion version;
        loaded = LoadFirmwareThroughWindow(w, host, blocks, version);
    });
    host.DestroyWindow();
    worker.start();
    ASSERT_TRUE(worker.wait(20000));
    ASSERT_TRUE(worker.BodyEnded());  // orders the read below for ThreadSanitizer too
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loads, 0);
}

TEST(WindowClose, AnErrorRaisedInAHandOverServedWhileTheWindowClosesIsReported)
{
    std::vector<QString> shown;
    const ErrorDisplayFunction previous =
        SetErrorDisplay([&](const QString&, const QString& text) { shown.push_back(text); });
    auto form = std::make_unique<TMainForm>(QStringList());
    form->DevTimer->stop();
    ASSERT_TRUE(
        form->Workers.Start(std::make_unique<FunctionWorker>(form.get(), [](FunctionWorker& w) {
            w.HandOver([] { throw LoaderError(QStringLiteral("late")); });
        })));
    // Not served by an event loop: the destructor is the first to serve it.
    QDeadlineTimer deadline(20000);
    while (PendingWindowThreadCalls() == 0 && !deadline.hasExpired()) QThread::msleep(2);
    ASSERT_EQ(PendingWindowThreadCalls(), 1u);
    form.reset();  // serves the call inside the destructor: the error must not escape it
    SetErrorDisplay(previous);
    EXPECT_EQ(shown, std::vector<QString>{QStringLiteral("late")});
}
}  // namespace
