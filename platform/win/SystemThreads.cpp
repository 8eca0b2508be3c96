#include "platform/SystemThreads.h"

#include "platform/win/UniqueHandle.h"

#include <windows.h>

#include <tlhelp32.h>

uint64_t CurrentSystemThreadId()
{
    return GetCurrentThreadId();
}

void AwaitSystemThreadExit(uint64_t id, int timeoutMs)
{
    if (id == 0) return;
    const UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
    if (!thread) return;  // gone already
    WaitForSingleObject(thread.get(), static_cast<DWORD>(timeoutMs));
}

std::vector<uint64_t> SystemThreadIds()
{
    std::vector<uint64_t> ids;
    const HANDLE taken = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (taken == INVALID_HANDLE_VALUE) return ids;
    const UniqueHandle snapshot(taken);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD process = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == process) ids.push_back(entry.th32ThreadID);
    return ids;
}
