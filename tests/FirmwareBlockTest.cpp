#include "app/Language.h"
#include "firmware/FirmwareBlock.h"
#include "firmware/ImagePacking.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace {
class BlockSize : public testing::TestWithParam<uint32_t> {};

TEST_P(BlockSize, UpToTheLimitTheBlockHoldsItsOwnCopy)
{
    std::vector<uint8_t> source = PlaceholderPayload(GetParam());
    const std::vector<uint8_t> original = source;
    TFirmwareBlock block(source.data(), source.size(), 0x4400);
    std::fill(source.begin(), source.end(), 0);  // the caller discards its buffer
    EXPECT_EQ(block.FlashAddress, 0x4400);
    ASSERT_EQ(block.DataSize, GetParam());
    ASSERT_NE(block.Data, nullptr);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), block.Data.get()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockSize, testing::Values(0u, 1u, 512u, MAX_FIRMWARE_BLOCK_SIZE));

TEST(BlockLimit, OneByteMoreRaisesMessage50InTheLanguageCurrentWhenRaised)
{
    const int saved = CurrentLanguage;
    const std::vector<uint8_t> source(MAX_FIRMWARE_BLOCK_SIZE + 1, 0x5A);
    for (int language : {kLanguageRussian, kLanguageEnglish}) {
        CurrentLanguage = language;
        try {
            TFirmwareBlock block(source.data(), source.size(), -1);
            FAIL() << "no error raised";
        } catch (const FirmwareBlockSizeError& e) {
            CurrentLanguage = 1 - language;  // a later change does not alter the raised text
            EXPECT_EQ(e.Message(), MessageText(language, 50));
            EXPECT_EQ(QString::fromUtf8(e.what()), MessageText(language, 50));
        }
    }
    CurrentLanguage = saved;

    // Caught as the loader's own error by the one error display.
    EXPECT_THROW(TFirmwareBlock(source.data(), source.size(), -1), LoaderError);
}

TEST(BlockList, ClearingEmptiesTheListWhichCanBeFilledAgain)
{
    TFirmwareBlockList blocks;
    ClearFirmwareBlocks(blocks);
    EXPECT_TRUE(blocks.empty());

    const uint8_t bytes[] = {0x10, 0x20, 0x30};
    blocks.push_back(std::make_unique<TFirmwareBlock>(bytes, 3, -1));
    ClearFirmwareBlocks(blocks);
    EXPECT_TRUE(blocks.empty());

    blocks.push_back(std::make_unique<TFirmwareBlock>(bytes, 2, 0));
    blocks.push_back(std::make_unique<TFirmwareBlock>(bytes + 1, 2, 0x1000));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1]->Data[0], 0x20);
    ClearFirmwareBlocks(blocks);
    EXPECT_TRUE(blocks.empty());
}
}  // namespace
