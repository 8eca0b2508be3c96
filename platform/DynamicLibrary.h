#pragma once
// Run-time loading of shared libraries by file name alone, so that the system's usual search order
// decides which file is loaded.

using LibraryHandle = void*;

// Null when the library does not load.
LibraryHandle LoadLibraryByName(const char* fileName);
// Null when the library has no entry point of that name.
void* LibraryEntryPoint(LibraryHandle library, const char* name);
void UnloadLibrary(LibraryHandle library);

// Takes the current working folder out of the library search order, so that a library planted in
// whatever folder the program is started from is never loaded. The program's own folder, the
// system folders and the search path stay. Called once, first thing at start.
void RemoveWorkingFolderFromLibrarySearch();

// File names of the two USB driver libraries on this system.
const char* FtdiLibraryFileName();
const char* VendorLibraryFileName();
