#include "platform/DynamicLibrary.h"

#include <string>

#include <windows.h>

LibraryHandle LoadLibraryByName(const char* fileName)
{
    // The names are ASCII; widen them byte by byte.
    std::wstring wide;
    for (const char* p = fileName; *p; ++p)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return LoadLibraryW(wide.c_str());
}

void* LibraryEntryPoint(LibraryHandle library, const char* name)
{
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library)
{
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

// An empty text removes the current folder from the search order of LoadLibrary; the program's
// folder, the system folders and PATH are still searched.
void RemoveWorkingFolderFromLibrarySearch()
{
    SetDllDirectoryW(L"");
}

const char* FtdiLibraryFileName()
{
    return "ftd2xx.dll";
}
const char* VendorLibraryFileName()
{
    return "GXUSB.dll";
}
