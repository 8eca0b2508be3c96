#include "devices/Channel.h"

#include "devices/DriverBindings.h"
#include "platform/Ticks.h"

#include <algorithm>
#include <cstring>

namespace {
void PauseOneMs()
{
    PauseMs(1);
}

uint32_t FtdiReceiveQueue(FT_HANDLE handle)
{
    uint32_t rx = 0, tx = 0, events = 0;
    FtdiLibrary.FT_GetStatus(handle, &rx, &tx, &events);  // status ignored: rx stays 0 on failure
    return rx;
}

// ---- FTDI D2XX ----

bool FtdiOpen(TDevEntry& device)
{
    if (!FtdiLibrary.Module) return false;
    // D2XX declares the argument without const; it only reads the text.
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = FtdiLibrary.FT_OpenEx(const_cast<char*>(device.SerialText.c_str()),
                                                   FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (status != FT_OK || !handle) return false;
    device.FtdiHandle = handle;
    FtdiLibrary.FT_SetTimeouts(handle, kFtdiReadTimeoutMs, kFtdiWriteTimeoutMs);
    // Status ignored, like the time-outs': the device works either way, only slower.
    if (FtdiLibrary.FT_SetLatencyTimer) FtdiLibrary.FT_SetLatencyTimer(handle, kFtdiLatencyTimerMs);
    return true;
}

void FtdiClose(TDevEntry& device)
{
    if (!FtdiLibrary.Module) return;
    if (device.FtdiHandle) {
        FtdiLibrary.FT_ResetDevice(device.FtdiHandle);
        FtdiLibrary.FT_Close(device.FtdiHandle);
    }
    device.FtdiHandle = nullptr;
}

bool FtdiWrite(TDevEntry& device, const void* data, uint32_t size, uint32_t& written)
{
    if (!FtdiLibrary.Module || !device.FtdiHandle) return false;
    // D2XX declares its write buffer without const; it only reads it.
    return FtdiLibrary.FT_Write(device.FtdiHandle, const_cast<void*>(data), size, &written) ==
           FT_OK;
}

uint32_t FtdiRead(TDevEntry& device, void* buffer, uint32_t capacity, uint32_t timeoutMs,
                  const ChannelStop& stop)
{
    if (!FtdiLibrary.Module) return 0;
    const uint32_t start = TickCount();
    if (!device.FtdiHandle) return 0;
    std::memset(buffer, 0, capacity);
    while (TicksSince(start) <= timeoutMs) {
        if (stop && stop()) return 0;
        if (FtdiReceiveQueue(device.FtdiHandle) == 0) {
            PauseOneMs();
            continue;
        }
        // Let the rest of a reply that is still arriving join the first bytes.
        PauseOneMs();
        const uint32_t wanted = std::min(FtdiReceiveQueue(device.FtdiHandle), capacity);
        uint32_t read = 0;
        if (FtdiLibrary.FT_Read(device.FtdiHandle, buffer, wanted, &read) != FT_OK) return 0;
        return std::min(read, wanted);  // a driver never hands back more than it was asked for
    }
    return 0;
}

uint32_t FtdiDiscardQueued(TDevEntry& device)
{
    if (!FtdiLibrary.Module || !device.FtdiHandle) return 0;
    uint32_t discarded = 0;
    // Bounded: a device that keeps sending cannot hold the caller here.
    for (int round = 0; round < 8; ++round) {
        const uint32_t queued = FtdiReceiveQueue(device.FtdiHandle);
        if (queued == 0) break;
        uint8_t scratch[1024];
        const uint32_t wanted = std::min<uint32_t>(queued, sizeof scratch);
        uint32_t read = 0;
        if (FtdiLibrary.FT_Read(device.FtdiHandle, scratch, wanted, &read) != FT_OK) break;
        discarded += std::min(read, wanted);
        if (read == 0) break;
    }
    return discarded;
}

// ---- The vendor library ----

bool VendorOpen(TDevEntry& device)
{
    if (!VendorLibrary.Module) return false;
    void* handle = nullptr;
    const int32_t result =
        VendorLibrary.LV_OpenDevice(device.DeviceCode, device.SerialText.c_str(), &handle);
    if (result != 0 || !handle) return false;
    device.VendorHandle = handle;
    VendorLibrary.LV_SetTimeouts(handle, kVendorFirstTimeout, kVendorSecondTimeout);
    return true;
}

void VendorClose(TDevEntry& device)
{
    if (!VendorLibrary.Module) return;
    if (device.VendorHandle) VendorLibrary.LV_CloseDevice(&device.VendorHandle);
    device.VendorHandle = nullptr;
}

bool VendorWrite(TDevEntry& device, const void* data, uint32_t size, uint32_t& written)
{
    if (!VendorLibrary.Module || !device.VendorHandle) return false;
    return VendorLibrary.LV_Write(device.VendorHandle, data, size, &written) == 0;
}

uint32_t VendorRead(TDevEntry& device, void* buffer, uint32_t capacity, uint32_t /*timeoutMs*/,
                    const ChannelStop& /*stop*/)
{
    // One call that the library bounds itself; it cannot be cut short.
    if (!VendorLibrary.Module) return 0;
    uint32_t count = 0;
    if (device.VendorHandle)
        VendorLibrary.LV_ReadNotTimeOut(device.VendorHandle, buffer, capacity, &count);
    return std::min(count, capacity);
}

// The operations of each driver kind: one row per library.
struct ChannelOperations {
    bool (*Open)(TDevEntry& device);
    void (*Close)(TDevEntry& device);
    bool (*Write)(TDevEntry& device, const void* data, uint32_t size, uint32_t& written);
    uint32_t (*Read)(TDevEntry& device, void* buffer, uint32_t capacity, uint32_t timeoutMs,
                     const ChannelStop& stop);
    uint32_t (*DiscardQueued)(TDevEntry& device);
};

uint32_t VendorDiscardQueued(TDevEntry& /*device*/)
{
    return 0;
}

constexpr ChannelOperations kFtdiChannel = {FtdiOpen, FtdiClose, FtdiWrite, FtdiRead,
                                            FtdiDiscardQueued};
constexpr ChannelOperations kVendorChannel = {VendorOpen, VendorClose, VendorWrite, VendorRead,
                                              VendorDiscardQueued};

// The one place that picks a library: DriverKind 0 is FTDI, any other value the vendor library.
const ChannelOperations& OperationsOf(const TDevEntry& device)
{
    return device.DriverKind == FtdiDriver ? kFtdiChannel : kVendorChannel;
}
}  // namespace

bool ChannelOpen(TDevEntry& device)
{
    return OperationsOf(device).Open(device);
}

bool ChannelIsOpen(const TDevEntry& device)
{
    return (device.DriverKind == FtdiDriver ? device.FtdiHandle : device.VendorHandle) != nullptr;
}

void ChannelClose(TDevEntry& device)
{
    OperationsOf(device).Close(device);
}

bool ChannelWrite(TDevEntry& device, const void* data, uint32_t size, uint32_t& written)
{
    return OperationsOf(device).Write(device, data, size, written);
}

bool ChannelSend(TDevEntry& device, const void* data, uint32_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t position = 0;
    while (position < size) {
        const uint32_t piece = std::min(size - position, kChannelPieceSize);
        uint32_t written = 0;
        if (!ChannelWrite(device, bytes + position, piece, written) || written != piece)
            return false;
        position += piece;
        if (position < size) PauseOneMs();
    }
    return true;
}

uint32_t ChannelRead(TDevEntry& device, void* buffer, uint32_t capacity, uint32_t timeoutMs,
                     const ChannelStop& stop)
{
    return OperationsOf(device).Read(device, buffer, capacity, timeoutMs, stop);
}

uint32_t ChannelDiscardQueued(TDevEntry& device)
{
    return OperationsOf(device).DiscardQueued(device);
}
