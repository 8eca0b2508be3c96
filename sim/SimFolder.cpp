#include "sim/SimFolder.h"

#include "sim/SimSectorMaps.h"
#include "sim/SimText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gxsim {
namespace {
bool PlainFileName(std::string_view serial)
{
    if (serial.empty() || serial.front() == '.') return false;
    for (char c : serial) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string FileStem(std::string_view serial)
{
    if (PlainFileName(serial)) return std::string(serial);
    std::string stem = "%";
    for (char c : serial) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
        stem += hex;
    }
    return stem;
}

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing)
{
    missing = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    text.clear();
    char chunk[8192];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Keeps a device's flash file at the size of its layout; new bytes are erased (0xFF).
bool SyncFlashSize(const std::string& path, const DeviceSetup& device)
{
    const uint32_t size = LayoutFor(device.ProcessorId, device.Bootloader).FlashSize;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && static_cast<uint64_t>(st.st_size) < size) {
        const std::vector<uint8_t> erased(size - static_cast<uint32_t>(st.st_size), 0xFF);
        ok = lseek(fd, st.st_size, SEEK_SET) >= 0 && WriteAll(fd, erased.data(), erased.size());
    } else if (ok && static_cast<uint64_t>(st.st_size) > size) {
        ok = ftruncate(fd, size) == 0;
    }
    close(fd);
    return ok;
}

std::atomic<unsigned> tempCounter{0};
}  // namespace

// ---- Journal entries ----

std::string JournalEntry::Field(const std::string& key) const
{
    auto it = Fields.find(key);
    return it == Fields.end() ? std::string() : it->second;
}

int JournalEntry::Command() const
{
    auto v = ParseNumber(Field("cmd"), 0xFFFF);
    return v ? static_cast<int>(*v) : -1;
}

int JournalEntry::Sector() const
{
    auto v = ParseNumber(Field("sector"), 0xFFFF);
    return v ? static_cast<int>(*v) : -1;
}

uint32_t JournalEntry::Address() const
{
    auto v = ParseNumber(Field("address"), UINT32_MAX);
    return v ? static_cast<uint32_t>(*v) : 0;
}

int JournalEntry::Status() const
{
    auto v = ParseNumber(Field("status"), 0xFFFF);
    return v ? static_cast<int>(*v) : -1;
}

JournalEntry ParseJournalLine(std::string_view line)
{
    JournalEntry entry;
    entry.Line = std::string(line);
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.empty()) return entry;
    entry.Kind = std::string(words[0]);
    for (size_t i = 1; i < words.size(); ++i) {
        const size_t eq = words[i].find('=');
        if (eq == std::string_view::npos) continue;
        entry.Fields[std::string(words[i].substr(0, eq))] = std::string(words[i].substr(eq + 1));
    }
    return entry;
}

// ---- Lock ----

FolderLock::FolderLock(const std::string& dir, bool exclusive)
{
    fd_ = open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            close(fd_);
            fd_ = -1;
            return;
        }
    }
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0) close(fd_);  // closing the descriptor releases the lock
}

// ---- Folder ----

SimFolder::SimFolder(std::string dir) : dir_(std::move(dir)) {}

std::string SimFolder::FromEnvironment()
{
    const char* dir = std::getenv(kDirVariable);
    return dir ? std::string(dir) : std::string();
}

std::string SimFolder::StatePath() const
{
    return dir_ + "/devices.txt";
}
std::string SimFolder::FlashPath(std::string_view serial) const
{
    return dir_ + "/" + FileStem(serial) + ".flash";
}
std::string SimFolder::JournalPath(std::string_view serial) const
{
    return dir_ + "/" + FileStem(serial) + ".journal";
}

bool SimFolder::Load(SimState& state, std::string* error) const
{
    std::string text, why;
    bool missing = false;
    if (dir_.empty()) {
        if (error) *error = std::string(kDirVariable) + " is not set";
        return false;
    }
    if (!ReadWholeFile(StatePath(), text, missing)) {
        if (missing) {
            state = SimState();
            return true;
        }
        if (error) *error = "cannot read " + StatePath();
        return false;
    }
    if (!ParseState(text, state, why)) {
        if (error) *error = StatePath() + ": " + why;
        return false;
    }
    return true;
}

bool SimFolder::Modify(const std::function<bool(SimState&, std::string&)>& change,
                       std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (dir_.empty()) return fail(std::string(kDirVariable) + " is not set");
    FolderLock lock(dir_, true);
    if (!lock.Held()) return fail("cannot lock " + dir_);
    SimState state;
    std::string why;
    if (!Load(state, &why)) return fail(why);
    if (!change(state, why)) return fail(why);
    for (size_t i = 0; i < state.Devices.size(); ++i)
        for (size_t j = i + 1; j < state.Devices.size(); ++j)
            if (state.Devices[i].Serial == state.Devices[j].Serial)
                return fail("two devices with the serial '" + Escape(state.Devices[i].Serial) +
                            "'");

    const std::string text = FormatState(state);
    const std::string temp = dir_ + "/.devices.txt." + std::to_string(getpid()) + "." +
                             std::to_string(tempCounter.fetch_add(1));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot write " + temp);
    const bool written = WriteAll(fd, text.data(), text.size());
    close(fd);
    if (!written || rename(temp.c_str(), StatePath().c_str()) != 0) {
        unlink(temp.c_str());
        return fail("cannot replace " + StatePath());
    }
    for (const DeviceSetup& device : state.Devices)
        if (!SyncFlashSize(FlashPath(device.Serial), device))
            return fail("cannot size " + FlashPath(device.Serial));
    return true;
}

bool SimFolder::Add(const DeviceSetup& device, std::string* error)
{
    return Modify(
        [&](SimState& state, std::string& why) {
            if (state.Find(device.Serial)) {
                why = "a device with the serial '" + Escape(device.Serial) + "' exists";
                return false;
            }
            // A new device comes with erased flash and an empty journal.
            unlink(FlashPath(device.Serial).c_str());
            unlink(JournalPath(device.Serial).c_str());
            state.Devices.push_back(device);
            return true;
        },
        error);
}

bool SimFolder::Remove(std::string_view serial, std::string* error)
{
    return Modify(
        [&](SimState& state, std::string& why) {
            auto it = std::find_if(state.Devices.begin(), state.Devices.end(),
                                   [&](const DeviceSetup& d) { return d.Serial == serial; });
            if (it == state.Devices.end()) {
                why = "no device '" + Escape(serial) + "'";
                return false;
            }
            state.Devices.erase(it);
            unlink(FlashPath(serial).c_str());
            unlink(JournalPath(serial).c_str());
            return true;
        },
        error);
}

bool SimFolder::Plug(std::string_view serial, std::string* error)
{
    return Modify(
        [&](SimState& state, std::string& why) {
            DeviceSetup* d = state.Find(serial);
            if (!d) {
                why = "no device '" + Escape(serial) + "'";
                return false;
            }
            if (d->Plugged) {
                why = "'" + Escape(serial) + "' is plugged in already";
                return false;
            }
            d->Plugged = true;
            ++d->PlugCount;
            d->Current = d->NextMode;
            d->DescriptionReads = 0;
            d->PartsWritten = 0;
            return true;
        },
        error);
}

bool SimFolder::Unplug(std::string_view serial, std::string* error)
{
    return Modify(
        [&](SimState& state, std::string& why) {
            DeviceSetup* d = state.Find(serial);
            if (!d) {
                why = "no device '" + Escape(serial) + "'";
                return false;
            }
            if (!d->Plugged) {
                why = "'" + Escape(serial) + "' is not plugged in";
                return false;
            }
            d->Plugged = false;
            return true;
        },
        error);
}

bool SimFolder::Update(std::string_view serial, const std::function<void(DeviceSetup&)>& change,
                       std::string* error)
{
    return Modify(
        [&](SimState& state, std::string& why) {
            DeviceSetup* d = state.Find(serial);
            if (!d) {
                why = "no device '" + Escape(serial) + "'";
                return false;
            }
            change(*d);
            return true;
        },
        error);
}

bool SimFolder::UpdateLibrary(const std::function<void(LibrarySetup&)>& change, std::string* error)
{
    return Modify(
        [&](SimState& state, std::string&) {
            change(state.Library);
            return true;
        },
        error);
}

bool SimFolder::ReadFlash(std::string_view serial, std::vector<uint8_t>& bytes) const
{
    FolderLock lock(dir_, false);
    std::string text;
    bool missing = false;
    if (!lock.Held() || !ReadWholeFile(FlashPath(serial), text, missing)) return false;
    bytes.assign(text.begin(), text.end());
    return true;
}

namespace {
// Read-change-write of a range of a flash file; the caller holds the lock.
template <typename Change>
bool ChangeFlash(const std::string& path, uint32_t offset, uint32_t size, Change change)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    std::vector<uint8_t> bytes(size);
    bool ok = fstat(fd, &st) == 0 &&
              static_cast<uint64_t>(offset) + size <= static_cast<uint64_t>(st.st_size) &&
              pread(fd, bytes.data(), size, offset) == static_cast<ssize_t>(size);
    if (ok) {
        change(bytes);
        ok = pwrite(fd, bytes.data(), size, offset) == static_cast<ssize_t>(size);
    }
    close(fd);
    return ok;
}
}  // namespace

bool SimFolder::WriteFlash(std::string_view serial, uint32_t offset,
                           const std::vector<uint8_t>& data)
{
    FolderLock lock(dir_, true);
    return lock.Held() && ChangeFlash(FlashPath(serial), offset, static_cast<uint32_t>(data.size()),
                                      [&](std::vector<uint8_t>& bytes) { bytes = data; });
}

bool SimFolder::EraseFlash(std::string_view serial, uint32_t offset, uint32_t size)
{
    FolderLock lock(dir_, true);
    return lock.Held() &&
           ChangeFlash(FlashPath(serial), offset, size, [](std::vector<uint8_t>& bytes) {
               std::fill(bytes.begin(), bytes.end(), 0xFF);
           });
}

bool SimFolder::ProgramFlash(std::string_view serial, uint32_t offset, const uint8_t* data,
                             uint32_t size)
{
    FolderLock lock(dir_, true);
    return lock.Held() &&
           ChangeFlash(FlashPath(serial), offset, size, [&](std::vector<uint8_t>& bytes) {
               for (uint32_t i = 0; i < size; ++i) bytes[i] &= data[i];
           });
}

void SimFolder::AppendJournal(std::string_view serial, const std::string& line) const
{
    const int fd =
        open(JournalPath(serial).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string text = line + "\n";
    WriteAll(fd, text.data(), text.size());  // one write: lines of concurrent writers never mix
    close(fd);
}

std::vector<JournalEntry> SimFolder::Journal(std::string_view serial) const
{
    std::vector<JournalEntry> entries;
    std::string text;
    bool missing = false;
    if (!ReadWholeFile(JournalPath(serial), text, missing)) return entries;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!Trim(line).empty()) entries.push_back(ParseJournalLine(line));
    }
    return entries;
}

void SimFolder::ClearJournal(std::string_view serial) const
{
    const int fd = open(JournalPath(serial).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) close(fd);
}

}  // namespace gxsim
