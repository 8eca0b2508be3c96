#include "sim/SimFolder.h"

#include "sim/SimFiles.h"
#include "sim/SimSectorMaps.h"
#include "sim/SimText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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

// Keeps a device's flash file at the size of its layout; new bytes are erased (0xFF).
bool SyncFlashSize(const std::string& path, const DeviceSetup& device)
{
    return SizeFile(path, LayoutFor(device.ProcessorId, device.Bootloader).FlashSize, 0xFF);
}
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

    if (!ReplaceWholeFile(StatePath(), FormatState(state)))
        return fail("cannot replace " + StatePath());
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
            RemoveFile(FlashPath(device.Serial));
            RemoveFile(JournalPath(device.Serial));
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
            RemoveFile(FlashPath(serial));
            RemoveFile(JournalPath(serial));
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

bool SimFolder::WriteFlash(std::string_view serial, uint32_t offset,
                           const std::vector<uint8_t>& data)
{
    FolderLock lock(dir_, true);
    return lock.Held() &&
           ChangeFileRange(FlashPath(serial), offset, static_cast<uint32_t>(data.size()),
                           [&](std::vector<uint8_t>& bytes) { bytes = data; });
}

bool SimFolder::EraseFlash(std::string_view serial, uint32_t offset, uint32_t size)
{
    FolderLock lock(dir_, true);
    return lock.Held() &&
           ChangeFileRange(FlashPath(serial), offset, size, [](std::vector<uint8_t>& bytes) {
               std::fill(bytes.begin(), bytes.end(), 0xFF);
           });
}

bool SimFolder::ProgramFlash(std::string_view serial, uint32_t offset, const uint8_t* data,
                             uint32_t size)
{
    FolderLock lock(dir_, true);
    return lock.Held() &&
           ChangeFileRange(FlashPath(serial), offset, size, [&](std::vector<uint8_t>& bytes) {
               for (uint32_t i = 0; i < size; ++i) bytes[i] &= data[i];
           });
}

void SimFolder::AppendJournal(std::string_view serial, const std::string& line) const
{
    AppendToFile(JournalPath(serial), line + "\n");
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
    EmptyFile(JournalPath(serial));
}

}  // namespace gxsim
