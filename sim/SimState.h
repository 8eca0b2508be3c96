#pragma once
// The description of the simulated devices, as kept in the state folder's "devices.txt": a text
// file a person can read, written only as a whole (see SimFolder).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gxsim {

enum class Driver { Ftdi, Vendor };
enum class Mode { Application, Bootloader };

struct DeviceSetup {
    std::string Serial;  // the device's name in gxsim; also its serial text, unless ListedSerial
    // The serial text the driver lists and opens the device by, when it is not the name: two
    // devices that report one serial number.
    std::string ListedSerial;
    const std::string& ListedSerialText() const
    {
        return ListedSerial.empty() ? Serial : ListedSerial;
    }
    Driver Kind = Driver::Ftdi;
    bool Plugged = true;
    uint32_t PlugCount = 1;  // plug-ins so far: a handle opened before the last one is dead
    std::string Description = "Geotrovix";  // FTDI product description
    uint16_t DeviceCode = 1;                // vendor library device code
    Mode Current = Mode::Bootloader;
    Mode NextMode = Mode::Bootloader;  // the mode the device comes up in at its next plug-in
    std::string Firmware = "GXST-1.44";
    std::string Bootloader = "GXBL-1.05";
    uint32_t ProcessorId = 0x26013F37;
    std::vector<uint32_t> ProtectedSectors;
    bool Locked = false;
    // Behaviour of the device and its cable.
    bool OpenFails = false;
    // FTDI: another program holds the device open. The driver lists it with only that flag, its
    // serial number and description empty, and nobody else can open it.
    bool OpenElsewhere = false;
    uint32_t LatencyMs = 0;           // FTDI latency timer: a short reply is held back this long
    uint32_t LateDescription = 0;     // FTDI lists after plug-in that show an empty description
    uint32_t DescriptionReads = 0;    // FTDI lists since plug-in
    uint32_t UnplugAfterParts = 0;    // unplugged when the next part arrives; 0: never
    uint32_t PartsWritten = 0;        // write-part packets since plug-in
    int32_t ReadWaitMs = -1;          // vendor read wait; -1: the first time-out set at open
    uint32_t FrameTimeoutMs = 500;    // a partial request older than this is dropped
    bool JournalWrites = false;       // journal every driver write call with its size and time
    std::vector<std::string> Faults;  // fault rules (SimFaults.h)
};

struct LibrarySetup {
    bool FtdiCountFails = false;    // FT_CreateDeviceInfoList fails
    bool FtdiListFails = false;     // FT_GetDeviceInfoList fails
    bool VendorCountFails = false;  // LV_GetListDevices without records fails
    bool VendorListFails = false;   // LV_GetListDevices with records fails
    uint32_t VendorCountExtra = 0;  // the second count reports this many more than there are
};

struct SimState {
    LibrarySetup Library;
    std::vector<DeviceSetup> Devices;

    DeviceSetup* Find(std::string_view serial);
    const DeviceSetup* Find(std::string_view serial) const;
};

std::string FormatState(const SimState& state);
bool ParseState(std::string_view text, SimState& state, std::string& error);

// key = value as written in the file (texts escaped). Also what `gxsim set` takes.
bool SetDeviceField(DeviceSetup& device, std::string_view key, std::string_view value,
                    std::string& error);
bool SetLibraryField(LibrarySetup& library, std::string_view key, std::string_view value,
                     std::string& error);
std::vector<std::pair<std::string, std::string>> DeviceFields(const DeviceSetup& device);
std::vector<std::pair<std::string, std::string>> LibraryFields(const LibrarySetup& library);

const char* DriverName(Driver driver);
const char* ModeName(Mode mode);

}  // namespace gxsim
