#include "devices/DriverLists.h"

#include "devices/DriverBindings.h"
#include "devices/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {
template <size_t N>
std::string BoundedText(const char (&field)[N])
{
    const void* end = std::memchr(field, 0, N);
    const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - field) : N;
    return std::string(field, length);
}
}  // namespace

std::string NodeSerialText(const FT_DEVICE_LIST_INFO_NODE& node)
{
    return BoundedText(node.SerialNumber);
}

std::string NodeDescriptionText(const FT_DEVICE_LIST_INFO_NODE& node)
{
    return BoundedText(node.Description);
}

std::string RecordSerialText(const VendorDeviceRecord& record)
{
    return BoundedText(record.SerialNumber);
}

uint16_t RecordDeviceCode(const VendorDeviceRecord& record)
{
    return ReadLe16(record.DeviceCode);
}

DriverListResult ReadFtdiDeviceList(std::vector<FtdiListEntry>& entries)
{
    entries.clear();
    if (!FtdiLibrary.Module) return DriverListResult::NotBound;
    uint32_t count = 0;
    if (FtdiLibrary.FT_CreateDeviceInfoList(&count) != FT_OK) return DriverListResult::DriverError;
    if (count == 0) return DriverListResult::Ok;
    if (count > kMaxDriverDevices) return DriverListResult::DriverError;
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    uint32_t filled = count;
    if (FtdiLibrary.FT_GetDeviceInfoList(nodes.data(), &filled) != FT_OK)
        return DriverListResult::DriverError;
    filled = std::min(filled, count);
    for (uint32_t i = 0; i < filled; ++i)
        entries.push_back(
            {NodeSerialText(nodes[i]), NodeDescriptionText(nodes[i]), nodes[i].Flags});
    return DriverListResult::Ok;
}

DriverListResult ReadVendorDeviceList(std::vector<VendorListEntry>& entries)
{
    entries.clear();
    if (!VendorLibrary.Module) return DriverListResult::NotBound;
    uint32_t count = LV_LIST_PRESET;
    if (VendorLibrary.LV_GetListDevices(LV_ALL_DEVICES, nullptr, &count) != 0)
        return DriverListResult::DriverError;
    if (count == 0) return DriverListResult::Ok;
    if (count > kMaxDriverDevices) return DriverListResult::DriverError;
    const uint32_t allocated = count;
    std::vector<VendorDeviceRecord> records(allocated);
    std::memset(records.data(), 0, records.size() * sizeof(VendorDeviceRecord));
    if (VendorLibrary.LV_GetListDevices(LV_ALL_DEVICES, records.data(), &count) != 0)
        return DriverListResult::DriverError;
    count = std::min(count, allocated);
    for (uint32_t i = 0; i < count; ++i)
        entries.push_back({RecordSerialText(records[i]), RecordDeviceCode(records[i])});
    return DriverListResult::Ok;
}
