#pragma once
// The firmware image container: a header with the image's size, a checksum, the version text and
// an optional build date, followed by the payload that goes into flash.
//
//   offset 0    u32  bit 31 HasDate, bits 0-30 ImageSize (whole image, header included)
//   offset 4    u16  ImageChecksum
//   offset 6    u16  VersionLength N, then N bytes of version text
//   offset 8+N  u16  DateLength M, then M bytes of date text (only with HasDate)
//   then the payload, to the end of the image. Numbers are little-endian.

#include "devices/Structs.h"
#include "firmware/FirmwareBlock.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

inline constexpr uint32_t kImageHasDate = 0x80000000u;
inline constexpr uint32_t kImageSizeMask = 0x7FFFFFFFu;
inline constexpr uint32_t kImageFixedHeader = 8;  // size, checksum, version length
inline constexpr uint32_t kImageChecksumOffset = 4;

// Receives the parser's log lines; kind is the log kind (1 = Error). The window passes one that
// calls AddLog(kind, text).
using FirmwareLogFunction = std::function<void(int kind, const QString& text)>;

// Where the header's parts lie. Every span is inside the bytes it was read from.
struct FirmwareImageLayout {
    bool HasDate = false;
    uint32_t ImageSize = 0;  // as stated, not checked against the length
    uint16_t StoredChecksum = 0;
    std::string_view VersionText;
    std::string_view DateText;  // empty without HasDate
    uint32_t PayloadOffset = 0;
};

// Nothing when the bytes are fewer than 8 or a stated text length runs past their end.
std::optional<FirmwareImageLayout> ReadFirmwareImageLayout(const uint8_t* image, uint32_t length);

// The checksum an image of these bytes must carry: PacketChecksum over the first
// (length mod 65,536) bytes with the checksum field counted as zero. Bytes beyond are not
// covered; stored images rely on exactly this coverage.
uint16_t FirmwareImageChecksum(const uint8_t* image, uint32_t length);

// Checks the image (size, checksum, version text) and, when it passes, fills version and appends
// one block with FlashAddress -1 holding a copy of the payload. Messages 34, 33 and 32 go to log as
// Error lines. A refused version text gives false without a message. A date that does not decode
// leaves Date 0 and still gives true. Never reads beyond length bytes. A payload above
// MAX_FIRMWARE_BLOCK_SIZE throws FirmwareBlockSizeError after version was filled.
bool ParseFirmwareImage(const FirmwareLogFunction& log, const uint8_t* image, uint32_t length,
                        TFirmwareVersion& version, TFirmwareBlockList& blocks);

// Day, month, year, hour, minute, second read like scanf's "%d.%d.%d %d:%d:%d" and encoded as a
// date value; nothing when fewer than six numbers are read or they form no valid date-time.
std::optional<double> DecodeImageDate(std::string_view text);
