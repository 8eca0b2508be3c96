#include "platform/DeviceNotifications.h"

bool IsUsbDeviceSetChange(const QByteArray& action, const QByteArray& subsystem)
{
    return subsystem == "usb" && (action == "add" || action == "remove");
}

DeviceChangeMonitor::DeviceChangeMonitor(std::unique_ptr<DeviceEventSource> source)
    : source_(std::move(source))
{
    connect(source_.get(), &DeviceEventSource::deviceEvent, this,
            [this](const QByteArray& action, const QByteArray& subsystem) {
                if (IsUsbDeviceSetChange(action, subsystem)) emit devicesChanged();
            });
}

DeviceChangeMonitor::~DeviceChangeMonitor() = default;

std::unique_ptr<DeviceChangeMonitor> DeviceChangeMonitor::Start()
{
    std::unique_ptr<DeviceEventSource> source = DeviceEventSource::System();
    if (!source) return nullptr;
    return std::make_unique<DeviceChangeMonitor>(std::move(source));
}
