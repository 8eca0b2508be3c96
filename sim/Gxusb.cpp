// The simulator's stand-in for the maker's USB library (libGXUSB.so; GXUSB.dll on Windows): the
// seven entry points of the loader's contract, serving the vendor-library devices of the state
// folder.

#include "sim/SimDevice.h"
#include "sim/SimExport.h"
#include "sim/SimFolder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {
using gxsim::Connection;

// The library's device record: 25 bytes, packed, back to back.
struct Record {
    uint8_t Index[2];       // the record's position, little-endian
    uint8_t DeviceCode[2];  // little-endian
    char SerialNumber[21];
};
static_assert(sizeof(Record) == 25);

constexpr int32_t kOk = 0, kError = 1, kNotFound = 2, kNotOpened = 3, kBadHandle = 4, kIoError = 5;
constexpr uint16_t kAllDevices = 0xFFFF;

std::mutex mutex;
std::map<void*, std::shared_ptr<Connection>>& Handles()
{
    static std::map<void*, std::shared_ptr<Connection>> handles;
    return handles;
}

std::shared_ptr<Connection> Find(void* handle)
{
    std::lock_guard lock(mutex);
    auto it = Handles().find(handle);
    return it == Handles().end() ? nullptr : it->second;
}

int32_t ResultOf(Connection::Result result)
{
    return result == Connection::Result::Ok ? kOk : kIoError;
}
}  // namespace

GXSIM_EXPORT int32_t LV_GetListDevices(uint16_t selector, void* records, uint32_t* count)
{
    if (!count) return kError;
    gxsim::SimFolder folder(gxsim::SimFolder::FromEnvironment());
    gxsim::SimState state;
    if (!folder.Dir().empty() && !folder.Load(state)) return kError;
    if (records ? state.Library.VendorListFails : state.Library.VendorCountFails) return kError;
    std::vector<const gxsim::DeviceSetup*> devices;
    for (const gxsim::DeviceSetup& d : state.Devices)
        if (d.Plugged && d.Kind == gxsim::Driver::Vendor &&
            (selector == kAllDevices || selector == d.DeviceCode))
            devices.push_back(&d);
    if (!records) {
        *count = static_cast<uint32_t>(devices.size());
        return kOk;
    }
    // Never more records than the caller says it has room for.
    const uint32_t room = std::min<uint32_t>(*count, static_cast<uint32_t>(devices.size()));
    auto* out = static_cast<Record*>(records);
    for (uint32_t i = 0; i < room; ++i) {
        Record record{};
        record.Index[0] = static_cast<uint8_t>(i);
        record.Index[1] = static_cast<uint8_t>(i >> 8);
        record.DeviceCode[0] = static_cast<uint8_t>(devices[i]->DeviceCode);
        record.DeviceCode[1] = static_cast<uint8_t>(devices[i]->DeviceCode >> 8);
        const std::string& serial = devices[i]->ListedSerialText();
        std::memcpy(record.SerialNumber, serial.data(),
                    std::min(sizeof record.SerialNumber, serial.size()));
        std::memcpy(&out[i], &record, sizeof record);
    }
    *count = static_cast<uint32_t>(devices.size()) + state.Library.VendorCountExtra;
    return kOk;
}

GXSIM_EXPORT int32_t LV_OpenDevice(uint16_t deviceCode, const char* serial, void** handle)
{
    if (!serial || !handle) return kError;
    Connection::OpenError error;
    std::shared_ptr<Connection> connection = Connection::Open(
        gxsim::SimFolder::FromEnvironment(), gxsim::Driver::Vendor, serial, deviceCode, error);
    if (!connection) return error == Connection::OpenError::NotFound ? kNotFound : kNotOpened;
    std::lock_guard lock(mutex);
    *handle = connection.get();
    Handles()[connection.get()] = connection;
    return kOk;
}

GXSIM_EXPORT int32_t LV_CloseDevice(void** handle)
{
    if (!handle) return kError;
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex);
        auto it = Handles().find(*handle);
        if (it == Handles().end()) return kBadHandle;
        connection = it->second;
        Handles().erase(it);
    }
    connection->Close();
    return kOk;
}

GXSIM_EXPORT int32_t LV_ReadNotTimeOut(void* handle, void* buffer, uint32_t capacity,
                                       uint32_t* count)
{
    auto connection = Find(handle);
    if (!connection) return kBadHandle;
    if ((!buffer && capacity) || !count) return kError;
    gxsim::SimState state;
    gxsim::SimFolder(gxsim::SimFolder::FromEnvironment()).Load(state);
    const gxsim::DeviceSetup* setup = state.Find(connection->Serial());
    const uint32_t wait = setup && setup->ReadWaitMs >= 0 ? static_cast<uint32_t>(setup->ReadWaitMs)
                                                          : connection->FirstTimeout();
    // Comes back with what has arrived as soon as anything has, or empty after the wait.
    return ResultOf(connection->Read(static_cast<uint8_t*>(buffer), capacity, wait, false, *count));
}

GXSIM_EXPORT int32_t LV_Write(void* handle, const void* data, uint32_t size, uint32_t* written)
{
    auto connection = Find(handle);
    if (!connection) return kBadHandle;
    if ((!data && size) || !written) return kError;
    return ResultOf(connection->Write(static_cast<const uint8_t*>(data), size, *written));
}

GXSIM_EXPORT int32_t LV_Purge(void* handle)
{
    auto connection = Find(handle);
    if (!connection) return kBadHandle;
    connection->Reset();
    return kOk;
}

GXSIM_EXPORT int32_t LV_SetTimeouts(void* handle, uint32_t first, uint32_t second)
{
    auto connection = Find(handle);
    if (!connection) return kBadHandle;
    connection->SetTimeouts(first, second);
    return kOk;
}
