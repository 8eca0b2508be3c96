#include "app/CommandLine.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct SwitchCase {
    const char* arg;
    bool external;
    bool skip;
};

class Switches : public testing::TestWithParam<SwitchCase> {};

TEST_P(Switches, AreMatchedAfterLowerCasingAndOneLeadingMark)
{
    const SwitchCase& c = GetParam();
    for (PathRule rule : {PathRule::AsWritten, PathRule::CaseInsensitive}) {
        const CommandLineOptions o = ParseCommandLine({QString::fromUtf8(c.arg)}, rule);
        EXPECT_EQ(o.ExternalFirmwareAllowed, c.external) << c.arg;
        EXPECT_EQ(o.SkipCompatibilityCheck, c.skip) << c.arg;
        EXPECT_TRUE(o.FirmwareFile.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, Switches,
    testing::Values(
        SwitchCase{"externfirmware", true, false}, SwitchCase{"/ExternFirmware", true, false},
        SwitchCase{"-EXTERNFIRMWARE", true, false}, SwitchCase{"--externfirmware", false, false},
        SwitchCase{"//externfirmware", false, false}, SwitchCase{"externfirmware2", false, false},
        SwitchCase{"dontcheckcpbl", false, true}, SwitchCase{"/DontCheckCPBL", false, true},
        SwitchCase{"-DONTCHECKCPBL", false, true}, SwitchCase{"--dontcheckcpbl", false, false},
        SwitchCase{"", false, false}, SwitchCase{"whatever", false, false}));

class CommandLinePaths : public testing::Test {
protected:
    QTemporaryDir dir;
    QString Make(const QString& name)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }
};

TEST_F(CommandLinePaths, ExistingErawInAnyLetterCaseIsTakenAsWritten)
{
    const QString upper = Make(QStringLiteral("Image.ERAW"));
    const CommandLineOptions o = ParseCommandLine({upper}, PathRule::AsWritten);
    EXPECT_TRUE(o.ExternalFirmwareAllowed);
    EXPECT_FALSE(o.SkipCompatibilityCheck);
    EXPECT_EQ(o.FirmwareFile, upper);  // absolute, mixed case, leading '/' kept
}

TEST_F(CommandLinePaths, RawMissingAndDirectoriesChangeNothing)
{
    const QString raw = Make(QStringLiteral("image.raw"));
    QDir(dir.path()).mkdir(QStringLiteral("folder.eraw"));
    const QStringList args = {raw, dir.filePath(QStringLiteral("missing.eraw")),
                              dir.filePath(QStringLiteral("folder.eraw"))};
    const CommandLineOptions o = ParseCommandLine(args, PathRule::AsWritten);
    EXPECT_FALSE(o.ExternalFirmwareAllowed);
    EXPECT_TRUE(o.FirmwareFile.isEmpty());
}

TEST_F(CommandLinePaths, LastExistingErawWinsAndFlagsCombine)
{
    const QString first = Make(QStringLiteral("a.eraw"));
    const QString second = Make(QStringLiteral("b.eraw"));
    const CommandLineOptions o =
        ParseCommandLine({first, QStringLiteral("-dontcheckcpbl"), second}, PathRule::AsWritten);
    EXPECT_TRUE(o.ExternalFirmwareAllowed);
    EXPECT_TRUE(o.SkipCompatibilityCheck);
    EXPECT_EQ(o.FirmwareFile, second);
}

TEST_F(CommandLinePaths, CaseInsensitiveRuleTestsTheLoweredName)
{
    // A relative, lower-case name survives the Windows rule unchanged.
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Make(QStringLiteral("fw.eraw"));
    const CommandLineOptions o =
        ParseCommandLine({QStringLiteral("FW.ERAW")}, PathRule::CaseInsensitive);
    QDir::setCurrent(saved);
    EXPECT_TRUE(o.ExternalFirmwareAllowed);
    EXPECT_EQ(o.FirmwareFile, QStringLiteral("fw.eraw"));
}

TEST(CommandLine, NoArgumentsLeaveBothFlagsFalse)
{
    const CommandLineOptions o = ParseCommandLine({}, PathRule::AsWritten);
    EXPECT_FALSE(o.ExternalFirmwareAllowed);
    EXPECT_FALSE(o.SkipCompatibilityCheck);
}
}  // namespace
