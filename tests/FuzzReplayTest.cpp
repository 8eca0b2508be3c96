// Replays every fuzz target's seed inputs (fuzz/corpus/<target>/) and every input it ever failed
// on (fuzz/regressions/<target>/) through the target's own code (fuzz/FuzzTargets.h), here in the
// normal build: a fault the fuzzer found stays fixed without clang. A broken check ends the
// process with its message, after the line naming the input.

#include "fuzz/FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {
const QString kFuzzFolder = QStringLiteral(GX_SOURCE_DIR "/fuzz/");

QStringList FilesIn(const QString& folder)
{
    const QDir dir(kFuzzFolder + folder);
    QStringList paths;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) paths << dir.filePath(name);
    return paths;
}

void Replay(const FuzzTarget& target, const QString& path)
{
    SCOPED_TRACE(path.toStdString());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // A heap copy of exactly the input's size, as libFuzzer passes it: a sanitizer build sees
    // any read past its end.
    const auto size = static_cast<size_t>(bytes.size());
    const auto copy = std::make_unique<uint8_t[]>(size);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    std::fprintf(stderr, "replaying %s\n", qPrintable(QDir(kFuzzFolder).relativeFilePath(path)));
    target.Run(copy.get(), size);
}

std::vector<std::string> TargetNames()
{
    std::vector<std::string> names;
    for (const FuzzTarget& target : FuzzTargets()) names.emplace_back(target.Name);
    return names;
}

class FuzzInputs : public testing::TestWithParam<std::string> {};

TEST_P(FuzzInputs, SeedsAndRegressionsRunClean)
{
    const FuzzTarget* target = FindFuzzTarget(GetParam());
    ASSERT_NE(target, nullptr);
    const QString name = QString::fromStdString(GetParam());
    const QStringList seeds = FilesIn(QStringLiteral("corpus/") + name);
    EXPECT_FALSE(seeds.isEmpty()) << "a target needs seed inputs";
    for (const QString& path : seeds) Replay(*target, path);
    for (const QString& path : FilesIn(QStringLiteral("regressions/") + name))
        Replay(*target, path);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, testing::ValuesIn(TargetNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

// A folder of inputs under a name no target has would never be replayed.
TEST(FuzzFolders, EachBelongsToATarget)
{
    for (const char* kind : {"corpus", "regressions"}) {
        const QDir dir(kFuzzFolder + QString::fromLatin1(kind));
        for (const QString& folder : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            EXPECT_NE(FindFuzzTarget(folder.toStdString()), nullptr)
                << kind << "/" << folder.toStdString();
        EXPECT_TRUE(FilesIn(QString::fromLatin1(kind)).isEmpty())
            << "inputs belong in a target's folder under fuzz/" << kind;
    }
}
}  // namespace
