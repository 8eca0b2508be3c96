#pragma once
// Identification of a device that a scan found new, on the scan thread: in which mode it runs,
// its firmware version, then either its bootloader version and processor identifier (bootloader
// mode) or the request to restart into its bootloader (application mode). What it learns goes
// into the record; its log lines go through the pass's hand-over. The device is not listed yet,
// so nothing else touches its record or channel.

#include "devices/IdentifyContext.h"
#include "devices/Structs.h"
#include "sessions/BootProtocol.h"

// Opens the device, queries it and closes it again. Sets the pass's ScanError to 7 when the
// device does not open and to 8 when it answers neither version query; never resets it. The
// bootloader details and the bootloader start are skipped while ScanError is not 0, also when an
// earlier device of the pass failed. True when ScanError is 0 at the end.
bool IdentifyDevice(TIdentifyContext& context, TDevEntry& device);

// Bootloader mode: command 5 into BootloaderVersion, then command 10 into ProcessorId, reusing
// buffer as the command 5 query left it. A missing processor-ID reply logs message 38.
void ReadBootloaderDetails(TIdentifyContext& context, TDevEntry& device, QueryReplyBuffer& buffer);

// Application mode: "START_BOOT_LOADER", logged by outcome; BootloaderStarted is set when the
// device answered "STARTED".
void SwitchToBootloader(TIdentifyContext& context, TDevEntry& device);
