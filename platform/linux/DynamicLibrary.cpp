#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

// dlopen of a bare name searches LD_LIBRARY_PATH, the run paths and the system's library folders;
// it never looks in the working folder unless LD_LIBRARY_PATH asks for it.
LibraryHandle LoadLibraryByName(const char* fileName)
{
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* LibraryEntryPoint(LibraryHandle library, const char* name)
{
    return library ? dlsym(library, name) : nullptr;
}

void UnloadLibrary(LibraryHandle library)
{
    if (library) dlclose(library);
}

void RemoveWorkingFolderFromLibrarySearch() {}

const char* FtdiLibraryFileName()
{
    return "libftd2xx.so";
}
const char* VendorLibraryFileName()
{
    return "libGXUSB.so";
}
