#pragma once
// The two process-wide driver library bindings. A non-null Module is the one sign that a binding
// is usable: every caller tests it before calling any entry point of that library. Both are
// written once on the window thread when the main window is first shown and only read afterwards,
// by every thread, without locking (starting a thread orders those reads after the writes).

#include "devices/DriverApi.h"
#include "platform/DynamicLibrary.h"

struct TFtdiLibrary {
    LibraryHandle Module = nullptr;
    FT_Close_t FT_Close = nullptr;
    FT_ResetDevice_t FT_ResetDevice = nullptr;
    FT_Read_t FT_Read = nullptr;
    FT_Write_t FT_Write = nullptr;
    FT_SetTimeouts_t FT_SetTimeouts = nullptr;
    FT_GetStatus_t FT_GetStatus = nullptr;
    FT_CreateDeviceInfoList_t FT_CreateDeviceInfoList = nullptr;
    FT_GetDeviceInfoList_t FT_GetDeviceInfoList = nullptr;
    FT_OpenEx_t FT_OpenEx = nullptr;
    // Optional, outside the required set: where the library has it, the loader shortens the
    // chip's latency timer (see kFtdiLatencyTimerMs); a library without it binds all the same.
    FT_SetLatencyTimer_t FT_SetLatencyTimer = nullptr;
};

struct TVendorLibrary {
    LibraryHandle Module = nullptr;
    LV_GetListDevices_t LV_GetListDevices = nullptr;
    LV_OpenDevice_t LV_OpenDevice = nullptr;
    LV_CloseDevice_t LV_CloseDevice = nullptr;
    LV_ReadNotTimeOut_t LV_ReadNotTimeOut = nullptr;
    LV_Write_t LV_Write = nullptr;
    LV_Purge_t LV_Purge = nullptr;  // never called, but part of the contract
    LV_SetTimeouts_t LV_SetTimeouts = nullptr;
};

extern TFtdiLibrary FtdiLibrary;
extern TVendorLibrary VendorLibrary;

// Binds the library of the given file name into binding, all or nothing: the required entry points
// are resolved in the order of the structure's fields; at the first missing name the library is
// unloaded, binding is left untouched and the result is null. Optional entry points are resolved
// afterwards and stay null where missing. Returns the module handle.
LibraryHandle BindFtdiLibraryFile(TFtdiLibrary& binding, const char* fileName);
LibraryHandle BindVendorLibraryFile(TVendorLibrary& binding, const char* fileName);

// Bind the process-wide bindings from this system's library file names.
LibraryHandle BindFtdiLibrary();
LibraryHandle BindVendorLibrary();

struct TDriverBindings {
    bool Ftdi = false;
    bool Vendor = false;
};

// Binds each process-wide binding that is not bound yet and reports which are bound afterwards.
// Window thread only, before any worker starts. Reports nothing itself: the window shows the
// message box when neither is bound and logs the missing one otherwise.
TDriverBindings BindMissingDriverLibraries();
