#include "app/Language.h"
#include "devices/DateValue.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImagePacking.h"
#include "platform/ProgramResource.h"
#include "tests/ImageFixtures.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {
std::vector<uint8_t> ToVector(const QByteArray& bytes)
{
    return {reinterpret_cast<const uint8_t*>(bytes.constData()),
            reinterpret_cast<const uint8_t*>(bytes.constData()) + bytes.size()};
}

class EmbeddedImage : public testing::Test {
protected:
    void SetUp() override
    {
        const std::optional<QByteArray> resource = OpenProgramResource("FRMV", "RC_DATA");
        ASSERT_TRUE(resource.has_value());
        image = ToVector(*resource);
    }

    bool Parse(const std::vector<uint8_t>& bytes)
    {
        lines = 0;
        lastLine.clear();
        ClearFirmwareBlocks(blocks);
        const auto copy = ExactCopy(bytes);
        return ParseFirmwareImage(
            [this](int, const QString& text) {
                ++lines;
                lastLine = text;
            },
            copy.get(), static_cast<uint32_t>(bytes.size()), version, blocks);
    }

    std::vector<uint8_t> image;
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    int lines = 0;
    QString lastLine;
};

TEST_F(EmbeddedImage, IsTheBuiltImageUnderItsNames)
{
    QFile built(QStringLiteral(GX_EMBEDDED_IMAGE_PATH));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly));
    EXPECT_EQ(image, ToVector(built.readAll()));

    EXPECT_FALSE(OpenProgramResource("FRMX", "RC_DATA").has_value());
    EXPECT_FALSE(OpenProgramResource("FRMV", "RCDATA").has_value());
}

TEST_F(EmbeddedImage, ParsesToItsPublishedValues)
{
    ASSERT_EQ(image.size(), 131110u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 4),
              (std::vector<uint8_t>{0x26, 0x00, 0x02, 0x80}));
    std::vector<uint8_t> header(image.begin(), image.begin() + 38);
    EXPECT_EQ(image[4] | image[5] << 8, ReferenceImageChecksum(header));

    ASSERT_TRUE(Parse(image));
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(version.Name, "GXST");
    EXPECT_EQ(version.Number, 144);
    EXPECT_EQ(version.Suffix, "");
    EXPECT_EQ(FormatVersion(version), "GXST-1.44");
    double date = 0;
    ASSERT_TRUE(TryEncodeDateTime(2015, 7, 27, 11, 24, 18, 0, date));
    EXPECT_EQ(version.Date, date);
    EXPECT_EQ(FormatVersionDate(version), "27-07-2015 11:24:18");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->FlashAddress, -1);
    ASSERT_EQ(blocks[0]->DataSize, 131072u);
    EXPECT_TRUE(std::equal(image.begin() + 38, image.end(), blocks[0]->Data.get()));
}

// The checksum covers the first 38 bytes, the header, and nothing of the payload.
TEST_F(EmbeddedImage, APayloadChangePassesAndAHeaderTextChangeFails)
{
    const int saved = CurrentLanguage;
    CurrentLanguage = kLanguageEnglish;
    for (size_t at : {size_t{38}, size_t{65536}, image.size() - 1}) {
        auto changed = image;
        changed[at] ^= 0x40;
        EXPECT_TRUE(Parse(changed)) << at;
        EXPECT_EQ(blocks[0]->Data[at - 38], changed[at]);
    }
    for (size_t at : {size_t{8}, size_t{16}, size_t{19}, size_t{37}}) {  // version and date letters
        auto changed = image;
        changed[at] ^= 0x01;
        EXPECT_FALSE(Parse(changed)) << at;
        EXPECT_EQ(lines, 1);
        EXPECT_EQ(lastLine, MessageText(kLanguageEnglish, 33));
    }
    CurrentLanguage = saved;
}

// The stand-in payload must look like firmware to the flash layout: a 512-byte part that is all
// 0xFF, or a trailing 0xFF, would leave parts of the flash unwritten.
TEST(PlaceholderPayloadBytes, AreFixedAndLeaveNoPartLookingErased)
{
    const std::vector<uint8_t> payload = PlaceholderPayload(131072);
    EXPECT_EQ(payload, PlaceholderPayload(131072));
    // Pinned: a changed generator changes the embedded image.
    EXPECT_EQ(std::vector<uint8_t>(payload.begin(), payload.begin() + 8),
              (std::vector<uint8_t>{0x6D, 0x4C, 0x6C, 0xEB, 0xBD, 0x7E, 0xDA, 0x3E}));
    for (size_t part = 0; part < payload.size(); part += 512) {
        EXPECT_FALSE(std::all_of(payload.begin() + part, payload.begin() + part + 512,
                                 [](uint8_t b) { return b == 0xFF; }))
            << "part at " << part;
    }
    EXPECT_NE(payload.back(), 0xFF);

    std::optional<QByteArray> resource = OpenProgramResource("FRMV", "RC_DATA");
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(ToVector(resource->mid(38)), payload);

    // A shorter payload is the start of the longer one.
    const std::vector<uint8_t> shorter = PlaceholderPayload(1001);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), payload.begin()));
    EXPECT_NE(shorter.back(), 0xFF);
}
}  // namespace
