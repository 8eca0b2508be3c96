// What a test does with its simulated devices: the same on Linux and Windows, since it goes
// through the simulator's state folder alone. Each system's tests/SimSupport.h declares the
// sandbox; tests/SimSupport.cpp of that system makes and removes its folder.

#include "tests/SimSupport.h"

#include "devices/DriverBindings.h"

#include <gtest/gtest.h>

void SimSandbox::Add(const gxsim::DeviceSetup& device)
{
    std::string error;
    EXPECT_TRUE(folder_.Add(device, &error)) << error;
}

void SimSandbox::Set(std::string_view serial,
                     const std::function<void(gxsim::DeviceSetup&)>& change)
{
    std::string error;
    EXPECT_TRUE(folder_.Update(serial, change, &error)) << error;
}

void SimSandbox::Fault(std::string_view serial, const std::string& rule)
{
    std::string error;
    EXPECT_TRUE(folder_.Modify(
        [&](gxsim::SimState& state, std::string& why) {
            gxsim::DeviceSetup* d = state.Find(serial);
            if (!d) {
                why = "no device";
                return false;
            }
            return gxsim::SetDeviceField(*d, "fault", rule, why);
        },
        &error))
        << error;
}

void SimSandbox::SetLibrary(const std::function<void(gxsim::LibrarySetup&)>& change)
{
    std::string error;
    EXPECT_TRUE(folder_.UpdateLibrary(change, &error)) << error;
}

void SimSandbox::Unplug(std::string_view serial)
{
    std::string error;
    EXPECT_TRUE(folder_.Unplug(serial, &error)) << error;
}

void SimSandbox::Plug(std::string_view serial)
{
    std::string error;
    EXPECT_TRUE(folder_.Plug(serial, &error)) << error;
}

gxsim::DeviceSetup SimSandbox::Device(std::string_view serial) const
{
    gxsim::SimState state;
    std::string error;
    EXPECT_TRUE(folder_.Load(state, &error)) << error;
    const gxsim::DeviceSetup* d = state.Find(serial);
    EXPECT_NE(d, nullptr) << "no device " << serial;
    return d ? *d : gxsim::DeviceSetup();
}

std::vector<gxsim::JournalEntry> SimSandbox::Journal(std::string_view serial) const
{
    return folder_.Journal(serial);
}

std::vector<gxsim::JournalEntry> SimSandbox::Journal(std::string_view serial,
                                                     std::string_view kind) const
{
    std::vector<gxsim::JournalEntry> entries;
    for (gxsim::JournalEntry& e : folder_.Journal(serial))
        if (e.Kind == kind) entries.push_back(std::move(e));
    return entries;
}

std::vector<int> SimSandbox::Commands(std::string_view serial) const
{
    std::vector<int> commands;
    for (const gxsim::JournalEntry& e : Journal(serial, "packet")) commands.push_back(e.Command());
    return commands;
}

std::vector<std::string> SimSandbox::TextCommands(std::string_view serial) const
{
    std::vector<std::string> commands;
    for (const gxsim::JournalEntry& e : Journal(serial, "text"))
        commands.push_back(e.Field("command"));
    return commands;
}

std::vector<uint8_t> SimSandbox::Flash(std::string_view serial) const
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(folder_.ReadFlash(serial, bytes));
    return bytes;
}

gxsim::DeviceSetup SimDevice(std::string serial, gxsim::Driver driver, gxsim::Mode mode)
{
    gxsim::DeviceSetup device;
    device.Serial = std::move(serial);
    device.Kind = driver;
    device.Current = mode;
    device.NextMode = mode;
    device.DeviceCode = 7;
    return device;
}

TDevEntry RecordOf(const gxsim::DeviceSetup& device)
{
    const bool ftdi = device.Kind == gxsim::Driver::Ftdi;
    return TDevEntry(device.ListedSerialText(), ftdi ? 0xFFFF : device.DeviceCode,
                     ftdi ? FtdiDriver : VendorDriver);
}

bool BindSimulatorLibraries()
{
    const TDriverBindings bound = BindMissingDriverLibraries();
    return bound.Ftdi && bound.Vendor;
}
