#include "app/Language.h"
#include "devices/Checksum.h"
#include "devices/DateValue.h"
#include "devices/Structs.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImagePacking.h"
#include "tests/ImageFixtures.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace {
struct LogLine {
    int kind;
    QString text;
    bool operator==(const LogLine&) const = default;
};
void PrintTo(const LogLine& line, std::ostream* os)
{
    *os << line.kind << ':';
    ::PrintTo(line.text, os);
}

LogLine ErrorLine(int message)
{
    return {1, MessageText(kLanguageEnglish, message)};
}

const char* const kDate = "27.07.2015 11:24:18";

// Each parse starts from a record and a list that show what the parser touched.
class ImageParsing : public testing::Test {
protected:
    void SetUp() override
    {
        savedLanguage_ = CurrentLanguage;
        CurrentLanguage = kLanguageEnglish;
        version.Name = "old";
        version.Number = 999;
        version.Date = 12345;
    }
    void TearDown() override { CurrentLanguage = savedLanguage_; }

    bool Parse(const std::vector<uint8_t>& image)
    {
        const auto copy = ExactCopy(image);
        return ParseFirmwareImage(
            [this](int kind, const QString& text) {
                log.push_back({kind, text});
            },
            copy.get(), static_cast<uint32_t>(image.size()), version, blocks);
    }

    void ExpectUntouched()
    {
        EXPECT_TRUE(blocks.empty());
        EXPECT_EQ(version.Name, "old");
        EXPECT_EQ(version.Number, 999);
        EXPECT_EQ(version.Date, 12345);
    }

    std::vector<uint8_t> payload = PlaceholderPayload(300);
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    std::vector<LogLine> log;

private:
    int savedLanguage_ = kLanguageRussian;
};

TEST_F(ImageParsing, AcceptsAnImageAndCopiesItsPayloadIntoOneBlock)
{
    const auto image = PackFirmwareImage(payload, "GXLV-9.10 beta", kDate);
    ASSERT_TRUE(Parse(image));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(version.Name, "GXLV");
    EXPECT_EQ(version.Number, 910);
    EXPECT_EQ(version.Suffix, "beta");
    EXPECT_EQ(FormatVersionDate(version), "27-07-2015 11:24:18");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->FlashAddress, -1);
    ASSERT_EQ(blocks[0]->DataSize, payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), blocks[0]->Data.get()));
}

TEST_F(ImageParsing, OnlyAppendsToTheList)
{
    const uint8_t earlier[] = {1, 2, 3};
    blocks.push_back(std::make_unique<TFirmwareBlock>(earlier, 3, 0x1000));
    ASSERT_TRUE(Parse(PackFirmwareImage(payload, "GXST-1.44", kDate)));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]->FlashAddress, 0x1000);
    EXPECT_EQ(blocks[1]->DataSize, payload.size());
}

TEST_F(ImageParsing, ASizeOneByteOffIsRefusedAsAWrongSize)
{
    const auto image = PackFirmwareImage(payload, "GXST-1.44", kDate);
    auto longer = image;
    longer.push_back(0);
    EXPECT_FALSE(Parse(longer));
    auto shorter = image;
    shorter.pop_back();
    EXPECT_FALSE(Parse(shorter));
    EXPECT_EQ(log, (std::vector<LogLine>{ErrorLine(34), ErrorLine(34)}));
    ExpectUntouched();
}

TEST_F(ImageParsing, MessagesComeInTheCurrentLanguage)
{
    CurrentLanguage = kLanguageRussian;
    auto image = PackFirmwareImage(payload, "GXST-1.44", kDate);
    image[9] ^= 1;
    EXPECT_FALSE(Parse(image));
    EXPECT_EQ(log, (std::vector<LogLine>{{1, MessageText(kLanguageRussian, 33)}}));
}

// Sizes that are multiples of 65,536 cover no byte: the sum is 0 and only 0 is accepted.
TEST_F(ImageParsing, AWholeMultipleOf65536CarriesChecksumZero)
{
    for (uint32_t total : {65536u, 131072u}) {
        SCOPED_TRACE(total);
        auto image = PackFirmwareImage(PlaceholderPayload(total - 38), "GXST-1.44", kDate);
        ASSERT_EQ(image.size(), total);
        EXPECT_EQ(image[4] | image[5] << 8, 0);
        blocks.clear();
        log.clear();
        EXPECT_TRUE(Parse(image));

        // The checksum the header alone would give is not 0: refused.
        std::vector<uint8_t> header(image.begin(), image.begin() + 38);
        PutU16At(image, 4, ReferenceImageChecksum(header));
        ASSERT_NE(image[4] | image[5] << 8, 0);
        blocks.clear();
        EXPECT_FALSE(Parse(image));
        EXPECT_EQ(log, (std::vector<LogLine>{ErrorLine(33)}));
        EXPECT_TRUE(blocks.empty());
    }
}

// Only the first (size mod 65,536) bytes are covered. With 65,536 + 45 bytes that is the 38-byte
// header and 7 payload bytes, the last of them a lone byte added as a value 0..255.
TEST_F(ImageParsing, TheChecksumCoversTheLowSixteenBitsOfTheSizeWithAnOddLastByte)
{
    auto image = PackFirmwareImage(PlaceholderPayload(65536 + 7), "GXST-1.44", kDate);
    ASSERT_EQ(image.size(), 65536u + 45);
    image[44] = 0xA7;  // the lone last byte
    SealImage(image, true);
    EXPECT_TRUE(Parse(image));

    // Counted as a high byte instead, the stored value would be refused.
    auto wrong = image;
    std::vector<uint8_t> covered(image.begin(), image.begin() + 44);
    uint32_t asHigh = ReferenceImageChecksum(covered) + (0xA7u << 8);
    asHigh = (asHigh & 0xFFFF) + (asHigh >> 16);
    PutU16At(wrong, 4, static_cast<uint16_t>(asHigh));
    EXPECT_FALSE(Parse(wrong));

    auto lastCovered = image;
    lastCovered[44] ^= 0x01;
    EXPECT_FALSE(Parse(lastCovered));

    auto firstUncovered = image;
    firstUncovered[45] ^= 0x01;
    EXPECT_TRUE(Parse(firstUncovered));
    EXPECT_EQ(log, (std::vector<LogLine>{ErrorLine(33), ErrorLine(33)}));
}

TEST_F(ImageParsing, WithoutTheDateFlagNoDateIsReadAndThePayloadFollowsTheVersion)
{
    const auto image = PackFirmwareImage(payload, "GXST-1.44", std::nullopt);
    EXPECT_EQ(image[3] & 0x80, 0);
    ASSERT_TRUE(Parse(image));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(version.Date, 0);
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0]->DataSize, payload.size());
    EXPECT_EQ(blocks[0]->Data[0], image[8 + 9]);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), blocks[0]->Data.get()));
}

struct VersionCase {
    const char* text;
    bool accepted;
    const char* name;
    uint16_t number;
};
void PrintTo(const VersionCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}
class ImageVersionText : public ImageParsing, public testing::WithParamInterface<VersionCase> {};

// A version text that does not read is refused without a message of the parser's own and without
// a block; the record keeps what the version reader left.
TEST_P(ImageVersionText, DecidesTheResult)
{
    const VersionCase& c = GetParam();
    EXPECT_EQ(Parse(PackFirmwareImage(payload, c.text, kDate)), c.accepted);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(blocks.size(), c.accepted ? 1u : 0u);
    EXPECT_EQ(version.Name, c.name);
    EXPECT_EQ(version.Number, c.number);
    EXPECT_EQ(version.Date != 12345, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Texts, ImageVersionText,
                         testing::Values(VersionCase{"GXST-1.44", true, "GXST", 144},
                                         VersionCase{"Unknown", true, "unk", 1},
                                         VersionCase{"GXST1.44", false, "", 999},
                                         VersionCase{"GXST-x", false, "GXST", 999},
                                         VersionCase{"", false, "", 999}));

struct DateCase {
    std::string text;
    bool valid;
    int parts[6];  // day, month, year, hour, minute, second when valid
};
void PrintTo(const DateCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}
class ImageDateText : public ImageParsing, public testing::WithParamInterface<DateCase> {};

// A date that does not decode costs message 32 and leaves Date 0, but the image is accepted.
TEST_P(ImageDateText, IsDecodedOrReported)
{
    const DateCase& c = GetParam();
    ASSERT_TRUE(Parse(PackFirmwareImage(payload, "GXST-1.44", c.text)));
    EXPECT_EQ(blocks.size(), 1u);
    if (c.valid) {
        double expected = 0;
        const int* p = c.parts;
        ASSERT_TRUE(TryEncodeDateTime(p[2], p[1], p[0], p[3], p[4], p[5], 0, expected));
        EXPECT_EQ(version.Date, expected);
        EXPECT_TRUE(log.empty());
    } else {
        EXPECT_EQ(version.Date, 0);
        EXPECT_EQ(log, (std::vector<LogLine>{ErrorLine(32)}));
        EXPECT_EQ(FormatVersionDate(version), MessageText(kLanguageEnglish, 49));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ImageDateText,
    testing::Values(
        DateCase{"27.07.2015 11:24:18", true, {27, 7, 2015, 11, 24, 18}},
        DateCase{" 1. 2.2020\t3:4:5 built by CI", true, {1, 2, 2020, 3, 4, 5}},
        DateCase{"29.02.2016 23:59:59", true, {29, 2, 2016, 23, 59, 59}},
        DateCase{"31.12.9999 00:00:00", true, {31, 12, 9999, 0, 0, 0}},
        DateCase{"31.02.2015 10:00:00", false, {}}, DateCase{"29.02.2015 10:00:00", false, {}},
        DateCase{"27-07-2015 11:24:18", false, {}}, DateCase{"27.07.2015 11:24", false, {}},
        DateCase{"27.07.2015 24:00:00", false, {}}, DateCase{"27.07.2015 11:60:00", false, {}},
        DateCase{"27.13.2015 11:24:18", false, {}}, DateCase{"27.07.0000 11:24:18", false, {}},
        DateCase{std::string("27.07.2015\0 11:24:18", 20), false, {}}, DateCase{"", false, {}}));

// Headers whose stated lengths run past the bytes obtained. Size and checksum are right, so only
// the bounds check stands between the parser and a read past the end.
struct HeaderCase {
    const char* what;
    std::vector<uint8_t> bytes;  // size and checksum are sealed in by the test when 8 or more
    bool hasDate;
    bool accepted;
};
void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.what;
}
class ImageHeaderBounds : public ImageParsing, public testing::WithParamInterface<HeaderCase> {};

TEST_P(ImageHeaderBounds, AreRefusedWithoutReadingPastTheEnd)
{
    const HeaderCase& c = GetParam();
    auto image = c.bytes;
    if (image.size() >= 8) SealImage(image, c.hasDate);
    EXPECT_EQ(Parse(image), c.accepted) << c.what;
    if (c.accepted) {
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0]->DataSize, 0u);
        EXPECT_TRUE(log.empty());
    } else {
        EXPECT_EQ(log, (std::vector<LogLine>{ErrorLine(34)})) << c.what;
        ExpectUntouched();
    }
}

std::vector<uint8_t> Header(uint16_t versionLength, std::string_view rest)
{
    std::vector<uint8_t> h(8 + rest.size(), 0);
    PutU16At(h, 6, versionLength);
    std::copy(rest.begin(), rest.end(), h.begin() + 8);
    return h;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageHeaderBounds,
    testing::Values(HeaderCase{"empty", {}, false, false},
                    HeaderCase{"size field only, stating 4", {4, 0, 0, 0}, false, false},
                    HeaderCase{"seven bytes stating 7", {7, 0, 0, 0, 0, 0, 0}, false, false},
                    HeaderCase{"version length past the end", Header(10, "GXST-1.44"), false,
                               false},
                    HeaderCase{"version length 65535", Header(0xFFFF, "GXST-1.44"), false, false},
                    HeaderCase{"no room for the date length", Header(9, "GXST-1.44"), true, false},
                    HeaderCase{"half a date length", Header(9, "GXST-1.44\x13"), true, false},
                    HeaderCase{"date length past the end",
                               Header(9, std::string_view("GXST-1.44\x13\x00"
                                                          "27.07.2015 11:24:1",
                                                          29)),
                               true, false},
                    HeaderCase{"version up to the end", Header(9, "GXST-1.44"), false, true},
                    HeaderCase{"date up to the end",
                               Header(9, std::string_view("GXST-1.44\x13\x00"
                                                          "27.07.2015 11:24:18",
                                                          30)),
                               true, true}));

TEST_F(ImageParsing, APayloadOfTheBlockLimitIsAcceptedAndOneByteMoreRaisesMessage50)
{
    auto image = PackFirmwareImage(PlaceholderPayload(MAX_FIRMWARE_BLOCK_SIZE), "GXST-1.44", kDate);
    ASSERT_TRUE(Parse(image));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->DataSize, MAX_FIRMWARE_BLOCK_SIZE);

    ClearFirmwareBlocks(blocks);
    version = {};
    image = PackFirmwareImage(PlaceholderPayload(MAX_FIRMWARE_BLOCK_SIZE + 1), "GXLV-2.05", kDate);
    try {
        Parse(image);
        FAIL() << "no error raised";
    } catch (const FirmwareBlockSizeError& e) {
        EXPECT_EQ(e.Message(), MessageText(kLanguageEnglish, 50));
    }
    EXPECT_TRUE(blocks.empty());
    EXPECT_EQ(version.Name, "GXLV");  // filled before the block was refused
    EXPECT_TRUE(log.empty());
}

TEST(PacketChecksumValues, SumsLittleEndianWordsWithEndAroundCarry)
{
    struct Case {
        std::vector<uint8_t> bytes;
        uint16_t sum;
    };
    const Case cases[] = {
        {{}, 0x0000},
        {{0x01, 0x02}, 0x0201},
        {{0x01, 0x02, 0x03}, 0x0204},        // lone last byte as a low byte
        {{0xFF, 0xFF, 0x02, 0x00}, 0x0002},  // the carry comes back in
        {{0x00, 0x80, 0x00, 0x80}, 0x0001},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x00FF},  // no inversion
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PacketChecksum(c.bytes.data(), static_cast<uint16_t>(c.bytes.size())), c.sum);
    }
    // The longest run: 65,535 bytes of 0xFF.
    const std::vector<uint8_t> full(65535, 0xFF);
    EXPECT_EQ(PacketChecksum(full.data(), 65535), 0x00FF);
}
}  // namespace
