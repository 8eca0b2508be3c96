#pragma once
// The system's notifications that devices were plugged in or removed. On Linux they come from
// udev; on Windows the window receives WM_DEVICECHANGE itself and there is no source here.

#include <QByteArray>
#include <QObject>
#include <memory>

// Yields the system's device events as (action, subsystem) pairs, e.g. ("add", "usb").
class DeviceEventSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The system's own source; null where there is none or it cannot be opened (no udev, no
    // permission, a container): the loader then runs without it.
    static std::unique_ptr<DeviceEventSource> System();

signals:
    void deviceEvent(const QByteArray& action, const QByteArray& subsystem);
};

// True for the events that change the set of attached USB devices.
bool IsUsbDeviceSetChange(const QByteArray& action, const QByteArray& subsystem);

// Folds a source's events into one signal per USB device added or removed.
class DeviceChangeMonitor : public QObject {
    Q_OBJECT
public:
    explicit DeviceChangeMonitor(std::unique_ptr<DeviceEventSource> source);
    ~DeviceChangeMonitor() override;
    // A monitor on the system's source; null when there is none.
    static std::unique_ptr<DeviceChangeMonitor> Start();

signals:
    void devicesChanged();

private:
    std::unique_ptr<DeviceEventSource> source_;
};
