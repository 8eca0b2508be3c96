#pragma once
// Every entry point the loader requires of the two driver libraries: a library lacking any one of
// them is not bound. The binding tests of each system try a library without each in turn.

inline constexpr const char* kRequiredEntryPoints[] = {"FT_Close",
                                                       "FT_ResetDevice",
                                                       "FT_Read",
                                                       "FT_Write",
                                                       "FT_SetTimeouts",
                                                       "FT_GetStatus",
                                                       "FT_CreateDeviceInfoList",
                                                       "FT_GetDeviceInfoList",
                                                       "FT_OpenEx",
                                                       "LV_GetListDevices",
                                                       "LV_OpenDevice",
                                                       "LV_CloseDevice",
                                                       "LV_ReadNotTimeOut",
                                                       "LV_Write",
                                                       "LV_Purge",
                                                       "LV_SetTimeouts"};
