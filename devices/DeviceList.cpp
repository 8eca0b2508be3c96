#include "devices/DeviceList.h"

#include <algorithm>

namespace {
TDeviceList::const_iterator FirstWithSerial(const TDeviceList& list, int32_t serial)
{
    return std::find_if(list.begin(), list.end(), [serial](const std::unique_ptr<TDevEntry>& e) {
        return e && e->SerialNumber == serial;
    });
}
}  // namespace

TDevEntry* FindDeviceBySerial(const TDeviceList& list, int32_t serial)
{
    const auto it = FirstWithSerial(list, serial);
    return it == list.end() ? nullptr : it->get();
}

void RemoveDeviceBySerial(TDeviceList& list, int32_t serial)
{
    const auto it = FirstWithSerial(list, serial);
    if (it != list.end()) list.erase(it);
}

bool RemoveDevice(TDeviceList& list, const TDevEntry* record)
{
    const auto it =
        std::find_if(list.begin(), list.end(),
                     [record](const std::unique_ptr<TDevEntry>& e) { return e.get() == record; });
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

TDeviceKey KeyOf(const TDevEntry& device)
{
    // DriverKind 0 is FTDI, any other value the vendor library.
    return {device.DriverKind == FtdiDriver ? FtdiDriver : VendorDriver, device.SerialText};
}

TDevEntry* FindDevice(const TDeviceList& list, const TDeviceKey& key)
{
    const auto it =
        std::find_if(list.begin(), list.end(),
                     [&key](const std::unique_ptr<TDevEntry>& e) { return e && KeyOf(*e) == key; });
    return it == list.end() ? nullptr : it->get();
}
