#include "app/Language.h"
#include "devices/DateValue.h"
#include "devices/Structs.h"
#include "devices/Text8.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace {
struct ParseCase {
    const char* text;
    bool result;
    const char* name;
    uint16_t number;
    const char* suffix;
    const char* formatted;  // nullptr: not checked
};

// Every parse starts from a version holding Number 999 and Suffix "old", so that the cases show
// which fields a parse leaves as they were.
class VersionParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(VersionParsing, FillsTheFieldsTheRulesName)
{
    const ParseCase& c = GetParam();
    TFirmwareVersion v;
    v.Number = 999;
    v.Suffix = "old";
    EXPECT_EQ(ParseVersion(v, c.text), c.result);
    EXPECT_EQ(v.Name, c.name);
    EXPECT_EQ(v.Number, c.number);
    EXPECT_EQ(v.Suffix, c.suffix);
    if (c.formatted) {
        EXPECT_EQ(FormatVersion(v), QString::fromUtf8(c.formatted));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VersionParsing,
    testing::Values(ParseCase{"GXST-1.44", true, "GXST", 144, "old", "GXST-1.44old"},
                    ParseCase{"GXLV-2.05b", true, "GXLV", 205, "b", "GXLV-2.05b"},
                    ParseCase{"GXLV-3.10 beta", true, "GXLV", 310, "beta", "GXLV-3.10beta"},
                    ParseCase{"GXLV-2.5", true, "GXLV", 205, "old", nullptr},
                    ParseCase{"GXLV-2.123", true, "GXLV", 323, "old", nullptr},
                    ParseCase{"GXLV-1.02\t x \r", true, "GXLV", 102, "x", nullptr},
                    ParseCase{"Unknown", true, "unk", 1, "old", "Empty"},
                    ParseCase{"unknown", false, "", 999, "old", nullptr},
                    ParseCase{"-1.44", false, "", 999, "old", nullptr},
                    ParseCase{"1.44", false, "", 999, "old", nullptr},
                    ParseCase{"", false, "", 999, "old", nullptr},
                    ParseCase{"GXST-", false, "GXST", 999, "old", nullptr},
                    ParseCase{"GXST-1", false, "GXST", 999, "old", nullptr},
                    ParseCase{"GXST-1 .44", false, "GXST", 999, "old", nullptr},
                    ParseCase{"GXST- 1. 44", true, "GXST", 144, "1. 44", nullptr},
                    ParseCase{"A-B-1.2", false, "A", 999, "old", nullptr},
                    // Kept to 16 bits: 700 * 100 + 0 = 70000 -> 4464.
                    ParseCase{"GX-700.0", true, "GX", 4464, "old", nullptr}));

TEST(VersionFormatting, ResetAndMinorDigits)
{
    TFirmwareVersion v;
    EXPECT_EQ(FormatVersion(v), QStringLiteral("?????"));
    ASSERT_TRUE(ParseVersion(v, "GXLV-2.05"));
    v.Suffix.clear();
    EXPECT_EQ(FormatVersion(v), QStringLiteral("GXLV-2.05"));
    ResetVersion(v);
    EXPECT_TRUE(v.Name.empty() && v.Suffix.empty() && v.Number == 0 && v.Date == 0);
}

TEST(VersionFormatting, EightBitNamesAreWindows1251)
{
    TFirmwareVersion v;
    ASSERT_TRUE(ParseVersion(v, "\xCF\xD0-1.00"));  // "ПР" in Windows-1251
    EXPECT_EQ(FormatVersion(v), QString::fromUtf16(u"ПР-1.00"));
}

TEST(VersionFormatting, ParseStopsAtTheFirstZeroByte)
{
    TFirmwareVersion v;
    EXPECT_TRUE(ParseVersion(v, std::string_view("Unknown\0junk", 12)));
    EXPECT_EQ(v.Name, "unk");
}

TEST(VersionDate, UnknownBelowOneDayOtherwiseThePattern)
{
    const int saved = CurrentLanguage;
    CurrentLanguage = 1;
    TFirmwareVersion v;
    EXPECT_EQ(FormatVersionDate(v), QStringLiteral("unknown"));
    v.Date = 0.5;
    EXPECT_EQ(FormatVersionDate(v), QStringLiteral("unknown"));
    CurrentLanguage = 0;
    EXPECT_EQ(FormatVersionDate(v), QString::fromUtf16(u"неизвестна"));
    ASSERT_TRUE(TryEncodeDateTime(2015, 7, 27, 11, 24, 18, 0, v.Date));
    EXPECT_DOUBLE_EQ(std::trunc(v.Date), 42212.0);
    EXPECT_EQ(FormatVersionDate(v), QStringLiteral("27-07-2015 11:24:18"));
    v.Date = 1.0;
    EXPECT_EQ(FormatVersionDate(v), QStringLiteral("31-12-1899 00:00:00"));
    CurrentLanguage = saved;
}

TEST(VersionDate, EncodingRefusesInvalidDates)
{
    double d = 0;
    EXPECT_FALSE(TryEncodeDateTime(2015, 2, 31, 0, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(10000, 1, 1, 0, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(2015, 13, 1, 0, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(2015, 1, 1, 24, 0, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(2015, 1, 1, 0, 60, 0, 0, d));
    EXPECT_FALSE(TryEncodeDateTime(2015, 1, 1, 0, 0, 60, 0, d));
    EXPECT_TRUE(TryEncodeDateTime(2016, 2, 29, 23, 59, 59, 0, d));
    EXPECT_EQ(FormatDateValue(d), QStringLiteral("29-02-2016 23:59:59"));
}

struct SerialCase {
    const char* text;
    int32_t serial;
};
class Serials : public testing::TestWithParam<SerialCase> {};

TEST_P(Serials, ReadAsSignedDecimalOrMinusOne)
{
    const TDevEntry entry(GetParam().text, 0xFFFF, FtdiDriver);
    EXPECT_EQ(entry.SerialNumber, GetParam().serial) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Serials,
    testing::Values(SerialCase{"12345", 12345}, SerialCase{"007", 7}, SerialCase{"ABC", -1},
                    SerialCase{"", -1}, SerialCase{"12a", -1}, SerialCase{"-", -1},
                    SerialCase{"-42", -42}, SerialCase{"2147483647", 2147483647},
                    SerialCase{"2147483648", -1}, SerialCase{"-2147483648", INT32_MIN},
                    SerialCase{"99999999999999999999", -1}));

TEST(DevEntry, StartsClosedAndEmpty)
{
    const TDevEntry entry("42", 7, VendorDriver);
    EXPECT_EQ(entry.DeviceCode, 7);
    EXPECT_EQ(entry.DriverKind, VendorDriver);
    EXPECT_EQ(entry.ProcessorId, 0u);
    EXPECT_FALSE(entry.InBootloader || entry.BootloaderStarted || entry.Detached);
    EXPECT_EQ(entry.Panel, nullptr);
    EXPECT_EQ(entry.Writer, nullptr);
    EXPECT_EQ(entry.FtdiHandle, nullptr);
    EXPECT_EQ(entry.VendorHandle, nullptr);
    EXPECT_EQ(FormatVersion(entry.FirmwareVersion), QStringLiteral("?????"));
}

TEST(Text8, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const QString wide = DecodeText8(all);
    ASSERT_EQ(wide.size(), 256);
    EXPECT_EQ(EncodeText8(wide), all);
    EXPECT_EQ(DecodeText8("\xC0\xFF\xA8"), QString::fromUtf16(u"АяЁ"));
}
}  // namespace
