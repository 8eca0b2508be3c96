#include "app/Language.h"
#include "app/LogFile.h"
#include "app/LogFormat.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>

namespace {
struct FormatCase {
    const char* format;
    std::vector<LogArg> args;
    const char16_t* expected;
};

QString Format(const FormatCase& c)
{
    // initializer_list cannot be built at run time; the cases have at most three arguments.
    const auto& a = c.args;
    switch (a.size()) {
        case 0:
            return FormatLogText(QString::fromUtf8(c.format));
        case 1:
            return FormatLogText(QString::fromUtf8(c.format), {a[0]});
        case 2:
            return FormatLogText(QString::fromUtf8(c.format), {a[0], a[1]});
        default:
            return FormatLogText(QString::fromUtf8(c.format), {a[0], a[1], a[2]});
    }
}

TEST(FormatLogText, CatalogueConversions)
{
    const FormatCase cases[] = {
        // The device prefix: right-aligned in seven columns.
        {"%7d|", {12345}, u"  12345|"},
        {"%7d|", {-1}, u"     -1|"},
        {"%7d|", {123456789}, u"123456789|"},
        // Elapsed times: a blank in front of a non-negative number, at least six columns.
        {"(% 6d)", {1234}, u"(  1234)"},
        {"(% 6d)", {123456}, u"( 123456)"},
        {"(% 6d)", {0}, u"(     0)"},
        {"(% 6d)", {1234567}, u"( 1234567)"},
        {"(% 6d)", {-5}, u"(    -5)"},
        // Identifiers: eight upper-case digits, zero-filled; negative numbers as their bits.
        {"%08X", {0xAB}, u"000000AB"},
        {"0x%08X", {0x1234ABCDu}, u"0x1234ABCD"},
        {"%08X", {-1}, u"FFFFFFFF"},
        {"%X", {0xFEDCBA98u}, u"FEDCBA98"},
        {"%x", {255}, u"ff"},
        // %d reads 32 bits as signed, %u as unsigned.
        {"%d", {INT_MIN}, u"-2147483648"},
        {"%d", {4000000000u}, u"-294967296"},
        {"%u", {-1}, u"4294967295"},
        {"%d %d", {uint16_t(65535), int64_t(-2)}, u"65535 -2"},
        // Wide texts.
        {"Версия прошивки %s", {QString::fromUtf16(u"ОК-1.02")}, u"Версия прошивки ОК-1.02"},
        {"[%5s][%-5s][%.2s]", {"ab", "cd", "efgh"}, u"[   ab][cd   ][ef]"},
        // Flags and precision as printf has them.
        {"%+d %-4d| %05d %.3d", {5, 42, -42}, u"+5 42  | -0042 000"},
        {"%%d 100%", {}, u"%d 100%"},
        // Arguments that do not match: no crash, a readable result.
        {"%d and %s", {}, u"0 and "},
        {"%d", {"text"}, u"text"},
        {"%s", {77}, u"77"},
        {"%q %d", {3}, u"%q 3"},
        {"tab\t%d", {1, 2, 3}, u"tab\t1"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(Format(c), QString::fromUtf16(c.expected)) << c.format;
}

TEST(FormatLogText, CatalogueTextWithSixNumbers)
{
    EXPECT_EQ(FormatLogText(MessageText(kLanguageEnglish, 65), {1500, 3, 14, 14, 128, 3, 0x6000}),
              QStringLiteral("(  1500) Sector recording error 3 (14, 14, 128, 3, 24576)"));
    EXPECT_EQ(FormatLogText(MessageText(kLanguageEnglish, 62), {20, 0, 8}),
              QStringLiteral("(    20)\tPart 0 of 8"));
}

TEST(FormatLogText, BufferCutsTheTextToItsCapacity)
{
    const QString long_ = QString(6000, QLatin1Char('x'));
    const QString format = QStringLiteral("%s");
    EXPECT_EQ(FormatLogTextInto(format.size() + kLogBufferExtra, format, {long_}).size(),
              format.size() + kLogBufferExtra - 1);
    EXPECT_EQ(FormatLogTextInto(10, format, {QStringLiteral("short")}), QStringLiteral("short"));
    // A character outside the basic plane is never cut in half.
    EXPECT_EQ(FormatLogTextInto(3, QString::fromUtf16(u"a\U0001F600"), {}), QStringLiteral("a"));
}

class LogLinePrefixTest : public testing::Test {
protected:
    void TearDown() override { CurrentLanguage = saved_; }
    int saved_ = CurrentLanguage;
};

TEST_F(LogLinePrefixTest, DeviceNumberInSevenColumnsOrDashesForNone)
{
    CurrentLanguage = kLanguageEnglish;
    EXPECT_EQ(LogLinePrefix(12345), QStringLiteral("Device   12345\t"));
    EXPECT_EQ(LogLinePrefix(-1), QStringLiteral("Device      -1\t"));
    EXPECT_EQ(LogLinePrefix(0), QStringLiteral("Device -------\t"));
    CurrentLanguage = kLanguageRussian;
    EXPECT_EQ(LogLinePrefix(7), QString::fromUtf16(u"Прибор       7\t"));
    EXPECT_EQ(LogLinePrefix(0), QString::fromUtf16(u"Прибор -------\t"));
}

TEST(LogKindRgb, RedGreenAndBlackForEveryOtherKind)
{
    EXPECT_EQ(LogKindRgb(Error), 0xFF0000u);
    EXPECT_EQ(LogKindRgb(Success), 0x008000u);
    for (int kind : {int(Normal), 3, -1, 255}) EXPECT_EQ(LogKindRgb(kind), 0u) << kind;
}

QDateTime At(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

QByteArray Utf16Le(const QString& s)
{
    QByteArray out;
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(LogFile, StampAndNameUseTheLocalDateAndTheTwentyFourHourClock)
{
    EXPECT_EQ(LogStamp(At(2015, 7, 27, 11, 24, 18, 5)), QStringLiteral("27.07.2015 11:24:18.005"));
    EXPECT_EQ(LogStamp(At(2024, 12, 1, 23, 5, 9, 999)), QStringLiteral("01.12.2024 23:05:09.999"));
    EXPECT_EQ(DailyLogPath(QStringLiteral("/x/"), At(2015, 7, 27, 0, 0, 0, 0)),
              QStringLiteral("/x/Logs/20150727.log"));
}

TEST(LogFile, FirstLineCreatesFolderAndMarkSecondIsAppended)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    const QDateTime when = At(2015, 7, 27, 11, 24, 18, 5);
    const QString line1 = QString::fromUtf16(u"Device -------\tПервая");
    const QString line2 = QStringLiteral("Device   12345\tsecond");
    ASSERT_TRUE(AppendDailyLogLine(base, when, line1));
    ASSERT_TRUE(AppendDailyLogLine(base, when.addMSecs(1), line2));

    const QByteArray expected =
        QByteArray("\xFF\xFE", 2) +
        Utf16Le(QStringLiteral("[27.07.2015 11:24:18.005]\t") + line1 + QStringLiteral("\r\n")) +
        Utf16Le(QStringLiteral("[27.07.2015 11:24:18.006]\t") + line2 + QStringLiteral("\r\n"));
    EXPECT_EQ(ReadAll(base + QStringLiteral("Logs/20150727.log")), expected);
}

TEST(LogFile, AnUnwritablePlaceFailsWithTheSystemsReason)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    // A file where the folder should be: refused even to root.
    QFile blocker(base + QStringLiteral("Logs"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString reason;
    EXPECT_FALSE(
        AppendDailyLogLine(base, At(2020, 1, 1, 0, 0, 0, 0), QStringLiteral("x"), &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(QFile(base + QStringLiteral("Logs")).size(), 0);
}

// A disk that fills up in the middle of a line: the line is taken back whole, and the next one,
// with room again, starts on a line of its own. What an earlier crash left unfinished (a line
// without its end, half a character) is ended first.
struct CutShortCase {
    const char* name;
    QByteArray before;  // the day's file before the append
    QByteArray kept;    // what of it stays once the next line is written
    QByteArray joint;   // what ends its last line before the new one
};
class LogLineCutShort : public testing::TestWithParam<CutShortCase> {};

TEST_P(LogLineCutShort, IsTakenBackWholeAndTheNextLineStandsApart)
{
    const CutShortCase& c = GetParam();
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    const QDateTime when = At(2015, 7, 27, 11, 24, 18, 5);
    const QString path = DailyLogPath(base, when);
    ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("Logs")));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.before);
    }
    const QString line = QStringLiteral("Device -------\tthe line that does not fit");
    {
        const FileSizeLimit limit(static_cast<rlim_t>(c.before.size() + 24));
        ASSERT_TRUE(limit.Set());
        QString reason;
        EXPECT_FALSE(AppendDailyLogLine(base, when, line, &reason));
        EXPECT_FALSE(reason.isEmpty());
    }
    // Nothing of the line stays (a half character dropped is dropped for good).
    EXPECT_TRUE(c.before.startsWith(ReadAll(path)));
    EXPECT_GE(ReadAll(path).size(), c.kept.size());
    ASSERT_TRUE(AppendDailyLogLine(base, when, line));
    EXPECT_EQ(ReadAll(path), c.kept + c.joint +
                                 Utf16Le(QStringLiteral("[27.07.2015 11:24:18.005]\t") + line +
                                         QStringLiteral("\r\n")));
}

const QByteArray kMark("\xFF\xFE", 2);
const QByteArray kWholeLine =
    Utf16Le(QStringLiteral("[27.07.2015 11:00:00.000]\tDevice -------\tan "
                           "earlier line\r\n"));
const QByteArray kCutLine =
    Utf16Le(QStringLiteral("[27.07.2015 11:00:00.000]\tDevice -------\tcut"));

INSTANTIATE_TEST_SUITE_P(
    Files, LogLineCutShort,
    testing::Values(CutShortCase{"AfterWholeLines", kMark + kWholeLine, kMark + kWholeLine, ""},
                    CutShortCase{"AfterALineWithoutItsEnd", kMark + kCutLine, kMark + kCutLine,
                                 Utf16Le(QStringLiteral("\r\n"))},
                    CutShortCase{"AfterHalfACharacter", kMark + kCutLine + QByteArray("c", 1),
                                 kMark + kCutLine, Utf16Le(QStringLiteral("\r\n"))}),
    [](const testing::TestParamInfo<CutShortCase>& info) { return std::string(info.param.name); });
}  // namespace
