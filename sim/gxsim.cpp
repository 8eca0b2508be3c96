// gxsim: plugs, unplugs, lists and changes the simulated devices of the state folder ($GXSIM_DIR
// or --dir), and inspects their flash. After every change of the attached set it tells a running
// loader, as the operating system would.

#include "platform/OutsideMessages.h"
#include "platform/Platform.h"
#include "sim/SimFaults.h"
#include "sim/SimFolder.h"
#include "sim/SimSectorMaps.h"
#include "sim/SimText.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {
using namespace gxsim;

const char* const kUsage = R"(usage: gxsim [--dir DIR] COMMAND [ARGUMENTS]

The state folder is DIR or $GXSIM_DIR. Commands:
  add SERIAL [KEY=VALUE...]    create a device and plug it in (flash erased, journal empty)
  remove SERIAL                unplug a device and forget it, with its flash and journal
  plug SERIAL                  plug a device in again (it comes up in its next mode)
  unplug SERIAL                unplug a device
  replug SERIAL [PAUSE_MS]     unplug, wait (default 1000 ms) and plug in again
  list                         the devices, one line each
  show SERIAL                  every setting of a device
  set SERIAL KEY=VALUE...      change a device; fault=RULE adds a fault rule, faults= clears them
  library KEY=VALUE...         change the simulated libraries' own behaviour
  dump SERIAL FILE [START [SIZE]]   write the flash (or a range of it) to FILE
  load SERIAL FILE [START]     put the bytes of FILE into the flash at START (default 0)
  compare SERIAL FILE [START]  exit 0 when the flash at START holds the bytes of FILE
  erase SERIAL                 fill the whole flash with 0xFF
  journal SERIAL [--clear]     what the device received, or forget it
  notify                       only tell a running loader that devices changed
  keys                         the keys of add and set, and the fault rule syntax
)";

const char* const kKeys = R"(Device keys (add, set):
  driver=ftdi|vendor            description=TEXT (FTDI, default Geotrovix)
  listed_serial=TEXT (the serial text the driver lists and opens it by; default its name)
  device_code=N (vendor)        mode=application|bootloader (also sets next_mode)
  next_mode=application|bootloader (the mode after the next plug-in; give it after mode=)
  firmware=TEXT                 bootloader=TEXT               processor=0xHEX
  protected=N,N,...             locked=yes|no                 open_fails=yes|no
  open_elsewhere=yes|no (FTDI: open in another program, listed with only that flag)
  latency_ms=N (FTDI latency timer, 0..255)   late_description=N (FTDI lists with no description)
  unplug_after_parts=N          read_wait_ms=N|default (vendor read wait)
  frame_timeout_ms=N            journal_writes=yes|no
  fault=RULE                    faults=   (clears every rule)
Texts take \xHH escapes. Library keys (library):
  ftdi_count_fails=yes|no  ftdi_list_fails=yes|no  vendor_count_fails=yes|no
  vendor_list_fails=yes|no vendor_count_extra=N
Fault rules: effects and selectors, e.g. "short:13 cmd=6 attempt=1", "silent cmd=10",
  "reply:START\x20ERROR cmd=start_boot". Selectors: cmd=N|read_version|start_boot|any,
  attempt=N|N-M, sector=N. Effects: silent, delay:MS, split:N[:MS], short:N, pad:N,
  wrong_sector, wrong_address, status:N, packet_length:N, header_length:N, bad_checksum,
  reply:TEXT, corrupt_request, short_write:N, write_fail.
)";

int Fail(const std::string& message)
{
    std::cerr << "gxsim: " << message << "\n";
    return 1;
}

int Usage()
{
    std::cerr << kUsage;
    return 2;
}

// The operating system's notification; a loader that is not running does not matter.
void Notify()
{
    SendOutsideMessage(RuntimeDirectory(), kDeviceChangeMessage, kDevNodesChanged);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::optional<uint32_t> Number(const std::string& text)
{
    auto v = ParseNumber(text, UINT32_MAX);
    return v ? std::optional<uint32_t>(static_cast<uint32_t>(*v)) : std::nullopt;
}

bool ApplyPairs(DeviceSetup& device, const std::vector<std::string>& pairs, size_t from,
                std::string& error)
{
    for (size_t i = from; i < pairs.size(); ++i) {
        const size_t eq = pairs[i].find('=');
        if (eq == std::string::npos) {
            error = "expected KEY=VALUE, got '" + pairs[i] + "'";
            return false;
        }
        if (!SetDeviceField(device, pairs[i].substr(0, eq), pairs[i].substr(eq + 1), error))
            return false;
    }
    return true;
}

int List(const SimFolder& folder)
{
    SimState state;
    std::string error;
    if (!folder.Load(state, &error)) return Fail(error);
    std::printf("%-16s %-6s %-7s %-11s %-12s %-12s %-10s %s\n", "SERIAL", "DRIVER", "PLUGGED",
                "MODE", "FIRMWARE", "BOOTLOADER", "PROCESSOR", "NOTES");
    for (const DeviceSetup& d : state.Devices) {
        std::string notes;
        if (d.Kind == Driver::Ftdi && d.Description != "Geotrovix")
            notes += "description=" + Escape(d.Description) + " ";
        if (d.Kind == Driver::Vendor) notes += "code=" + std::to_string(d.DeviceCode) + " ";
        if (d.NextMode != d.Current) notes += std::string("next=") + ModeName(d.NextMode) + " ";
        if (d.Locked) notes += "locked ";
        if (d.OpenElsewhere) notes += "open-elsewhere ";
        if (!d.ListedSerial.empty()) notes += "listed-as=" + Escape(d.ListedSerial) + " ";
        if (!d.ProtectedSectors.empty()) notes += "protected ";
        if (!d.Faults.empty()) notes += std::to_string(d.Faults.size()) + "-faults ";
        std::printf("%-16s %-6s %-7s %-11s %-12s %-12s %-10s %s\n", Escape(d.Serial).c_str(),
                    DriverName(d.Kind), d.Plugged ? "yes" : "no", ModeName(d.Current),
                    Escape(d.Firmware).c_str(), Escape(d.Bootloader).c_str(),
                    Hex32(d.ProcessorId).c_str(), notes.c_str());
    }
    return 0;
}

int Run(const std::vector<std::string>& args)
{
    size_t at = 0;
    std::string dir = SimFolder::FromEnvironment();
    if (at + 1 < args.size() && args[at] == "--dir") {
        dir = args[at + 1];
        at += 2;
    }
    if (at >= args.size()) return Usage();
    const std::string command = args[at++];
    const std::vector<std::string> rest(args.begin() + static_cast<long>(at), args.end());
    if (command == "keys") {
        std::cout << kKeys;
        return 0;
    }
    if (command == "notify") {
        Notify();
        return 0;
    }
    if (command == "help" || command == "--help") {
        std::cout << kUsage;
        return 0;
    }
    if (dir.empty()) return Fail("no state folder: set GXSIM_DIR or pass --dir DIR");
    SimFolder folder(dir);
    std::string error;
    if (command == "list") return List(folder);
    if (rest.empty()) return Usage();
    // Serials are taken with the same escapes as the file uses.
    const std::optional<std::string> serial = Unescape(rest[0]);
    if (!serial) return Fail("bad escape in the serial");

    if (command == "add") {
        DeviceSetup device;
        device.Serial = *serial;
        if (!ApplyPairs(device, rest, 1, error)) return Fail(error);
        device.Plugged = true;
        if (!folder.Add(device, &error)) return Fail(error);
        Notify();
        return 0;
    }
    if (command == "remove") {
        SimState state;
        if (!folder.Load(state, &error)) return Fail(error);
        const bool wasPlugged = state.Find(*serial) && state.Find(*serial)->Plugged;
        if (!folder.Remove(*serial, &error)) return Fail(error);
        if (wasPlugged) Notify();
        return 0;
    }
    if (command == "plug" || command == "unplug") {
        if (!(command == "plug" ? folder.Plug(*serial, &error) : folder.Unplug(*serial, &error)))
            return Fail(error);
        Notify();
        return 0;
    }
    if (command == "replug") {
        const std::optional<uint32_t> pause = rest.size() > 1 ? Number(rest[1]) : 1000u;
        if (!pause) return Fail("bad pause");
        if (!folder.Unplug(*serial, &error)) return Fail(error);
        Notify();
        std::this_thread::sleep_for(std::chrono::milliseconds(*pause));
        if (!folder.Plug(*serial, &error)) return Fail(error);
        Notify();
        return 0;
    }
    if (command == "show") {
        SimState state;
        if (!folder.Load(state, &error)) return Fail(error);
        const DeviceSetup* d = state.Find(*serial);
        if (!d) return Fail("no device '" + rest[0] + "'");
        for (const auto& [key, value] : DeviceFields(*d))
            std::cout << key << " = " << value << "\n";
        const FlashLayout layout = LayoutFor(d->ProcessorId, d->Bootloader);
        std::cout << "# flash: " << layout.Sectors.size() << " sectors, " << layout.FlashSize
                  << " bytes, " << folder.FlashPath(d->Serial) << "\n";
        return 0;
    }
    if (command == "set") {
        if (rest.size() < 2) return Usage();
        bool ok = folder.Modify(
            [&](SimState& state, std::string& why) {
                DeviceSetup* d = state.Find(*serial);
                if (!d) {
                    why = "no device '" + rest[0] + "'";
                    return false;
                }
                return ApplyPairs(*d, rest, 1, why);
            },
            &error);
        return ok ? 0 : Fail(error);
    }
    if (command == "library") {
        bool ok = folder.Modify(
            [&](SimState& state, std::string& why) {
                for (const std::string& pair : rest) {
                    const size_t eq = pair.find('=');
                    if (eq == std::string::npos) {
                        why = "expected KEY=VALUE, got '" + pair + "'";
                        return false;
                    }
                    if (!SetLibraryField(state.Library, pair.substr(0, eq), pair.substr(eq + 1),
                                         why))
                        return false;
                }
                return true;
            },
            &error);
        return ok ? 0 : Fail(error);
    }
    if (command == "journal") {
        SimState state;
        if (!folder.Load(state, &error)) return Fail(error);
        if (!state.Find(*serial)) return Fail("no device '" + rest[0] + "'");
        if (rest.size() > 1 && rest[1] == "--clear") {
            folder.ClearJournal(*serial);
            return 0;
        }
        for (const JournalEntry& entry : folder.Journal(*serial)) std::cout << entry.Line << "\n";
        return 0;
    }

    // The flash commands.
    std::vector<uint8_t> flash;
    if (!folder.ReadFlash(*serial, flash)) return Fail("no flash for '" + rest[0] + "'");
    if (command == "erase") {
        return folder.EraseFlash(*serial, 0, static_cast<uint32_t>(flash.size()))
                   ? 0
                   : Fail("cannot erase");
    }
    if (rest.size() < 2) return Usage();
    const std::string& path = rest[1];
    const std::optional<uint32_t> start = rest.size() > 2 ? Number(rest[2]) : 0u;
    if (!start || *start > flash.size()) return Fail("start outside the flash");
    if (command == "dump") {
        const std::optional<uint32_t> size =
            rest.size() > 3 ? Number(rest[3]) : static_cast<uint32_t>(flash.size() - *start);
        if (!size || *size > flash.size() - *start) return Fail("range outside the flash");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data() + *start), *size);
        return out ? 0 : Fail("cannot write " + path);
    }
    std::vector<uint8_t> file;
    if (!ReadFile(path, file)) return Fail("cannot read " + path);
    if (file.size() > flash.size() - *start)
        return Fail(path + " does not fit into the flash there");
    if (command == "load") {
        return folder.WriteFlash(*serial, *start, file) ? 0 : Fail("cannot write the flash");
    }
    if (command == "compare") {
        size_t differences = 0;
        for (size_t i = 0; i < file.size(); ++i) {
            if (flash[*start + i] == file[i]) continue;
            if (++differences <= 10)
                std::printf("0x%08zX: flash %02X, file %02X\n", *start + i, flash[*start + i],
                            file[i]);
        }
        if (differences == 0) return 0;
        std::printf("%zu bytes differ\n", differences);
        return 1;
    }
    return Usage();
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);  // the notification's local socket wants one
    std::vector<std::string> args(argv + 1, argv + argc);
    return Run(args);
}
