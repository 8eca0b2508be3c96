#pragma once
// What the identification of a new device needs from the scan pass that runs it, and no more:
// the pass's log hand-over, its stop request, its ScanError and its last reply code.

#include "app/LogFormat.h"
#include "devices/Structs.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>

// Result codes of a pass (ScanError).
inline constexpr int32_t kScanOk = 0;
inline constexpr int32_t kScanOpenFailed = 7;  // a new device's channel did not open
inline constexpr int32_t kScanNoAnswer = 8;    // a new device answered no version query
// A new device whose library already lists another with its serial text: the loader cannot open
// one of them without maybe reaching the other, so it leaves it alone.
inline constexpr int32_t kScanDuplicateSerial = 10;

struct TIdentifyContext {
    // Formats the line as ReaderLog does and returns once the window thread has logged it. device
    // is the device's SerialNumber, or 0 for a line about no single device.
    std::function<void(int kind, int32_t device, const QString& format,
                       std::initializer_list<LogArg> args)>
        Log;
    // True once the pass was asked to stop (the window closes): no further exchange is started.
    std::function<bool()> StopRequested;
    // The pass's result: 0, or 7 (a device did not open), 8 (a device answered no version query).
    int32_t& ScanError;
    // Status of the last reply of at least 14 bytes with HeaderLength 14 that the pass received.
    int32_t& LastReplyCode;
};

// Identifies one new device of the pass (sessions/Identification.h).
using IdentifyFunction = std::function<bool(TIdentifyContext& context, TDevEntry& device)>;
