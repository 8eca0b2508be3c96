// A stand-in driver library for the binding tests: every entry point of both libraries, each
// left out when OMIT_<name> is defined. The functions only report failure.

#include "sim/SimExport.h"

#include <cstdint>

#define EXPORT GXSIM_EXPORT

#ifndef OMIT_FT_Close
EXPORT uint32_t FT_Close(void*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_ResetDevice
EXPORT uint32_t FT_ResetDevice(void*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_Read
EXPORT uint32_t FT_Read(void*, void*, uint32_t, uint32_t*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_Write
EXPORT uint32_t FT_Write(void*, void*, uint32_t, uint32_t*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_SetTimeouts
EXPORT uint32_t FT_SetTimeouts(void*, uint32_t, uint32_t)
{
    return 4;
}
#endif
#ifndef OMIT_FT_GetStatus
EXPORT uint32_t FT_GetStatus(void*, uint32_t*, uint32_t*, uint32_t*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_CreateDeviceInfoList
EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_GetDeviceInfoList
EXPORT uint32_t FT_GetDeviceInfoList(void*, uint32_t*)
{
    return 4;
}
#endif
#ifndef OMIT_FT_OpenEx
EXPORT uint32_t FT_OpenEx(void*, uint32_t, void**)
{
    return 2;
}
#endif

#ifndef OMIT_LV_GetListDevices
EXPORT int32_t LV_GetListDevices(uint16_t, void*, uint32_t*)
{
    return 1;
}
#endif
#ifndef OMIT_LV_OpenDevice
EXPORT int32_t LV_OpenDevice(uint16_t, const char*, void**)
{
    return 1;
}
#endif
#ifndef OMIT_LV_CloseDevice
EXPORT int32_t LV_CloseDevice(void**)
{
    return 1;
}
#endif
#ifndef OMIT_LV_ReadNotTimeOut
EXPORT int32_t LV_ReadNotTimeOut(void*, void*, uint32_t, uint32_t*)
{
    return 1;
}
#endif
#ifndef OMIT_LV_Write
EXPORT int32_t LV_Write(void*, const void*, uint32_t, uint32_t*)
{
    return 1;
}
#endif
#ifndef OMIT_LV_Purge
EXPORT int32_t LV_Purge(void*)
{
    return 1;
}
#endif
#ifndef OMIT_LV_SetTimeouts
EXPORT int32_t LV_SetTimeouts(void*, uint32_t, uint32_t)
{
    return 1;
}
#endif
