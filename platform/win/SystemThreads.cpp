#include "platform/SystemThreads.h"

#include "platform/win/UniqueHandle.h"

#include <windows.h>

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
