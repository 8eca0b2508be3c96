#pragma once
// Helpers for firmware image tests: an independent checksum, exact-size buffers and header edits.

#include <cstdint>
#include <memory>
#include <vector>

// The container's checksum written out from its definition, independent of the loader's code:
// even-offset bytes are low bytes, odd-offset bytes high bytes, carries folded back in; the
// checksum field counts as zero; only the first (size mod 65,536) bytes are covered.
inline uint16_t ReferenceImageChecksum(const std::vector<uint8_t>& image)
{
    const size_t covered = image.size() % 65536;
    uint64_t sum = 0;
    for (size_t i = 0; i < covered; ++i) {
        if (i == 4 || i == 5) continue;
        sum += i % 2 == 0 ? image[i] : static_cast<uint64_t>(image[i]) << 8;
    }
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

inline void PutU16At(std::vector<uint8_t>& image, size_t at, uint16_t v)
{
    image[at] = static_cast<uint8_t>(v);
    image[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Writes the true size (with the date flag) and the reference checksum.
inline void SealImage(std::vector<uint8_t>& image, bool hasDate)
{
    const uint32_t size = static_cast<uint32_t>(image.size()) | (hasDate ? 0x80000000u : 0u);
    for (int i = 0; i < 4; ++i) image[i] = static_cast<uint8_t>(size >> (8 * i));
    PutU16At(image, 4, ReferenceImageChecksum(image));
}

// A heap copy of exactly the image's size: AddressSanitizer sees any read past its end, which it
// does not for a vector or QByteArray with spare capacity.
inline std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& image)
{
    auto copy = std::make_unique<uint8_t[]>(image.size());
    for (size_t i = 0; i < image.size(); ++i) copy[i] = image[i];
    return copy;
}
