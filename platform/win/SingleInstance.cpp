#include "platform/SingleInstance.h"

#include <windows.h>

namespace {
class MutexInstance final : public SingleInstance {
public:
    explicit MutexInstance(HANDLE mutex) : mutex_(mutex) {}
    ~MutexInstance() override
    {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
};
}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Acquire(int waitMs)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"GXUSBFirmwareLoaderBaseMutex");
    if (!mutex) return nullptr;
    // Anything but ownership granted normally (a time-out, an abandoned mutex) ends this copy.
    if (WaitForSingleObject(mutex, static_cast<DWORD>(waitMs)) != WAIT_OBJECT_0) {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<MutexInstance>(mutex);
}
