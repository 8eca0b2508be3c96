#include "devices/DriverBindings.h"

TFtdiLibrary FtdiLibrary;
TVendorLibrary VendorLibrary;

namespace {
template <typename Fn>
bool Resolve(LibraryHandle library, const char* name, Fn& slot)
{
    void* address = LibraryEntryPoint(library, name);
    if (!address) return false;
    slot = reinterpret_cast<Fn>(address);
    return true;
}
}  // namespace

LibraryHandle BindFtdiLibraryFile(TFtdiLibrary& binding, const char* fileName)
{
    LibraryHandle library = LoadLibraryByName(fileName);
    if (!library) return nullptr;
    TFtdiLibrary found;
    // && stops at the first name that is missing.
    const bool complete =
        Resolve(library, "FT_Close", found.FT_Close) &&
        Resolve(library, "FT_ResetDevice", found.FT_ResetDevice) &&
        Resolve(library, "FT_Read", found.FT_Read) &&
        Resolve(library, "FT_Write", found.FT_Write) &&
        Resolve(library, "FT_SetTimeouts", found.FT_SetTimeouts) &&
        Resolve(library, "FT_GetStatus", found.FT_GetStatus) &&
        Resolve(library, "FT_CreateDeviceInfoList", found.FT_CreateDeviceInfoList) &&
        Resolve(library, "FT_GetDeviceInfoList", found.FT_GetDeviceInfoList) &&
        Resolve(library, "FT_OpenEx", found.FT_OpenEx);
    if (!complete) {
        UnloadLibrary(library);
        return nullptr;
    }
    Resolve(library, "FT_SetLatencyTimer", found.FT_SetLatencyTimer);  // optional
    found.Module = library;
    binding = found;
    return library;
}

LibraryHandle BindVendorLibraryFile(TVendorLibrary& binding, const char* fileName)
{
    LibraryHandle library = LoadLibraryByName(fileName);
    if (!library) return nullptr;
    TVendorLibrary found;
    const bool complete = Resolve(library, "LV_GetListDevices", found.LV_GetListDevices) &&
                          Resolve(library, "LV_OpenDevice", found.LV_OpenDevice) &&
                          Resolve(library, "LV_CloseDevice", found.LV_CloseDevice) &&
                          Resolve(library, "LV_ReadNotTimeOut", found.LV_ReadNotTimeOut) &&
                          Resolve(library, "LV_Write", found.LV_Write) &&
                          Resolve(library, "LV_Purge", found.LV_Purge) &&
                          Resolve(library, "LV_SetTimeouts", found.LV_SetTimeouts);
    if (!complete) {
        UnloadLibrary(library);
        return nullptr;
    }
    found.Module = library;
    binding = found;
    return library;
}

LibraryHandle BindFtdiLibrary()
{
    return BindFtdiLibraryFile(FtdiLibrary, FtdiLibraryFileName());
}

LibraryHandle BindVendorLibrary()
{
    return BindVendorLibraryFile(VendorLibrary, VendorLibraryFileName());
}

TDriverBindings BindMissingDriverLibraries()
{
    if (!FtdiLibrary.Module) BindFtdiLibrary();
    if (!VendorLibrary.Module) BindVendorLibrary();
    return {FtdiLibrary.Module != nullptr, VendorLibrary.Module != nullptr};
}
