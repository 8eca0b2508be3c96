#include "app/MainForm.h"
#include "app/MessageWiring.h"
#include "platform/DeviceNotifications.h"
#include "platform/OutsideMessages.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
// DevTimer's firings, each stopping the timer the way the scan trigger does. Starts with the
// timer stopped, as it is after the first scan.
class DeviceChange : public testing::Test {
protected:
    TMainForm form{{}};
    QElapsedTimer clock;
    std::vector<qint64> firings;  // ms on clock

    void SetUp() override
    {
        form.DevTimer->stop();
        // The first pass of the event loop does the window's one-off work (fonts, polish).
        Run(50);
        clock.start();
        QObject::connect(form.DevTimer, &QTimer::timeout, [this] {
            firings.push_back(clock.elapsed());
            form.DevTimer->stop();
        });
    }
    // Lets the event loop run for ms milliseconds.
    static void Run(int ms)
    {
        QElapsedTimer t;
        t.start();
        WaitFor([&] { return t.elapsed() >= ms; }, ms + 1000);
    }
};

TEST_F(DeviceChange, BurstLeadsToOneFiringAHundredMsAfterTheLast)
{
    form.WMDeviceChange(kDevNodesChanged);
    const qint64 first = clock.elapsed();
    Run(50);
    const qint64 second = clock.elapsed();
    if (second - first >= 90) GTEST_SKIP() << "the event loop stalled between the notifications";
    ASSERT_TRUE(firings.empty());
    form.WMDeviceChange(kDevNodesChanged);

    ASSERT_TRUE(WaitFor([&] { return !firings.empty(); }, 5000));
    // Coarse timers may fire up to 5 % early.
    EXPECT_GE(firings[0] - second, 90);
    Run(250);
    EXPECT_EQ(firings.size(), 1u);
}

class OtherDeviceEvents : public DeviceChange, public testing::WithParamInterface<quint64> {};

TEST_P(OtherDeviceEvents, RestartNothing)
{
    form.WMDeviceChange(GetParam());
    EXPECT_FALSE(form.DevTimer->isActive());

    // A running interval is not restarted either.
    form.DevTimer->start();
    QThread::msleep(40);
    form.WMDeviceChange(GetParam());
    EXPECT_TRUE(form.DevTimer->isActive());
    EXPECT_LT(form.DevTimer->remainingTime(), 90);  // a restart would give about 100
}

// Arrival, removal, query and custom events, and a wide value whose low half reads as 7.
INSTANTIATE_TEST_SUITE_P(WParams, OtherDeviceEvents,
                         testing::Values(quint64(0), quint64(3), quint64(8), quint64(0x8000),
                                         quint64(0x8004), quint64(0x8006), (quint64(1) << 32) | 7));

TEST_F(DeviceChange, WindowMessageDispatchReachesTheHandler)
{
    form.HandleWindowMessage(kRestoreMessage, kDevNodesChanged);
    form.HandleWindowMessage(kDeviceChangeMessage, 0x8000);
    EXPECT_FALSE(form.DevTimer->isActive());
    form.HandleWindowMessage(kDeviceChangeMessage, kDevNodesChanged);
    EXPECT_TRUE(form.DevTimer->isActive());
}

TEST_F(DeviceChange, SocketLineRestartsTheTimer)
{
    QTemporaryDir runtime;
    std::unique_ptr<OutsideMessageSource> source = OutsideMessageSource::Start(runtime.path());
    ASSERT_NE(source, nullptr);
    ConnectOutsideMessages(*source, form);

    ASSERT_TRUE(SendOutsideMessage(runtime.path(), kDeviceChangeMessage, 0x8004));
    Run(300);
    EXPECT_TRUE(firings.empty());

    ASSERT_TRUE(SendOutsideMessage(runtime.path(), kDeviceChangeMessage, kDevNodesChanged));
    EXPECT_TRUE(WaitFor([&] { return firings.size() == 1; }, 5000));
}

// Stands in for udev: whatever the test emits.
class FakeDeviceEvents : public DeviceEventSource {
public:
    void Send(const char* action, const char* subsystem)
    {
        emit deviceEvent(QByteArray(action), QByteArray(subsystem));
    }
};

struct EventCase {
    const char* action;
    const char* subsystem;
    bool counts;
};
class UdevEvents : public DeviceChange, public testing::WithParamInterface<EventCase> {};

TEST_P(UdevEvents, OnlyUsbAdditionsAndRemovalsRestartTheTimer)
{
    const EventCase& c = GetParam();
    EXPECT_EQ(IsUsbDeviceSetChange(c.action, c.subsystem), c.counts);

    auto source = std::make_unique<FakeDeviceEvents>();
    FakeDeviceEvents* events = source.get();
    DeviceChangeMonitor monitor(std::move(source));
    int changes = 0;
    QObject::connect(&monitor, &DeviceChangeMonitor::devicesChanged, [&changes] { ++changes; });
    ConnectDeviceChanges(monitor, form);

    events->Send(c.action, c.subsystem);
    EXPECT_EQ(changes, c.counts ? 1 : 0);
    EXPECT_EQ(form.DevTimer->isActive(), c.counts);
}

INSTANTIATE_TEST_SUITE_P(
    Events, UdevEvents,
    testing::Values(EventCase{"add", "usb", true}, EventCase{"remove", "usb", true},
                    EventCase{"change", "usb", false}, EventCase{"bind", "usb", false},
                    EventCase{"unbind", "usb", false}, EventCase{"add", "tty", false},
                    EventCase{"remove", "block", false}, EventCase{"add", "usbmisc", false},
                    EventCase{"ADD", "usb", false}, EventCase{"", "", false}));

TEST_F(DeviceChange, UdevBurstFoldsIntoOneFiring)
{
    auto source = std::make_unique<FakeDeviceEvents>();
    FakeDeviceEvents* events = source.get();
    DeviceChangeMonitor monitor(std::move(source));
    ConnectDeviceChanges(monitor, form);

    // One plug-in: the device, its interfaces, their drivers.
    for (const char* subsystem : {"usb", "usb", "usb", "tty"}) events->Send("add", subsystem);
    events->Send("bind", "usb");
    ASSERT_TRUE(WaitFor([&] { return !firings.empty(); }, 5000));
    Run(250);
    EXPECT_EQ(firings.size(), 1u);
}

// The machine's own udev may be missing or closed to this user; either way the monitor is made
// and released cleanly or not at all.
TEST(SystemDeviceEvents, StartOrStayAbsentQuietly)
{
    std::unique_ptr<DeviceChangeMonitor> first = DeviceChangeMonitor::Start();
    std::unique_ptr<DeviceChangeMonitor> second = DeviceChangeMonitor::Start();
    EXPECT_EQ(first == nullptr, second == nullptr);
    QCoreApplication::processEvents();
}
}  // namespace
