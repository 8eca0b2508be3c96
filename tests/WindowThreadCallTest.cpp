#include "app/ErrorDisplay.h"
#include "app/WindowThreadCall.h"
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
        InstallWindowThreadCalls(window.get());
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
    std::thread worker([&] {
        value = 1;
        RunOnWindowThread(window.get(), [&] {
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
}

TEST_F(WindowThreadCall, OnTheWindowThreadItselfRunsAtOnce)
{
    bool ran = false;
    RunOnWindowThread(window.get(), [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

TEST_F(WindowThreadCall, AnErrorIsShownOnTheWindowThreadAndTheWorkerGoesOn)
{
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        RunOnWindowThread(window.get(), [] { throw std::runtime_error("load failed"); });
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(shown, std::vector<QString>{QStringLiteral("load failed")});
}

TEST_F(WindowThreadCall, AWindowDestroyedFirstReleasesTheWorkerWithoutTheCall)
{
    std::atomic<bool> returned = false;
    std::atomic<bool> ran = false;
    std::thread worker([&] {
        RunOnWindowThread(window.get(), [&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(WaitQueued());
    window.reset();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
}

TEST_F(WindowThreadCall, AWaitingWindowThreadCanServeCallsDirectly)
{
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        RunOnWindowThread(window.get(), [] {});
        returned = true;
    });
    ASSERT_TRUE(WaitQueued());
    ServeWindowThreadCalls(window.get());  // no event loop runs here
    worker.join();
    EXPECT_TRUE(returned);
}
}  // namespace
