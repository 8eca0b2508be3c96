#include "app/ErrorDisplay.h"
#include "app/LoaderError.h"
#include "platform/WindowThreadCall.h"
#include "tests/TestSupport.h"

#include <QObject>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {
class WindowThreadCall : public testing::Test {
protected:
    std::unique_ptr<QObject> window = std::make_unique<QObject>();
    std::vector<QString> shown;
    ErrorDisplayFunction previous;

    void SetUp() override
    {
        InstallWindowThreadCalls(window.get(), [](std::exception_ptr e) { ShowException(e); });
        previous =
            SetErrorDisplay([this](const QString&, const QString& text) { shown.push_back(text); });
    }
    void TearDown() override { SetErrorDisplay(previous); }

    // Waits for a worker's call to be queued, without serving the window thread.
    static bool WaitQueued()
    {
        for (int i = 0; i < 5000 && PendingWindowThreadCalls() == 0; ++i) QThread::msleep(2);
        return PendingWindowThreadCalls() == 1;
    }
};

TEST_F(WindowThreadCall, RunsOnTheWindowThreadWhileTheWorkerWaits)
{
    std::atomic<bool> returned = false;
    QThread* ranOn = nullptr;
    int value = 0;  // written by the worker before, read by it after: no lock of the test's own
    bool ran = false;
    std::thread worker([&] {
        value = 1;
        ran = RunOnWindowThread(window.get(), [&] {
            ranOn = QThread::currentThread();
            value *= 10;
        });
        value += 1;
        returned = true;
    });
    // Not before the window thread has served it.
    ASSERT_TRUE(WaitQueued());
    QThread::msleep(50);
    EXPECT_FALSE(returned);
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, window->thread());
    EXPECT_EQ(value, 11);
    EXPECT_TRUE(ran);
}

TEST_F(WindowThreadCall, OnTheWindowThreadItselfRunsAtOnce)
{
    bool ran = false;
    EXPECT_TRUE(RunOnWindowThread(window.get(), [&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

TEST_F(WindowThreadCall, AnErrorIsShownOnTheWindowThreadAndTheWorkerGoesOn)
{
    std::atomic<bool> returned = false;
    bool ran = false;
    std::thread worker([&] {
        ran = RunOnWindowThread(window.get(), [] { throw std::runtime_error("load failed"); });
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(shown, std::vector<QString>{QStringLiteral("load failed")});
    EXPECT_TRUE(ran);  // it ran, and raised
}

TEST_F(WindowThreadCall, AWindowDestroyedFirstReleasesTheWorkerWithoutTheCall)
{
    std::atomic<bool> returned = false;
    std::atomic<bool> ran = false;
    bool result = true;
    std::thread worker([&] {
        result = RunOnWindowThread(window.get(), [&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(WaitQueued());
    QObject* gone = window.get();
    window.reset();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(result);  // the worker knows its call never ran
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
    // Later calls to a window that is gone come back at once, unrun.
    std::thread late([&] { result = RunOnWindowThread(gone, [&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}

TEST_F(WindowThreadCall, AWaitingWindowThreadCanServeCallsDirectly)
{
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        RunOnWindowThread(window.get(), [] {});
        returned = true;
    });
    ASSERT_TRUE(WaitQueued());
    EXPECT_EQ(ServeWindowThreadCalls(window.get()), 1u);  // no event loop runs here
    worker.join();
    EXPECT_TRUE(returned);
}

TEST_F(WindowThreadCall, AnErrorRaisedWhileServedDirectlyGoesToTheHandlerNotTheCaller)
{
    std::thread worker([&] {
        RunOnWindowThread(window.get(), [] { throw LoaderError(QStringLiteral("while closing")); });
    });
    ASSERT_TRUE(WaitQueued());
    EXPECT_NO_THROW(ServeWindowThreadCalls(window.get()));
    worker.join();
    EXPECT_EQ(shown, std::vector<QString>{QStringLiteral("while closing")});
}

TEST_F(WindowThreadCall, OneDispatchServesOnlyWhatWasQueuedWhenItBegan)
{
    std::thread second;
    std::thread first([&] {
        RunOnWindowThread(window.get(), [&] {
            // Runs on the window thread: a call queued meanwhile is for the next dispatch.
            second = std::thread([&] { RunOnWindowThread(window.get(), [] {}); });
            for (int i = 0; i < 5000 && PendingWindowThreadCalls() == 0; ++i) QThread::msleep(1);
        });
    });
    ASSERT_TRUE(WaitQueued());
    EXPECT_EQ(ServeWindowThreadCalls(window.get()), 1u);
    EXPECT_EQ(PendingWindowThreadCalls(), 1u);  // left for the next dispatch
    EXPECT_EQ(ServeWindowThreadCalls(window.get()), 1u);
    first.join();
    second.join();
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

// Workers that hand calls over continuously: every call runs once, on the window thread, in
// order per worker, and nothing is left pending.
class HandOverStress : public WindowThreadCall, public testing::WithParamInterface<int> {};

TEST_P(HandOverStress, EveryCallRunsOnceInOrderOnTheWindowThread)
{
    const int workers = GetParam();
    constexpr int kCalls = 200;
    std::vector<std::vector<int>> seen(workers);  // written on the window thread only
    std::atomic<int> offThread = 0;
    std::atomic<int> finished = 0;
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kCalls; ++i) {
                const bool ran = RunOnWindowThread(window.get(), [&, w, i] {
                    if (QThread::currentThread() != window->thread()) offThread.fetch_add(1);
                    seen[w].push_back(i);
                });
                if (!ran) offThread.fetch_add(1000);
            }
            finished.fetch_add(1);
        });
    }
    const bool done = WaitFor([&] { return finished.load() == workers; }, 120000);
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(offThread.load(), 0);
    std::vector<int> expected(kCalls);
    for (int i = 0; i < kCalls; ++i) expected[i] = i;
    for (int w = 0; w < workers; ++w) EXPECT_EQ(seen[w], expected) << "worker " << w;
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Workers, HandOverStress, testing::Values(2, 16));
}  // namespace
