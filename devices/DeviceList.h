#pragma once
// Lists of device records: the window's DeviceList and a scan's found devices.

#include "devices/Structs.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TDeviceList = std::vector<std::unique_ptr<TDevEntry>>;

// What tells one attached device from another: the library that lists it and its serial text. Two
// devices may share a serial number (two texts that do not read as one both give -1; "7" and "007"
// both give 7), and one number may come through both libraries.
struct TDeviceKey {
    int32_t DriverKind = FtdiDriver;  // FtdiDriver or VendorDriver
    std::string SerialText;
    auto operator<=>(const TDeviceKey&) const = default;
};
TDeviceKey KeyOf(const TDevEntry& device);

// The first record of the list with that key; null when there is none.
TDevEntry* FindDevice(const TDeviceList& list, const TDeviceKey& key);

// The first record of the list whose SerialNumber is serial; null when there is none.
TDevEntry* FindDeviceBySerial(const TDeviceList& list, int32_t serial);

// Destroys the first record of the list whose SerialNumber is serial (its panel goes with it) and
// takes it out of the list; nothing happens when there is none. The record's channel must be
// closed: destroying a record does not close it.
void RemoveDeviceBySerial(TDeviceList& list, int32_t serial);

// Destroys that very record (its panel goes with it) and takes it out of the list; false when the
// list does not hold it. The record's channel must be closed.
bool RemoveDevice(TDeviceList& list, const TDevEntry* record);
