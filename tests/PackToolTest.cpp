#include "app/Language.h"
#include "devices/DateValue.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImagePacking.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun RunTool(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral(GX_FWPACK_PATH), arguments);
    ToolRun run;
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit) return run;
    run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

std::vector<uint8_t> ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

void WriteBytes(const QString& path, const std::vector<uint8_t>& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

class PackTool : public testing::Test {
protected:
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Parses a packed file the way the loader does.
    bool Load(const QString& path, TFirmwareVersion& version, TFirmwareBlockList& blocks)
    {
        const std::vector<uint8_t> image = ReadBytes(path);
        return ParseFirmwareImage(nullptr, image.data(), static_cast<uint32_t>(image.size()),
                                  version, blocks);
    }

    QTemporaryDir dir;
};

TEST_F(PackTool, PacksAPayloadThatTheLoaderReadsBack)
{
    ASSERT_EQ(RunTool({"placeholder", "--size", "5000", "--output", Path("payload.bin")}).exitCode,
              0);
    const std::vector<uint8_t> payload = ReadBytes(Path("payload.bin"));
    EXPECT_EQ(payload, PlaceholderPayload(5000));

    const ToolRun pack =
        RunTool({"pack", "--payload", Path("payload.bin"), "--version", "GXLV-9.10b", "--date",
                 "01.02.2020 03:04:05", "--output", Path("out.eraw")});
    ASSERT_EQ(pack.exitCode, 0) << pack.err.toStdString();
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    ASSERT_TRUE(Load(Path("out.eraw"), version, blocks));
    EXPECT_EQ(FormatVersion(version), "GXLV-9.10b");
    double date = 0;
    ASSERT_TRUE(TryEncodeDateTime(2020, 2, 1, 3, 4, 5, 0, date));
    EXPECT_EQ(version.Date, date);
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0]->DataSize, payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), blocks[0]->Data.get()));

    const ToolRun show = RunTool({"show", Path("out.eraw")});
    EXPECT_EQ(show.exitCode, 0);
    EXPECT_TRUE(show.out.contains("\"GXLV-9.10b\"")) << show.out.toStdString();
    EXPECT_TRUE(show.out.contains("verdict:   accepted")) << show.out.toStdString();
}

TEST_F(PackTool, PacksWithoutADate)
{
    WriteBytes(Path("payload.bin"), {1, 2, 3});
    ASSERT_EQ(RunTool({"pack", "--payload", Path("payload.bin"), "--version", "GXST-1.44",
                       "--output", Path("out.raw")})
                  .exitCode,
              0);
    const std::vector<uint8_t> image = ReadBytes(Path("out.raw"));
    ASSERT_EQ(image.size(), 8u + 9 + 3);
    EXPECT_EQ(image[3] & 0x80, 0);
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    ASSERT_TRUE(Load(Path("out.raw"), version, blocks));
    EXPECT_EQ(version.Date, 0);
    EXPECT_TRUE(RunTool({"show", Path("out.raw")}).out.contains("date:      none"));
}

TEST_F(PackTool, RefusesWhatTheLoaderWouldRefuseAndWritesNothing)
{
    WriteBytes(Path("payload.bin"), {1, 2, 3});
    const QStringList refused[] = {
        {"--version", "GXST144"},
        {"--version", "GXST-1.44", "--date", "31.02.2015 10:00:00"},
        {"--version", "GXST-1.44", "--date", "27-07-2015 11:24:18"},
    };
    for (const QStringList& options : refused) {
        const ToolRun run = RunTool(
            QStringList{"pack", "--payload", Path("payload.bin"), "--output", Path("out.eraw")} +
            options);
        EXPECT_EQ(run.exitCode, 1) << options.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(Path("out.eraw")));
    }
    EXPECT_EQ(RunTool({"pack", "--payload", Path("missing.bin"), "--version", "GXST-1.44",
                       "--output", Path("out.eraw")})
                  .exitCode,
              2);
    EXPECT_EQ(RunTool({"pack", "--version", "GXST-1.44"}).exitCode, 2);
    EXPECT_EQ(RunTool({"placeholder", "--size", "-1", "--output", Path("p")}).exitCode, 2);
    EXPECT_EQ(RunTool({"frobnicate"}).exitCode, 2);
}

TEST_F(PackTool, ShowReportsADamagedImage)
{
    std::vector<uint8_t> image = PackFirmwareImage({1, 2, 3}, "GXST-1.44", "27.07.2015 11:24:18");
    image[9] ^= 1;
    WriteBytes(Path("bad.eraw"), image);
    ToolRun run = RunTool({"show", Path("bad.eraw")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains("verdict:   refused")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(MessageText(kLanguageEnglish, 33))) << run.err.toStdString();

    WriteBytes(Path("short.eraw"), {0x20, 0, 0, 0, 0, 0, 0x40, 0});
    run = RunTool({"show", Path("short.eraw")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains("incomplete")) << run.out.toStdString();
}

TEST_F(PackTool, ShowAcceptsTheEmbeddedImage)
{
    const ToolRun run = RunTool({"show", QStringLiteral(GX_EMBEDDED_IMAGE_PATH)});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("accepted as GXST-1.44, 27-07-2015 11:24:18"))
        << run.out.toStdString();
}
}  // namespace
