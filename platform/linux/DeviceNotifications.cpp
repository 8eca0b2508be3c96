#include "platform/DeviceNotifications.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace {
struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
};
struct MonitorUnref {
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
struct DeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

// udev's events for USB devices, read from its netlink socket when the event loop sees it ready.
class UdevSource final : public DeviceEventSource {
public:
    bool Open()
    {
        udev_.reset(udev_new());
        if (!udev_) return false;
        // "udev" rather than "kernel": events come once the rules have run, so a new device's
        // node exists and has its permissions when the scan opens it.
        monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
        if (!monitor_) return false;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "usb", nullptr) < 0)
            return false;
        if (udev_monitor_enable_receiving(monitor_.get()) < 0) return false;
        const int fd = udev_monitor_get_fd(monitor_.get());
        if (fd < 0) return false;
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
        return true;
    }

private:
    // The socket is non-blocking: take every event that is waiting.
    void Drain()
    {
        while (std::unique_ptr<udev_device, DeviceUnref> device{
            udev_monitor_receive_device(monitor_.get())}) {
            const char* action = udev_device_get_action(device.get());
            const char* subsystem = udev_device_get_subsystem(device.get());
            if (action && subsystem) emit deviceEvent(QByteArray(action), QByteArray(subsystem));
        }
    }

    // Declared so that the notifier goes before the monitor whose descriptor it watches.
    std::unique_ptr<udev, UdevUnref> udev_;
    std::unique_ptr<udev_monitor, MonitorUnref> monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
}  // namespace

std::unique_ptr<DeviceEventSource> DeviceEventSource::System()
{
    auto source = std::make_unique<UdevSource>();
    if (!source->Open()) return nullptr;
    return source;
}
