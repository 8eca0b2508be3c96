#pragma once
// The binary interfaces of the two USB driver libraries, as the loader calls them: FTDI's D2XX
// library and the maker's own USB library. Written from the published D2XX interface and from the
// loader's contract with the vendor library; no vendor header is used.

#include <cstddef>
#include <cstdint>

// Both libraries use the system's standard calling convention: __stdcall on Windows, the plain C
// convention elsewhere.
#if defined(_WIN32)
#define GX_DRIVER_CALL __stdcall
#else
#define GX_DRIVER_CALL
#endif

// ---- FTDI D2XX ----
// DWORD and ULONG are 32-bit on every platform D2XX supports (unsigned long on Windows, unsigned
// int on Linux), so they are written as uint32_t.
using FT_STATUS = uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
// Flags of a device-information node: the device is open. Opened by another program, the node
// has nothing else: its serial number and description are empty.
inline constexpr uint32_t FT_FLAGS_OPENED = 1;

struct FT_DEVICE_LIST_INFO_NODE {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};
// 100 bytes with 32-bit pointers, 104 with 64-bit ones (the handle is 8-byte aligned).
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber) == 16);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, Description) == 32);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, ftHandle) == 96);
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(void*) == 8 ? 104 : 100));

extern "C" {
typedef FT_STATUS(GX_DRIVER_CALL* FT_Close_t)(FT_HANDLE handle);
typedef FT_STATUS(GX_DRIVER_CALL* FT_ResetDevice_t)(FT_HANDLE handle);
typedef FT_STATUS(GX_DRIVER_CALL* FT_Read_t)(FT_HANDLE handle, void* buffer, uint32_t bytesToRead,
                                             uint32_t* bytesReturned);
typedef FT_STATUS(GX_DRIVER_CALL* FT_Write_t)(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                                              uint32_t* bytesWritten);
typedef FT_STATUS(GX_DRIVER_CALL* FT_SetTimeouts_t)(FT_HANDLE handle, uint32_t readTimeout,
                                                    uint32_t writeTimeout);
typedef FT_STATUS(GX_DRIVER_CALL* FT_GetStatus_t)(FT_HANDLE handle, uint32_t* rxQueue,
                                                  uint32_t* txQueue, uint32_t* eventStatus);
typedef FT_STATUS(GX_DRIVER_CALL* FT_CreateDeviceInfoList_t)(uint32_t* deviceCount);
typedef FT_STATUS(GX_DRIVER_CALL* FT_GetDeviceInfoList_t)(FT_DEVICE_LIST_INFO_NODE* list,
                                                          uint32_t* deviceCount);
typedef FT_STATUS(GX_DRIVER_CALL* FT_OpenEx_t)(void* arg, uint32_t flags, FT_HANDLE* handle);
typedef FT_STATUS(GX_DRIVER_CALL* FT_SetLatencyTimer_t)(FT_HANDLE handle, uint8_t latencyMs);
}

// ---- The vendor library ----
inline constexpr uint16_t LV_ALL_DEVICES = 0xFFFF;  // list selector the loader passes
inline constexpr uint32_t LV_LIST_PRESET = 5;       // count preset before the first list call

// One entry of the vendor library's device list: 25 bytes, packed, records back to back. Byte
// arrays only, so no packing directive is needed.
struct VendorDeviceRecord {
    uint8_t Reserved[2];
    uint8_t DeviceCode[2];  // little-endian
    char SerialNumber[21];
};
static_assert(sizeof(VendorDeviceRecord) == 25);
static_assert(offsetof(VendorDeviceRecord, DeviceCode) == 2);
static_assert(offsetof(VendorDeviceRecord, SerialNumber) == 4);

extern "C" {
typedef int32_t(GX_DRIVER_CALL* LV_GetListDevices_t)(uint16_t selector, void* records,
                                                     uint32_t* count);
typedef int32_t(GX_DRIVER_CALL* LV_OpenDevice_t)(uint16_t deviceCode, const char* serial,
                                                 void** handle);
typedef int32_t(GX_DRIVER_CALL* LV_CloseDevice_t)(void** handle);
typedef int32_t(GX_DRIVER_CALL* LV_ReadNotTimeOut_t)(void* handle, void* buffer, uint32_t capacity,
                                                     uint32_t* count);
typedef int32_t(GX_DRIVER_CALL* LV_Write_t)(void* handle, const void* data, uint32_t size,
                                            uint32_t* written);
typedef int32_t(GX_DRIVER_CALL* LV_Purge_t)(void* handle);
typedef int32_t(GX_DRIVER_CALL* LV_SetTimeouts_t)(void* handle, uint32_t first, uint32_t second);
}
