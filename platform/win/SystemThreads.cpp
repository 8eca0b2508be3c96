#include "platform/SystemThreads.h"

#include "platform/win/UniqueHandle.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>

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

void AwaitSystemThreadsExit(const std::vector<uint64_t>& ids, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const uint64_t id : ids) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        AwaitSystemThreadExit(id, static_cast<int>(std::max<long long>(0, left.count())));
    }
}
