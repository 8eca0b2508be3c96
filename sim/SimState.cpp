#include "sim/SimState.h"

#include "sim/SimFaults.h"
#include "sim/SimText.h"

#include <algorithm>

namespace gxsim {
namespace {
std::string YesNo(bool v)
{
    return v ? "yes" : "no";
}

template <typename T>
bool SetNumber(T& field, std::string_view value, uint64_t max, std::string_view key,
               std::string& error)
{
    auto v = ParseNumber(value, max);
    if (!v) {
        error = "bad number for " + std::string(key) + ": '" + std::string(value) + "'";
        return false;
    }
    field = static_cast<T>(*v);
    return true;
}

bool SetFlag(bool& field, std::string_view value, std::string_view key, std::string& error)
{
    auto v = ParseBool(value);
    if (!v) {
        error = "expected yes or no for " + std::string(key);
        return false;
    }
    field = *v;
    return true;
}

bool SetText(std::string& field, std::string_view value, std::string_view key, std::string& error)
{
    auto v = Unescape(value);
    if (!v) {
        error = "bad escape in " + std::string(key);
        return false;
    }
    field = *v;
    return true;
}

bool SetMode(Mode& field, std::string_view value, std::string& error)
{
    if (value == "application" || value == "app")
        field = Mode::Application;
    else if (value == "bootloader" || value == "boot")
        field = Mode::Bootloader;
    else {
        error = "mode is application or bootloader";
        return false;
    }
    return true;
}
}  // namespace

const char* DriverName(Driver driver)
{
    return driver == Driver::Ftdi ? "ftdi" : "vendor";
}
const char* ModeName(Mode mode)
{
    return mode == Mode::Application ? "application" : "bootloader";
}

DeviceSetup* SimState::Find(std::string_view serial)
{
    for (DeviceSetup& d : Devices)
        if (d.Serial == serial) return &d;
    return nullptr;
}

const DeviceSetup* SimState::Find(std::string_view serial) const
{
    return const_cast<SimState*>(this)->Find(serial);
}

bool SetDeviceField(DeviceSetup& d, std::string_view key, std::string_view value,
                    std::string& error)
{
    if (key == "serial") return SetText(d.Serial, value, key, error);
    if (key == "listed_serial") return SetText(d.ListedSerial, value, key, error);
    if (key == "driver") {
        if (value == "ftdi")
            d.Kind = Driver::Ftdi;
        else if (value == "vendor")
            d.Kind = Driver::Vendor;
        else {
            error = "driver is ftdi or vendor";
            return false;
        }
        return true;
    }
    if (key == "plugged") return SetFlag(d.Plugged, value, key, error);
    if (key == "plug_count") return SetNumber(d.PlugCount, value, UINT32_MAX, key, error);
    if (key == "description") return SetText(d.Description, value, key, error);
    if (key == "device_code") return SetNumber(d.DeviceCode, value, 0xFFFF, key, error);
    if (key == "mode") {
        // The device comes up in the same mode again unless next_mode (after it) says otherwise.
        if (!SetMode(d.Current, value, error)) return false;
        d.NextMode = d.Current;
        return true;
    }
    if (key == "next_mode") return SetMode(d.NextMode, value, error);
    if (key == "firmware") return SetText(d.Firmware, value, key, error);
    if (key == "bootloader") return SetText(d.Bootloader, value, key, error);
    if (key == "processor") return SetNumber(d.ProcessorId, value, UINT32_MAX, key, error);
    if (key == "protected") {
        std::vector<uint32_t> sectors;
        std::string list(value);
        std::replace(list.begin(), list.end(), ',', ' ');
        for (std::string_view word : SplitWords(list)) {
            auto v = ParseNumber(word, 0xFFFF);
            if (!v) {
                error = "protected is a list of sector numbers";
                return false;
            }
            sectors.push_back(static_cast<uint32_t>(*v));
        }
        d.ProtectedSectors = sectors;
        return true;
    }
    if (key == "locked") return SetFlag(d.Locked, value, key, error);
    if (key == "open_fails") return SetFlag(d.OpenFails, value, key, error);
    if (key == "open_elsewhere") return SetFlag(d.OpenElsewhere, value, key, error);
    if (key == "latency_ms") return SetNumber(d.LatencyMs, value, 255, key, error);
    if (key == "late_description")
        return SetNumber(d.LateDescription, value, UINT32_MAX, key, error);
    if (key == "description_reads")
        return SetNumber(d.DescriptionReads, value, UINT32_MAX, key, error);
    if (key == "unplug_after_parts")
        return SetNumber(d.UnplugAfterParts, value, UINT32_MAX, key, error);
    if (key == "parts_written") return SetNumber(d.PartsWritten, value, UINT32_MAX, key, error);
    if (key == "read_wait_ms") {
        if (value == "-1" || value == "default") {
            d.ReadWaitMs = -1;
            return true;
        }
        return SetNumber(d.ReadWaitMs, value, 600000, key, error);
    }
    if (key == "frame_timeout_ms") return SetNumber(d.FrameTimeoutMs, value, 600000, key, error);
    if (key == "journal_writes") return SetFlag(d.JournalWrites, value, key, error);
    if (key == "fault") {
        if (!ParseFaultRule(value, error)) return false;
        d.Faults.emplace_back(Trim(value));
        return true;
    }
    if (key == "faults") {
        if (!Trim(value).empty() && Trim(value) != "none") {
            error = "faults= only clears the rules; add one with fault=RULE";
            return false;
        }
        d.Faults.clear();
        return true;
    }
    error = "unknown device key '" + std::string(key) + "'";
    return false;
}

bool SetLibraryField(LibrarySetup& l, std::string_view key, std::string_view value,
                     std::string& error)
{
    if (key == "ftdi_count_fails") return SetFlag(l.FtdiCountFails, value, key, error);
    if (key == "ftdi_list_fails") return SetFlag(l.FtdiListFails, value, key, error);
    if (key == "vendor_count_fails") return SetFlag(l.VendorCountFails, value, key, error);
    if (key == "vendor_list_fails") return SetFlag(l.VendorListFails, value, key, error);
    if (key == "vendor_count_extra")
        return SetNumber(l.VendorCountExtra, value, 1000000, key, error);
    error = "unknown library key '" + std::string(key) + "'";
    return false;
}

std::vector<std::pair<std::string, std::string>> DeviceFields(const DeviceSetup& d)
{
    std::string protectedList;
    for (uint32_t s : d.ProtectedSectors)
        protectedList += (protectedList.empty() ? "" : ",") + std::to_string(s);
    std::vector<std::pair<std::string, std::string>> fields = {
        {"serial", Escape(d.Serial)},
        {"listed_serial", Escape(d.ListedSerial)},
        {"driver", DriverName(d.Kind)},
        {"plugged", YesNo(d.Plugged)},
        {"plug_count", std::to_string(d.PlugCount)},
        {"description", Escape(d.Description)},
        {"device_code", std::to_string(d.DeviceCode)},
        {"mode", ModeName(d.Current)},
        {"next_mode", ModeName(d.NextMode)},
        {"firmware", Escape(d.Firmware)},
        {"bootloader", Escape(d.Bootloader)},
        {"processor", Hex32(d.ProcessorId)},
        {"protected", protectedList},
        {"locked", YesNo(d.Locked)},
        {"open_fails", YesNo(d.OpenFails)},
        {"open_elsewhere", YesNo(d.OpenElsewhere)},
        {"latency_ms", std::to_string(d.LatencyMs)},
        {"late_description", std::to_string(d.LateDescription)},
        {"description_reads", std::to_string(d.DescriptionReads)},
        {"unplug_after_parts", std::to_string(d.UnplugAfterParts)},
        {"parts_written", std::to_string(d.PartsWritten)},
        {"read_wait_ms", std::to_string(d.ReadWaitMs)},
        {"frame_timeout_ms", std::to_string(d.FrameTimeoutMs)},
        {"journal_writes", YesNo(d.JournalWrites)},
    };
    for (const std::string& rule : d.Faults) fields.emplace_back("fault", rule);
    return fields;
}

std::vector<std::pair<std::string, std::string>> LibraryFields(const LibrarySetup& l)
{
    return {{"ftdi_count_fails", YesNo(l.FtdiCountFails)},
            {"ftdi_list_fails", YesNo(l.FtdiListFails)},
            {"vendor_count_fails", YesNo(l.VendorCountFails)},
            {"vendor_list_fails", YesNo(l.VendorListFails)},
            {"vendor_count_extra", std::to_string(l.VendorCountExtra)}};
}

std::string FormatState(const SimState& state)
{
    std::string text =
        "# Simulated Geotrovix devices. Change them with gxsim; this file is replaced as a whole.\n"
        "# Texts use \\xHH for bytes that are not printable.\n\n[library]\n";
    for (const auto& [key, value] : LibraryFields(state.Library))
        text += key + " = " + value + "\n";
    for (const DeviceSetup& d : state.Devices) {
        text += "\n[device]\n";
        for (const auto& [key, value] : DeviceFields(d)) text += key + " = " + value + "\n";
    }
    text += "\n# end\n";
    return text;
}

bool ParseState(std::string_view text, SimState& state, std::string& error)
{
    state = SimState();
    enum { None, Library, Device } section = None;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (line.empty() || line.front() == '#') continue;
        if (line == "[library]") {
            section = Library;
            continue;
        }
        if (line == "[device]") {
            section = Device;
            state.Devices.emplace_back();
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("expected key = value");
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        std::string why;
        if (section == Library) {
            if (!SetLibraryField(state.Library, key, value, why)) return fail(why);
        } else if (section == Device) {
            if (!SetDeviceField(state.Devices.back(), key, value, why)) return fail(why);
        } else {
            return fail("key outside a section");
        }
    }
    return true;
}

}  // namespace gxsim
