#include "platform/win/NamedMutex.h"

NamedMutexResult AcquireNamedMutex(const wchar_t* name, DWORD waitMs)
{
    NamedMutexResult result;
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name));
    if (!mutex) {
        result.error = GetLastError();
        return result;
    }
    switch (WaitForSingleObject(mutex.get(), waitMs)) {
        case WAIT_OBJECT_0:
            result.outcome = NamedMutexResult::Outcome::Held;
            result.owner = std::make_unique<OwnedNamedMutex>(std::move(mutex));
            return result;
        case WAIT_FAILED:
            result.error = GetLastError();
            return result;
        default:
            result.outcome = NamedMutexResult::Outcome::Busy;
            return result;
    }
}

bool NamedMutexExists(const wchar_t* name)
{
    return UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, name)) != nullptr;
}

namespace {
struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { LocalFree(text); }
};
}  // namespace

std::wstring SystemErrorText(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
    if (length == 0 || !owned) return L"error " + std::to_wstring(error);
    const std::wstring text(owned.get(), length);
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}
