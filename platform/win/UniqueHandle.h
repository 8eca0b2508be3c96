#pragma once
// Ownership of a kernel object handle: closed when the owner goes, however it goes.

#include <windows.h>

#include <memory>
#include <type_traits>

struct CloseHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, CloseHandleDeleter>;
