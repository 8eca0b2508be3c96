#pragma once
// The Windows build's tests/SimSupport.h: the part of the device tests' support that the channel,
// device-list and exchange tests use, without Qt (the Linux one keeps its state folder in a
// QTemporaryDir and sets GXSIM_DIR with qputenv). cross/CMakeLists.txt puts this folder ahead of
// the project root for those tests, so that they build here unchanged. What a sandbox does with
// its devices is shared (tests/SimSandboxDevices.cpp); keep the two declarations in step.

#include "devices/Structs.h"
#include "sim/SimFolder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A private state folder under the system's temporary folder, removed with its files when the
// object goes; GXSIM_DIR names it while the object lives.
class SimSandbox {
public:
    SimSandbox();
    ~SimSandbox();
    SimSandbox(const SimSandbox&) = delete;
    SimSandbox& operator=(const SimSandbox&) = delete;

    const std::string& Dir() const { return dir_; }
    gxsim::SimFolder& Folder() { return folder_; }

    // Adds a plugged-in device (a test failure when it cannot).
    void Add(const gxsim::DeviceSetup& device);
    void Set(std::string_view serial, const std::function<void(gxsim::DeviceSetup&)>& change);
    void Fault(std::string_view serial, const std::string& rule);
    void Unplug(std::string_view serial);
    // Changes the simulated libraries' own behaviour (failing list calls).
    void SetLibrary(const std::function<void(gxsim::LibrarySetup&)>& change);
    void Plug(std::string_view serial);
    gxsim::DeviceSetup Device(std::string_view serial) const;

    std::vector<gxsim::JournalEntry> Journal(std::string_view serial) const;
    // Only the entries of one kind ("packet", "text", "write", ...).
    std::vector<gxsim::JournalEntry> Journal(std::string_view serial, std::string_view kind) const;
    void ClearJournal(std::string_view serial) const { folder_.ClearJournal(serial); }
    // The commands of the packets the device received, in order; the text commands likewise.
    std::vector<int> Commands(std::string_view serial) const;
    std::vector<std::string> TextCommands(std::string_view serial) const;
    std::vector<uint8_t> Flash(std::string_view serial) const;

private:
    std::string dir_;
    gxsim::SimFolder folder_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// A device of either library with the simulator's defaults (bootloader mode, processor
// 0x26013F37, firmware "GXST-1.44", bootloader "GXBL-1.05").
gxsim::DeviceSetup SimDevice(std::string serial, gxsim::Driver driver,
                             gxsim::Mode mode = gxsim::Mode::Bootloader);

// The loader's record of a simulated device, as the enumeration would make it.
TDevEntry RecordOf(const gxsim::DeviceSetup& device);

// Binds both process-wide driver bindings (the stand-in DLLs, found by LoadLibraryW through PATH);
// true when both are bound.
bool BindSimulatorLibraries();
