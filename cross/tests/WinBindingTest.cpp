// Binding the driver DLLs with LoadLibraryW: all or nothing, unloaded when incomplete, found by
// file name through the system's search order and never in the working folder. This program runs
// with a folder on PATH that holds a complete FTDI stand-in and a vendor DLL without LV_Purge.

#include "devices/DriverBindings.h"
#include "tests/RequiredEntryPoints.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace {
std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());  // the build's paths are ASCII
}

std::string BrokenLibrary(const std::string& missing)
{
    const bool ftdi = missing.rfind("FT_", 0) == 0;
    return std::string(GX_BROKEN_DIR) + "\\" + missing + (ftdi ? "\\ftd2xx.dll" : "\\GXUSB.dll");
}

bool StillLoaded(const std::string& path)
{
    return GetModuleHandleW(Wide(path).c_str()) != nullptr;
}

// Runs the test in another working folder and puts the old one back, whatever happens.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& folder)
    {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        changed_ = SetCurrentDirectoryW(Wide(folder).c_str()) != 0;
    }
    ~WorkingFolder() { SetCurrentDirectoryW(previous_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    bool Changed() const { return changed_; }

private:
    wchar_t previous_[MAX_PATH] = {};
    bool changed_ = false;
};

const std::string kPlanted = std::string(GX_BROKEN_DIR) + "\\planted";

class LibraryLackingOneName : public testing::TestWithParam<const char*> {};

TEST_P(LibraryLackingOneName, IsNotBoundAndIsUnloaded)
{
    const std::string path = BrokenLibrary(GetParam());
    // The file itself loads: only the one name is missing.
    HMODULE probe = LoadLibraryW(Wide(path).c_str());
    ASSERT_NE(probe, nullptr) << "error " << GetLastError();
    ASSERT_EQ(GetProcAddress(probe, GetParam()), nullptr);
    FreeLibrary(probe);
    ASSERT_FALSE(StillLoaded(path));

    if (path.find("ftd2xx") != std::string::npos) {
        TFtdiLibrary binding;
        EXPECT_EQ(BindFtdiLibraryFile(binding, path.c_str()), nullptr);
        EXPECT_EQ(binding.Module, nullptr);
        EXPECT_EQ(binding.FT_Close, nullptr);  // nothing of the half-bound library is kept
    } else {
        TVendorLibrary binding;
        EXPECT_EQ(BindVendorLibraryFile(binding, path.c_str()), nullptr);
        EXPECT_EQ(binding.Module, nullptr);
        EXPECT_EQ(binding.LV_GetListDevices, nullptr);
    }
    EXPECT_FALSE(StillLoaded(path));
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, LibraryLackingOneName,
                         testing::ValuesIn(kRequiredEntryPoints));

TEST(Binding, ACompleteLibraryFillsEveryEntryPoint)
{
    const std::string path = kPlanted + "\\GXUSB.dll";
    TVendorLibrary binding;
    LibraryHandle module = BindVendorLibraryFile(binding, path.c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(binding.Module, module);
    EXPECT_NE(binding.LV_GetListDevices, nullptr);
    EXPECT_NE(binding.LV_OpenDevice, nullptr);
    EXPECT_NE(binding.LV_CloseDevice, nullptr);
    EXPECT_NE(binding.LV_ReadNotTimeOut, nullptr);
    EXPECT_NE(binding.LV_Write, nullptr);
    EXPECT_NE(binding.LV_Purge, nullptr);
    EXPECT_NE(binding.LV_SetTimeouts, nullptr);
    // The stand-in's list call answers through the bound address.
    uint32_t count = 5;
    EXPECT_EQ(binding.LV_GetListDevices(0xFFFF, nullptr, &count), 1);
    UnloadLibrary(module);
    EXPECT_FALSE(StillLoaded(path));
}

TEST(Binding, TheDriverFileNamesAreTheWindowsOnes)
{
    EXPECT_STREQ(FtdiLibraryFileName(), "ftd2xx.dll");
    EXPECT_STREQ(VendorLibraryFileName(), "GXUSB.dll");
}

// Windows looks in the working folder before PATH. Left as it is, the search finds the complete
// vendor DLL planted there: what the loader's start-up takes away.
TEST(Binding, TheDefaultSearchOrderWouldTakeADllPlantedInTheWorkingFolder)
{
    SetDllDirectoryW(nullptr);  // the system's default order
    const WorkingFolder planted(kPlanted);
    ASSERT_TRUE(planted.Changed());
    TVendorLibrary binding;
    LibraryHandle module = BindVendorLibraryFile(binding, VendorLibraryFileName());
    ASSERT_NE(module, nullptr);
    wchar_t file[MAX_PATH] = {};
    GetModuleFileNameW(static_cast<HMODULE>(module), file, MAX_PATH);
    EXPECT_EQ(std::wstring(file), Wide(kPlanted + "\\GXUSB.dll"));
    UnloadLibrary(module);
}

// The search order finds the FTDI stand-in on PATH; the vendor DLL there lacks LV_Purge and counts
// as not installed.
TEST(Binding, BindsWhatTheSearchOrderFindsWhole)
{
    const TDriverBindings bound = BindMissingDriverLibraries();
    EXPECT_TRUE(bound.Ftdi);
    EXPECT_FALSE(bound.Vendor);
    EXPECT_NE(FtdiLibrary.Module, nullptr);
    EXPECT_NE(FtdiLibrary.FT_OpenEx, nullptr);
    EXPECT_EQ(VendorLibrary.Module, nullptr);
    wchar_t file[MAX_PATH] = {};
    GetModuleFileNameW(static_cast<HMODULE>(FtdiLibrary.Module), file, MAX_PATH);
    EXPECT_EQ(std::wstring(file), Wide(std::string(GX_BROKEN_DIR) + "\\no_purge\\ftd2xx.dll"));

    // What is bound stays bound: a second call binds only what is missing.
    const LibraryHandle first = FtdiLibrary.Module;
    const TDriverBindings again = BindMissingDriverLibraries();
    EXPECT_TRUE(again.Ftdi);
    EXPECT_FALSE(again.Vendor);
    EXPECT_EQ(FtdiLibrary.Module, first);
}

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// With the working folder taken out of the search, the complete vendor DLL planted there is not
// taken: the vendor DLL on PATH, which lacks LV_Purge, is the one found, and nothing is bound.
TEST(Binding, NeverTakesADllPlantedInTheWorkingFolder)
{
    if (RunningUnderWine())
        GTEST_SKIP()
            << "wine 8 keeps the working folder in the search after SetDllDirectoryW(L\"\"),"
               " which Windows documents as taking it out";
    const WorkingFolder planted(kPlanted);
    ASSERT_TRUE(planted.Changed());
    RemoveWorkingFolderFromLibrarySearch();
    const TDriverBindings bound = BindMissingDriverLibraries();
    EXPECT_TRUE(bound.Ftdi);
    EXPECT_FALSE(bound.Vendor);
    EXPECT_EQ(VendorLibrary.Module, nullptr);
}
}  // namespace
