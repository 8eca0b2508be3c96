// Binding the driver libraries: all or nothing, unloaded when incomplete, found by file name
// through the system's search order and never in the working folder. This binary runs with a
// folder on LD_LIBRARY_PATH that holds a complete FTDI stand-in and a vendor library without
// LV_Purge.

#include "devices/DriverBindings.h"
#include "tests/RequiredEntryPoints.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {
std::string BrokenLibrary(const std::string& missing)
{
    const bool ftdi = missing.rfind("FT_", 0) == 0;
    return std::string(GX_BROKEN_DIR) + "/" + missing + (ftdi ? "/libftd2xx.so" : "/libGXUSB.so");
}

bool StillLoaded(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

class LibraryLackingOneName : public testing::TestWithParam<const char*> {};

TEST_P(LibraryLackingOneName, IsNotBoundAndIsUnloaded)
{
    const std::string path = BrokenLibrary(GetParam());
    // The file itself loads: only the one name is missing.
    void* probe = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe, nullptr) << dlerror();
    ASSERT_EQ(dlsym(probe, GetParam()), nullptr);
    dlclose(probe);
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
    const std::string path = std::string(GX_BROKEN_DIR) + "/planted/libGXUSB.so";
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
}

// The search order finds the FTDI stand-in on LD_LIBRARY_PATH; the vendor library there lacks
// LV_Purge and counts as not installed, and the complete copy planted in the working folder is
// not taken either.
TEST(Binding, BindsWhatTheSearchOrderFindsWhole)
{
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((std::string(GX_BROKEN_DIR) + "/planted").c_str()), 0);
    RemoveWorkingFolderFromLibrarySearch();
    const TDriverBindings bound = BindMissingDriverLibraries();
    ASSERT_EQ(chdir(previous), 0);

    EXPECT_TRUE(bound.Ftdi);
    EXPECT_FALSE(bound.Vendor);
    EXPECT_NE(FtdiLibrary.Module, nullptr);
    EXPECT_NE(FtdiLibrary.FT_OpenEx, nullptr);
    EXPECT_EQ(VendorLibrary.Module, nullptr);

    // What is bound stays bound: a second call binds only what is missing.
    const LibraryHandle first = FtdiLibrary.Module;
    const TDriverBindings again = BindMissingDriverLibraries();
    EXPECT_TRUE(again.Ftdi);
    EXPECT_FALSE(again.Vendor);
    EXPECT_EQ(FtdiLibrary.Module, first);
}
}  // namespace
