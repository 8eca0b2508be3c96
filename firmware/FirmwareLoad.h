#pragma once
// Reading a firmware image from its two sources, an image file or the image embedded in the
// program, and checking it. No widgets: the window decides which source is selected and shows
// the result.

#include "devices/Structs.h"
#include "firmware/FirmwareBlock.h"
#include "firmware/FirmwareImage.h"

#include <QString>

// The image file at path. When path names no existing file, logs message 31 with the path (an
// Error line) and fails; a file that cannot be opened, or that is read short, fails without a
// line of its own. Otherwise the result of ParseFirmwareImage, whose lines go to log.
bool LoadFirmwareImageFile(const QString& path, const FirmwareLogFunction& log,
                           TFirmwareVersion& version, TFirmwareBlockList& blocks);

// The program's resource "FRMV" of type "RC_DATA". A missing or empty resource fails without a
// line of its own.
bool LoadEmbeddedFirmwareImage(const FirmwareLogFunction& log, TFirmwareVersion& version,
                               TFirmwareBlockList& blocks);
