// Replays the fuzz seed corpus and every input the fuzzer ever crashed on (fuzz/regressions/)
// through the parser, under the same checks as the fuzz target.

#include "firmware/FirmwareImage.h"
#include "tests/ImageFixtures.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {
QStringList FilesIn(const char* folder)
{
    const QDir dir(QStringLiteral(GX_SOURCE_DIR "/") + QString::fromLatin1(folder));
    QStringList paths;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) paths << dir.filePath(name);
    return paths;
}

void Replay(const QString& path)
{
    SCOPED_TRACE(path.toStdString());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const std::vector<uint8_t> image(bytes.begin(), bytes.end());
    const auto copy = ExactCopy(image);
    TFirmwareVersion version;
    TFirmwareBlockList blocks;
    int errors = 0;
    bool accepted = false;
    try {
        accepted =
            ParseFirmwareImage([&](int kind, const QString&) { errors += kind == 1; }, copy.get(),
                               static_cast<uint32_t>(image.size()), version, blocks);
    } catch (const FirmwareBlockSizeError&) {
        EXPECT_TRUE(blocks.empty());
        return;
    }
    if (accepted) {
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0]->FlashAddress, -1);
        EXPECT_LE(blocks[0]->DataSize + 8u, image.size());
        EXPECT_LE(errors, 1);  // at most the date message
    } else {
        EXPECT_TRUE(blocks.empty());
    }
}

TEST(FuzzInputs, RegressionCasesParseSafely)
{
    const QStringList files = FilesIn("fuzz/regressions");
    ASSERT_FALSE(files.isEmpty());
    for (const QString& path : files) Replay(path);
}

TEST(FuzzInputs, SeedCorpusParsesSafely)
{
    const QStringList files = FilesIn("fuzz/corpus");
    ASSERT_FALSE(files.isEmpty());
    for (const QString& path : files) Replay(path);
}
}  // namespace
