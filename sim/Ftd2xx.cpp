// The simulator's stand-in for FTDI's D2XX library (libftd2xx.so; ftd2xx.dll on Windows): the
// entry points the loader binds, with D2XX's binary interface, serving the FTDI devices of the
// state folder.

#include "sim/SimDevice.h"
#include "sim/SimExport.h"
#include "sim/SimFolder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {
using gxsim::Connection;

// The device-information node as D2XX lays it out: 104 bytes on 64-bit systems.
struct Node {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    void* ftHandle;
};
static_assert(offsetof(Node, SerialNumber) == 16 && offsetof(Node, Description) == 32);
static_assert(offsetof(Node, ftHandle) == 96);

constexpr uint32_t kOk = 0, kInvalidHandle = 1, kDeviceNotFound = 2, kDeviceNotOpened = 3,
                   kIoError = 4, kInvalidParameter = 6;
constexpr uint32_t kOpenBySerialNumber = 1;
constexpr uint32_t kFlagOpened = 1;  // FT_FLAGS_OPENED
constexpr uint32_t kDevice232R = 5;
constexpr uint32_t kVidPid = 0x04036001;

std::mutex mutex;
std::map<void*, std::shared_ptr<Connection>>& Handles()
{
    static std::map<void*, std::shared_ptr<Connection>> handles;
    return handles;
}
// The list the last FT_CreateDeviceInfoList built, as the real driver keeps it.
std::vector<Node>& Snapshot()
{
    static std::vector<Node> nodes;
    return nodes;
}

std::shared_ptr<Connection> Find(void* handle)
{
    std::lock_guard lock(mutex);
    auto it = Handles().find(handle);
    return it == Handles().end() ? nullptr : it->second;
}

void* OpenHandleOf(const std::string& serial)
{
    for (const auto& [handle, connection] : Handles())
        if (connection->Serial() == serial) return handle;
    return nullptr;
}

// Copies a text into a fixed field; a text that fills the field has no terminator, as a driver
// may hand it over.
template <size_t N>
void Fill(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

uint32_t StatusOf(Connection::Result result)
{
    return result == Connection::Result::Ok ? kOk : kIoError;
}
}  // namespace

GXSIM_EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t* count)
{
    if (!count) return kInvalidParameter;
    gxsim::SimFolder folder(gxsim::SimFolder::FromEnvironment());
    gxsim::SimState state;
    std::vector<Node> nodes;
    if (!folder.Dir().empty() && folder.Load(state)) {
        if (state.Library.FtdiCountFails) return kIoError;
        bool counting = false;
        std::lock_guard lock(mutex);
        for (const gxsim::DeviceSetup& d : state.Devices) {
            if (!d.Plugged || d.Kind != gxsim::Driver::Ftdi) continue;
            Node node{};
            node.LocId = 0x1000 + static_cast<uint32_t>(nodes.size());
            if (d.OpenElsewhere) {
                // Open in another process: the driver can tell nothing but that.
                node.Flags = kFlagOpened;
                nodes.push_back(node);
                continue;
            }
            void* open = OpenHandleOf(d.Serial);
            node.Flags = open ? kFlagOpened : 0;
            node.Type = kDevice232R;
            node.ID = kVidPid;
            Fill(node.SerialNumber, d.ListedSerialText());
            // A driver that has not read the description yet reports it empty.
            Fill(node.Description, d.DescriptionReads < d.LateDescription ? "" : d.Description);
            node.ftHandle = open;
            nodes.push_back(node);
            counting = counting || d.DescriptionReads < d.LateDescription;
        }
        if (counting)
            folder.Modify([](gxsim::SimState& s, std::string&) {
                for (gxsim::DeviceSetup& d : s.Devices)
                    if (d.Plugged && d.Kind == gxsim::Driver::Ftdi &&
                        d.DescriptionReads < d.LateDescription)
                        ++d.DescriptionReads;
                return true;
            });
    }
    std::lock_guard lock(mutex);
    Snapshot() = nodes;
    *count = static_cast<uint32_t>(nodes.size());
    return kOk;
}

GXSIM_EXPORT uint32_t FT_GetDeviceInfoList(Node* list, uint32_t* count)
{
    if (!list || !count) return kInvalidParameter;
    gxsim::SimFolder folder(gxsim::SimFolder::FromEnvironment());
    gxsim::SimState state;
    if (!folder.Dir().empty() && folder.Load(state) && state.Library.FtdiListFails) return kIoError;
    std::lock_guard lock(mutex);
    // Like the real driver: as many nodes as its own list has, whatever the caller allocated.
    std::copy(Snapshot().begin(), Snapshot().end(), list);
    *count = static_cast<uint32_t>(Snapshot().size());
    return kOk;
}

GXSIM_EXPORT uint32_t FT_OpenEx(void* arg, uint32_t flags, void** handle)
{
    if (!arg || !handle) return kInvalidParameter;
    if (flags != kOpenBySerialNumber) return kInvalidParameter;
    Connection::OpenError error;
    std::shared_ptr<Connection> connection =
        Connection::Open(gxsim::SimFolder::FromEnvironment(), gxsim::Driver::Ftdi,
                         static_cast<const char*>(arg), std::nullopt, error);
    if (!connection)
        return error == Connection::OpenError::NotFound ? kDeviceNotFound : kDeviceNotOpened;
    std::lock_guard lock(mutex);
    *handle = connection.get();
    Handles()[connection.get()] = connection;
    return kOk;
}

GXSIM_EXPORT uint32_t FT_Close(void* handle)
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex);
        auto it = Handles().find(handle);
        if (it == Handles().end()) return kInvalidHandle;
        connection = it->second;
        Handles().erase(it);
    }
    connection->Close();
    return kOk;
}

GXSIM_EXPORT uint32_t FT_ResetDevice(void* handle)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    connection->Reset();
    return kOk;
}

GXSIM_EXPORT uint32_t FT_SetTimeouts(void* handle, uint32_t readTimeout, uint32_t writeTimeout)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    connection->SetTimeouts(readTimeout, writeTimeout);
    return kOk;
}

#ifndef GXSIM_NO_LATENCY_TIMER
// D2XX's FT_SetLatencyTimer: 2 to 255 ms on the chips the devices use.
GXSIM_EXPORT uint32_t FT_SetLatencyTimer(void* handle, uint8_t latencyMs)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    if (latencyMs < 2) return kInvalidParameter;
    connection->SetLatencyTimer(latencyMs);
    return kOk;
}
#endif

GXSIM_EXPORT uint32_t FT_Write(void* handle, void* buffer, uint32_t size, uint32_t* written)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    if ((!buffer && size) || !written) return kInvalidParameter;
    return StatusOf(connection->Write(static_cast<const uint8_t*>(buffer), size, *written));
}

GXSIM_EXPORT uint32_t FT_Read(void* handle, void* buffer, uint32_t size, uint32_t* read)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    if ((!buffer && size) || !read) return kInvalidParameter;
    // Waits for all the bytes asked for, up to the read time-out.
    return StatusOf(connection->Read(static_cast<uint8_t*>(buffer), size,
                                     connection->FirstTimeout(), true, *read));
}

GXSIM_EXPORT uint32_t FT_GetStatus(void* handle, uint32_t* rxQueue, uint32_t* txQueue,
                                   uint32_t* events)
{
    auto connection = Find(handle);
    if (!connection) return kInvalidHandle;
    if (!rxQueue || !txQueue || !events) return kInvalidParameter;
    *txQueue = 0;
    *events = 0;
    return StatusOf(connection->Queued(*rxQueue));
}
