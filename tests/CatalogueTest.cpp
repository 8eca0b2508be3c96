#include "app/Language.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

struct CatalogueCase {
    int language;
    int n;
    const char16_t* text;
};

class CatalogueLookup : public testing::TestWithParam<CatalogueCase> {};

TEST_P(CatalogueLookup, GivesTheTextOrItsFallback)
{
    const CatalogueCase& c = GetParam();
    EXPECT_EQ(MessageText(c.language, c.n), QString::fromUtf16(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CatalogueLookup,
    testing::Values(CatalogueCase{1, 73, u"Write log file"},
                    CatalogueCase{0, 73, u"Записывать лог в файл"},
                    CatalogueCase{1, 0, u"FTDI device driver is not installed"},
                    CatalogueCase{0, 0, u"Драйвер устройств FTDI не установлен."},
                    CatalogueCase{1, 3, u"Device %7d\t"}, CatalogueCase{0, 4, u"Прибор -------\t"},
                    CatalogueCase{1, 27, u"Firmware is loaded from a file \""},
                    CatalogueCase{1, 62, u"(% 6d)\tPart %d of %d"},
                    CatalogueCase{0, 65,
                                  u"(% 6d) Ошибка при записи сектора %d (%d, %d, %d, %d, %d)"},
                    CatalogueCase{1, 52, u"Disable to open device"},
                    // Fallbacks
                    CatalogueCase{2, 0, u"Language is not defined"},
                    CatalogueCase{2, 500, u"Language is not defined"},
                    CatalogueCase{-1, 0, u"Language is not defined"},
                    CatalogueCase{0, 74, u"Сообщение не определено"},
                    CatalogueCase{1, 200, u"Message is not defined"},
                    CatalogueCase{1, -1, u"Message is not defined"}));

TEST(Catalogue, Message59EndsInCyrillicLettersInBothLanguages)
{
    for (int language : {0, 1}) {
        const QString text = MessageText(language, 59);
        ASSERT_GE(text.size(), 2);
        EXPECT_EQ(text.at(text.size() - 2).unicode(), 0x041E);
        EXPECT_EQ(text.at(text.size() - 1).unicode(), 0x041A);
    }
}

TEST(Catalogue, EveryMessageHasTextInBothLanguages)
{
    for (int n = 0; n < kMessageCount; ++n)
        for (int language : {0, 1}) {
            const QString text = MessageText(language, n);
            EXPECT_FALSE(text.isEmpty()) << n;
            EXPECT_NE(text, MessageText(language, kMessageCount)) << n;
        }
    // Russian and English rows are not swapped or shifted.
    EXPECT_TRUE(MessageText(1, 44) == QStringLiteral("Device"));
    EXPECT_TRUE(MessageText(0, 44) == QString::fromUtf16(u"Прибор"));
}

TEST(Catalogue, WindowTitleFollowsTheLanguage)
{
    EXPECT_EQ(WindowTitle(0), QString::fromUtf16(u"Обновление прошивки Геотровикс"));
    EXPECT_EQ(WindowTitle(1), QStringLiteral("Geotrovix Firmware Loader"));
}
