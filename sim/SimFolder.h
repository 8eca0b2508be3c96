#pragma once
// The simulator's state folder, named by the environment variable GXSIM_DIR:
//   devices.txt        the description of every simulated device (SimState.h), replaced as a
//                      whole by write-and-rename, so a reader never sees half of it
//   <serial>.flash     one file per device: its flash memory from address 0, kept current
//   <serial>.journal   one file per device: what it received, a line per event
//   .lock              taken (flock; LockFileEx on Windows) around every change, so that gxsim and
//                      the processes that use the simulated libraries never lose each other's
//                      changes
// Serial texts that are not plain file names are written as x<hex> in the file names.

#include "sim/SimState.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace gxsim {

inline constexpr const char* kDirVariable = "GXSIM_DIR";

// One line of a device's journal: a kind ("open", "close", "reset", "packet", "text", "write",
// "ignored", "garbage", "dropped", "unplugged") and key=value fields.
struct JournalEntry {
    std::string Kind;
    std::map<std::string, std::string> Fields;
    std::string Line;

    std::string Field(const std::string& key) const;
    // The packet's command, -1 when the entry has none.
    int Command() const;
    int Sector() const;
    uint32_t Address() const;
    int Status() const;  // status the device replied, -1 for none
};

class SimFolder {
public:
    explicit SimFolder(std::string dir);
    // The folder GXSIM_DIR names; empty when it is not set.
    static std::string FromEnvironment();

    const std::string& Dir() const { return dir_; }
    std::string StatePath() const;
    std::string FlashPath(std::string_view serial) const;
    std::string JournalPath(std::string_view serial) const;

    // The current description; an absent file is an empty state. False (with error) when the
    // file cannot be read or parsed.
    bool Load(SimState& state, std::string* error = nullptr) const;
    // Read, change and write back under the folder's lock. change returns false to leave the
    // state as it was (its error text, if any, goes to error). Each device's flash file is kept
    // at the size of its layout (new bytes 0xFF).
    bool Modify(const std::function<bool(SimState&, std::string&)>& change,
                std::string* error = nullptr);

    // Convenience changes. Add creates and plugs in a device with an erased flash and an empty
    // journal; Plug applies the device's next mode and restarts its counters.
    bool Add(const DeviceSetup& device, std::string* error = nullptr);
    bool Remove(std::string_view serial, std::string* error = nullptr);
    bool Plug(std::string_view serial, std::string* error = nullptr);
    bool Unplug(std::string_view serial, std::string* error = nullptr);
    bool Update(std::string_view serial, const std::function<void(DeviceSetup&)>& change,
                std::string* error = nullptr);
    bool UpdateLibrary(const std::function<void(LibrarySetup&)>& change,
                       std::string* error = nullptr);

    // Flash contents, read under the lock.
    bool ReadFlash(std::string_view serial, std::vector<uint8_t>& bytes) const;
    // Replaces bytes at offset (inside the flash's size), under the lock.
    bool WriteFlash(std::string_view serial, uint32_t offset, const std::vector<uint8_t>& bytes);
    // The device side of erase and write-part, under the lock: fill with 0xFF, or AND the new
    // bytes into what is there as NOR flash does.
    bool EraseFlash(std::string_view serial, uint32_t offset, uint32_t size);
    bool ProgramFlash(std::string_view serial, uint32_t offset, const uint8_t* data, uint32_t size);

    void AppendJournal(std::string_view serial, const std::string& line) const;
    std::vector<JournalEntry> Journal(std::string_view serial) const;
    void ClearJournal(std::string_view serial) const;

private:
    std::string dir_;
};

// RAII holder of the folder's lock file.
class FolderLock {
public:
    FolderLock(const std::string& dir, bool exclusive);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

JournalEntry ParseJournalLine(std::string_view line);

}  // namespace gxsim
