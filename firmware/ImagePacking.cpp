#include "firmware/ImagePacking.h"

#include "devices/LittleEndian.h"
#include "firmware/FirmwareImage.h"

#include <stdexcept>

namespace {
void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.resize(out.size() + 2);
    WriteLe16(out.data() + out.size() - 2, v);
}

void PutText(std::vector<uint8_t>& out, std::string_view text)
{
    if (text.size() > 0xFFFF) throw std::length_error("text longer than 65,535 bytes");
    PutU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}
}  // namespace

std::vector<uint8_t> PackFirmwareImage(const std::vector<uint8_t>& payload,
                                       std::string_view versionText,
                                       std::optional<std::string_view> dateText)
{
    std::vector<uint8_t> image(kImageFixedHeader - 2, 0);  // size and checksum, filled below
    PutText(image, versionText);
    if (dateText) PutText(image, *dateText);
    if (payload.size() > kImageSizeMask - image.size())
        throw std::length_error("image larger than 2,147,483,647 bytes");
    image.insert(image.end(), payload.begin(), payload.end());

    const uint32_t size = static_cast<uint32_t>(image.size()) | (dateText ? kImageHasDate : 0);
    WriteLe32(image.data(), size);
    WriteLe16(image.data() + kImageChecksumOffset,
              FirmwareImageChecksum(image.data(), static_cast<uint32_t>(image.size())));
    return image;
}

std::vector<uint8_t> PlaceholderPayload(size_t size)
{
    std::vector<uint8_t> out(size);
    uint32_t x = 0x47585354;  // "GXST"
    for (size_t i = 0; i < size; ++i) {
        if (i % 4 == 0) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
        }
        const uint8_t b = static_cast<uint8_t>(x >> (8 * (i % 4)));
        out[i] = b == 0xFF ? 0xFE : b;
    }
    return out;
}
