#pragma once
// One contiguous run of firmware bytes with the flash address it belongs at, and the list that
// carries blocks from the image parser to the write session.

#include "app/LoaderError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

inline constexpr uint32_t MAX_FIRMWARE_BLOCK_SIZE = 0x200000;  // 2,097,152 bytes, inclusive

// Raised when a block would exceed MAX_FIRMWARE_BLOCK_SIZE. Its text is message 50 in the language
// current when it is raised.
class FirmwareBlockSizeError : public LoaderError {
public:
    FirmwareBlockSizeError();
};

class TFirmwareBlock {
public:
    int32_t FlashAddress;             // -1: the first byte of the first writable sector
    uint32_t DataSize;                // bytes in Data
    std::unique_ptr<uint8_t[]> Data;  // the block's own copy

    // Copies size bytes from source. Throws FirmwareBlockSizeError, holding no memory, when size
    // exceeds MAX_FIRMWARE_BLOCK_SIZE.
    TFirmwareBlock(const uint8_t* source, size_t size, int32_t flashAddress);
};

// An ordered list that owns its blocks: whatever path leaves the owner's scope frees them. A class
// of its own rather than an alias, so that code which only passes a list on can name it without
// knowing blocks.
class TFirmwareBlockList : public std::vector<std::unique_ptr<TFirmwareBlock>> {
public:
    using vector::vector;
};

// Destroys the blocks in index order and empties the list, which may then be filled again.
void ClearFirmwareBlocks(TFirmwareBlockList& blocks);
