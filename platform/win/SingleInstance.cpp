#include "platform/SingleInstance.h"

#include <windows.h>

#include <type_traits>

namespace {
constexpr const wchar_t* kMutexName = L"GXUSBFirmwareLoaderBaseMutex";

struct CloseHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, CloseHandleDeleter>;

class MutexInstance final : public SingleInstance {
public:
    explicit MutexInstance(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~MutexInstance() override { ReleaseMutex(mutex_.get()); }

private:
    UniqueHandle mutex_;
};

struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { LocalFree(text); }
};

// The system's text for an error code, without its line end.
QString SystemMessage(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> text(buffer);
    if (length == 0 || !text) return QStringLiteral("error %1").arg(error);
    return QString::fromWCharArray(text.get(), static_cast<int>(length)).trimmed();
}

SingleInstance::Result Unavailable(DWORD error)
{
    SingleInstance::Result result;
    result.outcome = SingleInstance::Outcome::Unavailable;
    result.where = QString::fromWCharArray(kMutexName);
    result.reason = SystemMessage(error);
    return result;
}
}  // namespace

SingleInstance::Result SingleInstance::Acquire(int waitMs)
{
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex) return Unavailable(GetLastError());
    Result result;
    // Anything but ownership granted normally (a time-out, an abandoned mutex) ends this copy as
    // another copy's; only a failed wait says the mutex itself is unusable.
    switch (WaitForSingleObject(mutex.get(), static_cast<DWORD>(waitMs))) {
        case WAIT_OBJECT_0:
            result.outcome = Outcome::Held;
            result.lock = std::make_unique<MutexInstance>(std::move(mutex));
            return result;
        case WAIT_FAILED:
            return Unavailable(GetLastError());
        default:
            result.outcome = Outcome::OtherCopyRuns;
            return result;
    }
}

// The named mutex exists while a copy has it open.
bool InstanceLockHeld(const QString&)
{
    return UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName)) != nullptr;
}
