// The firmware image container, as the Read button and a write session's load parse an image file.
// Besides memory and undefined-behaviour faults it checks the parser's promises: an accepted image
// states its own length and gives exactly one block, at FlashAddress -1, holding the bytes after
// the header and nothing else, with at most the date's message logged; a refused one gives none.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"

#include "firmware/FirmwareImage.h"

#include <cstring>
#include <optional>

void FuzzFirmwareImage(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX) return;
    const auto length = static_cast<uint32_t>(size);
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    int errors = 0;
    bool accepted = false;
    try {
        accepted = ParseFirmwareImage([&](int kind, const QString&) { errors += kind == 1; }, data,
                                      length, version, blocks);
    } catch (const FirmwareBlockSizeError&) {
        GX_FUZZ_CHECK(blocks.empty());
        return;
    }
    if (!accepted) {
        GX_FUZZ_CHECK(blocks.empty());
        return;
    }

    GX_FUZZ_CHECK(errors <= 1);
    GX_FUZZ_CHECK(blocks.size() == 1);
    const std::optional<FirmwareImageLayout> layout = ReadFirmwareImageLayout(data, length);
    GX_FUZZ_CHECK(layout.has_value());
    GX_FUZZ_CHECK(layout->ImageSize == length);
    GX_FUZZ_CHECK(layout->PayloadOffset <= length);
    const TFirmwareBlock& block = *blocks[0];
    GX_FUZZ_CHECK(block.FlashAddress == -1);
    GX_FUZZ_CHECK(block.DataSize == length - layout->PayloadOffset);
    GX_FUZZ_CHECK(block.DataSize == 0 ||
                  std::memcmp(block.Data.get(), data + layout->PayloadOffset, block.DataSize) == 0);
}
