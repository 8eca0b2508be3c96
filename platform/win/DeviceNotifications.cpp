#include "platform/DeviceNotifications.h"

// Windows sends WM_DEVICECHANGE to the window, which the outside-message source already picks up.
std::unique_ptr<DeviceEventSource> DeviceEventSource::System()
{
    return nullptr;
}
