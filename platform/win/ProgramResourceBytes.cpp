#include "platform/win/ProgramResourceBytes.h"

#include <windows.h>

std::optional<std::string_view> ProgramResourceBytes(const std::wstring& name,
                                                     const std::wstring& type)
{
    HRSRC info = FindResourceW(nullptr, name.c_str(), type.c_str());
    if (!info) return std::nullopt;
    const DWORD size = SizeofResource(nullptr, info);
    HGLOBAL handle = LoadResource(nullptr, info);  // not freed: it lives as long as the module
    if (!handle) return std::nullopt;
    const void* data = LockResource(handle);
    if (!data) return std::nullopt;
    return std::string_view(static_cast<const char*>(data), size);
}
