#include "firmware/FirmwareBlock.h"

#include "app/Language.h"

#include <cstring>

FirmwareBlockSizeError::FirmwareBlockSizeError() : LoaderError(Msg(50)) {}

namespace {
// Checked before anything is allocated, so a refused block owns nothing.
uint32_t CheckedBlockSize(size_t size)
{
    if (size > MAX_FIRMWARE_BLOCK_SIZE) throw FirmwareBlockSizeError();
    return static_cast<uint32_t>(size);
}
}  // namespace

TFirmwareBlock::TFirmwareBlock(const uint8_t* source, size_t size, int32_t flashAddress)
    : FlashAddress(flashAddress),
      DataSize(CheckedBlockSize(size)),
      Data(std::make_unique_for_overwrite<uint8_t[]>(DataSize))
{
    if (DataSize > 0) std::memcpy(Data.get(), source, DataSize);
}

void ClearFirmwareBlocks(TFirmwareBlockList& blocks)
{
    for (auto& block : blocks) block.reset();
    blocks.clear();
}
