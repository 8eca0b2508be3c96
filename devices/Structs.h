#pragma once
// The shared records: a version value and the record of one attached device.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Named, not included: only the two display texts below use Qt's string (devices/VersionText.cpp),
// so the records build without Qt, as the Windows build of the layers below the window does.
class QString;
class TFWLoaderDevGroup;
class TWorkerThread;

struct TFirmwareVersion {
    std::string Name;     // family tag before the first '-', "unk" for a device that said "Unknown"
    std::string Suffix;   // trimmed text after the version digits
    double Date = 0;      // days since 30 December 1899; 0 = unknown
    uint16_t Number = 0;  // major * 100 + minor; 0 = not known
};

void ResetVersion(TFirmwareVersion& version);
// True when a version was recognised. Fields are left as the rules say on a false result.
bool ParseVersion(TFirmwareVersion& version, std::string_view text);
// The version as the window and the log show it, and its date (devices/VersionText.cpp).
QString FormatVersion(const TFirmwareVersion& version);
QString FormatVersionDate(const TFirmwareVersion& version);

// The serial text read as a signed 32-bit decimal number; -1 when it does not read as one.
int32_t SerialFromText(std::string_view text);

enum TDriverKind : int32_t { FtdiDriver = 0, VendorDriver = 1 };

// The record owns its panel. The panel's class lives with the widgets, so the record only keeps
// the function that destroys it, set by whoever creates the panel.
struct PanelDeleter {
    void (*Destroy)(TFWLoaderDevGroup*) = nullptr;
    void operator()(TFWLoaderDevGroup* panel) const
    {
        if (panel && Destroy) Destroy(panel);
    }
};

struct TDevEntry {
    int32_t SerialNumber;
    // The serial text exactly as the driver listed it. The device is opened by it: "%d" of the
    // number does not give back a text such as "007001". With DriverKind it tells devices apart.
    std::string SerialText;
    uint16_t DeviceCode;
    uint32_t ProcessorId = 0;
    bool InBootloader = false;
    bool BootloaderStarted = false;
    bool Detached = false;
    std::unique_ptr<TFWLoaderDevGroup, PanelDeleter> Panel;
    // The device's running write session (a TWriteThread); not owned: the session frees itself.
    TWorkerThread* Writer = nullptr;
    TFirmwareVersion FirmwareVersion;
    TFirmwareVersion BootloaderVersion;
    int32_t DriverKind;
    void* FtdiHandle = nullptr;
    void* VendorHandle = nullptr;

    TDevEntry(std::string_view serialText, uint16_t deviceCode, int32_t driverKind);
    TDevEntry(const TDevEntry&) = delete;
    TDevEntry& operator=(const TDevEntry&) = delete;
    // Destroys the panel; the channel must have been closed by whoever destroys the record.
    ~TDevEntry() = default;
};
