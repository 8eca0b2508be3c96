#include "firmware/FirmwareImage.h"

#include "app/Language.h"
#include "app/LogFormat.h"
#include "devices/Checksum.h"
#include "devices/DateValue.h"
#include "devices/LittleEndian.h"
#include "devices/ScanInts.h"

#include <array>

namespace {
std::string_view TextAt(const uint8_t* p, uint32_t size)
{
    return {reinterpret_cast<const char*>(p), size};
}

void LogError(const FirmwareLogFunction& log, int message)
{
    if (log) log(Error, Msg(message));
}
}  // namespace

std::optional<FirmwareImageLayout> ReadFirmwareImageLayout(const uint8_t* image, uint32_t length)
{
    if (length < kImageFixedHeader) return std::nullopt;
    FirmwareImageLayout layout;
    const uint32_t sizeAndFlags = ReadLe32(image);
    layout.HasDate = (sizeAndFlags & kImageHasDate) != 0;
    layout.ImageSize = sizeAndFlags & kImageSizeMask;
    layout.StoredChecksum = ReadLe16(image + kImageChecksumOffset);

    // 64-bit offsets: a text length can never wrap the position around.
    uint64_t at = kImageFixedHeader;
    const uint16_t versionLength = ReadLe16(image + 6);
    if (at + versionLength > length) return std::nullopt;
    layout.VersionText = TextAt(image + at, versionLength);
    at += versionLength;
    if (layout.HasDate) {
        if (at + 2 > length) return std::nullopt;
        const uint16_t dateLength = ReadLe16(image + at);
        at += 2;
        if (at + dateLength > length) return std::nullopt;
        layout.DateText = TextAt(image + at, dateLength);
        at += dateLength;
    }
    layout.PayloadOffset = static_cast<uint32_t>(at);
    return layout;
}

uint16_t FirmwareImageChecksum(const uint8_t* image, uint32_t length)
{
    const uint16_t covered = static_cast<uint16_t>(length & 0xFFFF);
    if (covered == 0) return 0;
    // The checksum field counts as zero: sum a copy of the covered bytes with the field cleared.
    std::vector<uint8_t> copy(image, image + covered);
    for (uint32_t i = kImageChecksumOffset; i < kImageChecksumOffset + 2 && i < covered; ++i)
        copy[i] = 0;
    return PacketChecksum(copy.data(), covered);
}

std::optional<double> DecodeImageDate(std::string_view text)
{
    // The text ends at a zero byte, as the C library's scanf would see it.
    text = text.substr(0, text.find('\0'));
    std::array<int, 6> n{};
    if (ScanInts(text, "%d.%d.%d %d:%d:%d", n.data(), static_cast<int>(n.size())) < 6)
        return std::nullopt;
    double value = 0;
    if (!TryEncodeDateTime(n[2], n[1], n[0], n[3], n[4], n[5], 0, value)) return std::nullopt;
    return value;
}

bool ParseFirmwareImage(const FirmwareLogFunction& log, const uint8_t* image, uint32_t length,
                        TFirmwareVersion& version, TFirmwareBlockList& blocks)
{
    // Fewer bytes than the fixed header cannot even state a size: refused as a wrong size.
    if (length < kImageFixedHeader || (ReadLe32(image) & kImageSizeMask) != length) {
        LogError(log, 34);
        return false;
    }
    if (FirmwareImageChecksum(image, length) != ReadLe16(image + kImageChecksumOffset)) {
        LogError(log, 33);
        return false;
    }
    // A text length that points past the end is a size fault too; checked before anything is
    // filled, so the caller's record stays as it was.
    const std::optional<FirmwareImageLayout> layout = ReadFirmwareImageLayout(image, length);
    if (!layout) {
        LogError(log, 34);
        return false;
    }
    if (!ParseVersion(version, layout->VersionText)) return false;

    version.Date = 0;
    if (layout->HasDate) {
        const std::optional<double> date = DecodeImageDate(layout->DateText);
        if (date)
            version.Date = *date;
        else
            LogError(log, 32);
    }

    blocks.push_back(std::make_unique<TFirmwareBlock>(image + layout->PayloadOffset,
                                                      length - layout->PayloadOffset, -1));
    return true;
}
