// libFuzzer target for the firmware image parser. Besides memory and undefined-behaviour faults it
// traps on a broken promise of the parser: an accepted image gives exactly one block with
// FlashAddress -1 that fits inside the input; a refused one gives none.

#include "firmware/FirmwareImage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX) return 0;
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    QString lastLine;
    bool accepted = false;
    try {
        accepted = ParseFirmwareImage([&](int, const QString& text) { lastLine = text; }, data,
                                      static_cast<uint32_t>(size), version, blocks);
    } catch (const FirmwareBlockSizeError&) {
        if (!blocks.empty()) __builtin_trap();
        return 0;
    }
    if (accepted) {
        if (blocks.size() != 1 || blocks[0]->FlashAddress != -1 ||
            blocks[0]->DataSize + uint64_t{8} > size)
            __builtin_trap();
    } else if (!blocks.empty()) {
        __builtin_trap();
    }
    return 0;
}
