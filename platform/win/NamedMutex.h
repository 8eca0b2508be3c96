#pragma once
// The named system mutex behind the single-instance lock (platform/win/SingleInstance.cpp), in
// the system's own terms and without Qt, so that the Windows build of the layers below the window
// tests it as it is.

#include "platform/win/UniqueHandle.h"

#include <windows.h>

#include <memory>
#include <string>

inline constexpr const wchar_t* kInstanceMutexName = L"GXUSBFirmwareLoaderBaseMutex";

// Ownership of the mutex, taken by a granted wait: released and closed when the owner goes, by
// the thread that waited (a mutex belongs to a thread).
class OwnedNamedMutex {
public:
    explicit OwnedNamedMutex(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~OwnedNamedMutex() { ReleaseMutex(mutex_.get()); }
    OwnedNamedMutex(const OwnedNamedMutex&) = delete;
    OwnedNamedMutex& operator=(const OwnedNamedMutex&) = delete;

private:
    UniqueHandle mutex_;
};

struct NamedMutexResult {
    enum class Outcome {
        Held,    // owner is set
        Busy,    // another owner kept it for the whole wait, or left it abandoned
        Failed,  // the mutex could not be created or waited for; error says why
    };
    Outcome outcome = Outcome::Failed;
    std::unique_ptr<OwnedNamedMutex> owner;
    DWORD error = 0;
};

// Creates the mutex, or opens it when it exists, without taking it, then waits up to waitMs for
// it. Anything but ownership granted normally (a time-out, an abandoned mutex) is Busy; only a
// failed create or wait says the mutex itself is unusable.
NamedMutexResult AcquireNamedMutex(const wchar_t* name, DWORD waitMs);

// Whether the mutex exists, that is whether some process has it open.
bool NamedMutexExists(const wchar_t* name);

// The system's text for an error code, without its line end; "error N" when it has none.
std::wstring SystemErrorText(DWORD error);
