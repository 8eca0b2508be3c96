#pragma once
// Small facts about the operating system the loader runs on.

#include "platform/PathRule.h"

#include <QString>

// The name shared by the single-instance lock and the outside-message endpoint.
inline constexpr const char* kInstanceName = "GXUSBFirmwareLoaderBaseMutex";

// How command-line arguments are tested as paths on this system's file system.
PathRule CommandLinePathRule();

// Per-user folder for the instance lock and the message socket (empty where not used).
QString RuntimeDirectory();
