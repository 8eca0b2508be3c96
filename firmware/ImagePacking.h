#pragma once
// Building firmware image containers: used by the packing tool, the build's embedded image and
// test fixtures.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// A container holding payload, with the version text and, when given, the date text
// ("DD.MM.YYYY HH:MM:SS"), and the checksum the container's rule gives. Throws
// std::length_error when a text exceeds 65,535 bytes or the image would exceed 31 bits of size.
std::vector<uint8_t> PackFirmwareImage(const std::vector<uint8_t>& payload,
                                       std::string_view versionText,
                                       std::optional<std::string_view> dateText);

// The stand-in payload of the embedded image: the same bytes on every build. A 32-bit xorshift
// sequence from a fixed seed, little-endian, with every 0xFF byte written as 0xFE, so that no
// sector it reaches looks erased and every such sector is written.
std::vector<uint8_t> PlaceholderPayload(size_t size);
