#pragma once
// Lists of device records: the window's DeviceList and a scan's found devices. Devices are told
// apart by SerialNumber alone, whichever library found them.

#include "devices/Structs.h"

#include <cstdint>
#include <memory>
#include <vector>

using TDeviceList = std::vector<std::unique_ptr<TDevEntry>>;

// The first record of the list whose SerialNumber is serial; null when there is none.
TDevEntry* FindDeviceBySerial(const TDeviceList& list, int32_t serial);

// Destroys the first record of the list whose SerialNumber is serial (its panel goes with it) and
// takes it out of the list; nothing happens when there is none. The record's channel must be
// closed: destroying a record does not close it.
void RemoveDeviceBySerial(TDeviceList& list, int32_t serial);

// Destroys that very record (its panel goes with it) and takes it out of the list; false when the
// list does not hold it. The record's channel must be closed.
bool RemoveDevice(TDeviceList& list, const TDevEntry* record);
