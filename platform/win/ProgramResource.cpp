#include "platform/ProgramResource.h"

#include <QString>
#include <string>
#include <windows.h>

// The resource type is a name ("RC_DATA"), not the predefined numeric RT_RCDATA.
std::optional<QByteArray> OpenProgramResource(const char* name, const char* type)
{
    const std::wstring wideName = QString::fromLatin1(name).toStdWString();
    const std::wstring wideType = QString::fromLatin1(type).toStdWString();
    HRSRC info = FindResourceW(nullptr, wideName.c_str(), wideType.c_str());
    if (!info) return std::nullopt;
    const DWORD size = SizeofResource(nullptr, info);
    HGLOBAL handle = LoadResource(nullptr, info);  // not freed: it lives as long as the module
    if (!handle) return std::nullopt;
    const void* data = LockResource(handle);
    if (!data) return std::nullopt;
    return QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
}
