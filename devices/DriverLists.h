#pragma once
// One read of each driver library's device list, for the enumeration. Every text is read within
// its field (a driver may fill a field to the end without a terminator) and nothing is read or
// written beyond the records allocated here, whatever counts the driver reports.

#include "devices/DriverApi.h"

#include <cstdint>
#include <string>
#include <vector>

// Largest device count taken from a driver; a larger one is treated as a driver error, since
// FTDI's list call fills as many nodes as its own count says.
inline constexpr uint32_t kMaxDriverDevices = 1024;

std::string NodeSerialText(const FT_DEVICE_LIST_INFO_NODE& node);
std::string NodeDescriptionText(const FT_DEVICE_LIST_INFO_NODE& node);
std::string RecordSerialText(const VendorDeviceRecord& record);
uint16_t RecordDeviceCode(const VendorDeviceRecord& record);

enum class DriverListResult {
    Ok,           // the list was read (possibly empty)
    DriverError,  // a list call failed, or reported an impossible count
    NotBound,     // the library is not bound; nothing was called
};

struct FtdiListEntry {
    std::string Serial;
    std::string Description;
    uint32_t Flags = 0;  // FT_FLAGS_OPENED
};

struct VendorListEntry {
    std::string Serial;
    uint16_t DeviceCode = 0;
};

// FT_CreateDeviceInfoList, then (when the count is not 0) FT_GetDeviceInfoList into that many
// nodes. entries receives the nodes in driver order.
DriverListResult ReadFtdiDeviceList(std::vector<FtdiListEntry>& entries);

// LV_GetListDevices with no array and the count preset to 5, then (when the count is not 0) with
// that many records and the same count variable. A second count larger than the records
// allocated is cut to them.
DriverListResult ReadVendorDeviceList(std::vector<VendorListEntry>& entries);
