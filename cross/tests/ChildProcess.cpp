#include "cross/tests/ChildProcess.h"

#include "platform/win/UniqueHandle.h"

#include <map>

#include <windows.h>

namespace {
std::map<std::string, std::function<int()>>& Helpers()
{
    static std::map<std::string, std::function<int()>> helpers;
    return helpers;
}
}  // namespace

bool RegisterChild(const std::string& name, std::function<int()> helper)
{
    Helpers()[name] = std::move(helper);
    return true;
}

int RunChild(const std::string& name)
{
    const auto it = Helpers().find(name);
    return it == Helpers().end() ? 255 : it->second();
}

int RunChildProcess(const std::string& name, unsigned timeoutMs)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return -1;
    std::wstring command = L"\"" + std::wstring(self, length) + L"\" ";
    for (const char* p = kChildSwitch; *p; ++p) command.push_back(static_cast<wchar_t>(*p));
    command += L" ";
    for (char c : name) command.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return -1;
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return -1;
    return static_cast<int>(code);
}
