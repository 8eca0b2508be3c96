#include "platform/SingleInstance.h"

#include "platform/win/NamedMutex.h"

#include <windows.h>

namespace {
class MutexInstance final : public SingleInstance {
public:
    explicit MutexInstance(std::unique_ptr<OwnedNamedMutex> owner) : owner_(std::move(owner)) {}

private:
    std::unique_ptr<OwnedNamedMutex> owner_;
};

SingleInstance::Result Unavailable(DWORD error)
{
    SingleInstance::Result result;
    result.outcome = SingleInstance::Outcome::Unavailable;
    result.where = QString::fromWCharArray(kInstanceMutexName);
    result.reason = QString::fromStdWString(SystemErrorText(error));
    return result;
}
}  // namespace

SingleInstance::Result SingleInstance::Acquire(int waitMs)
{
    NamedMutexResult mutex = AcquireNamedMutex(kInstanceMutexName, static_cast<DWORD>(waitMs));
    Result result;
    switch (mutex.outcome) {
        case NamedMutexResult::Outcome::Held:
            result.outcome = Outcome::Held;
            result.lock = std::make_unique<MutexInstance>(std::move(mutex.owner));
            return result;
        case NamedMutexResult::Outcome::Busy:
            result.outcome = Outcome::OtherCopyRuns;
            return result;
        case NamedMutexResult::Outcome::Failed:
            break;
    }
    return Unavailable(mutex.error);
}

// The named mutex exists while a copy has it open.
bool InstanceLockHeld(const QString&)
{
    return NamedMutexExists(kInstanceMutexName);
}
