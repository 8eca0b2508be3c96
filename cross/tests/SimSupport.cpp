#include "tests/SimSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <windows.h>

namespace {
std::atomic<unsigned> sandboxCounter{0};

// A new folder of the test's own under the temporary folder.
std::string MakeSandboxFolder()
{
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    const std::string base = length > 0 && length < sizeof temp ? std::string(temp, length) : ".\\";
    for (;;) {
        const std::string dir = base + "gxsim-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(sandboxCounter.fetch_add(1));
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot make " << dir;
            return dir;
        }
    }
}

void SetDirVariable(const char* value)
{
    // The C runtime's own environment: the one getenv reads in the stand-in DLLs.
    _putenv_s(gxsim::kDirVariable, value);
}
}  // namespace

SimSandbox::SimSandbox() : dir_(MakeSandboxFolder()), folder_(dir_)
{
    if (const char* previous = std::getenv(gxsim::kDirVariable)) {
        hadPrevious_ = true;
        previous_ = previous;
    }
    SetDirVariable(dir_.c_str());
}

SimSandbox::~SimSandbox()
{
    SetDirVariable(hadPrevious_ ? previous_.c_str() : "");  // an empty value removes it
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}
