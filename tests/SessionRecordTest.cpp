// The session record: one JSON line per ended session in Logs/YYYYMMDD.sessions.jsonl.

#include "app/SessionRecord.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
SessionRecord Sample(int32_t serial)
{
    SessionRecord r;
    r.When = QDateTime(QDate(2026, 12, 10), QTime(14, 5, 6, 7));
    r.Serial = serial;
    r.Driver = QStringLiteral("ftdi");
    r.ProcessorId = 0x26013F37;
    r.FirmwareBefore = QStringLiteral("GXST-1.40");
    r.BootloaderBefore = QStringLiteral("GXBL-1.05");
    r.ImageVersion = QStringLiteral("GXST-1.44");
    r.ImageSource = QStringLiteral("/media/stick/\"new\" image.eraw");
    r.ResultCode = 6;
    r.LastStatus = 138;
    r.SectorsWritten = 3;
    r.PartsWritten = 20;
    r.PartsTotal = 304;
    r.DurationMs = 1234;
    return r;
}

QList<QByteArray> Lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().split('\n');
}

TEST(SessionRecord, IsOneLineOfJsonWithEveryField)
{
    const QByteArray line = SessionRecordLine(Sample(1234567));
    ASSERT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_TRUE(o.value("time").toString().startsWith("2026-12-10T14:05:06.007"));
    EXPECT_EQ(o.value("serial").toInt(), 1234567);
    EXPECT_EQ(o.value("driver").toString(), "ftdi");
    EXPECT_EQ(o.value("processor").toString(), "0x26013F37");
    EXPECT_EQ(o.value("firmware_before").toString(), "GXST-1.40");
    EXPECT_EQ(o.value("bootloader_before").toString(), "GXBL-1.05");
    EXPECT_EQ(o.value("image_version").toString(), "GXST-1.44");
    EXPECT_EQ(o.value("image_source").toString(), "/media/stick/\"new\" image.eraw");
    EXPECT_EQ(o.value("result").toInt(), 6);
    EXPECT_EQ(o.value("last_status").toInt(), 138);
    EXPECT_EQ(o.value("sectors_written").toInt(), 3);
    EXPECT_EQ(o.value("parts_written").toInt(), 20);
    EXPECT_EQ(o.value("parts_total").toInt(), 304);
    EXPECT_EQ(o.value("duration_ms").toInt(), 1234);
}

TEST(SessionRecord, LinesAreAppendedToTheFileOfTheirDay)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    SessionRecord first = Sample(1);
    SessionRecord second = Sample(2);
    SessionRecord nextDay = Sample(3);
    nextDay.When = first.When.addDays(1);
    ASSERT_TRUE(AppendSessionRecord(base, first));
    ASSERT_TRUE(AppendSessionRecord(base, second));
    ASSERT_TRUE(AppendSessionRecord(base, nextDay));
    const QString today = DailySessionRecordPath(base, first.When);
    EXPECT_EQ(today, base + "Logs/20261210.sessions.jsonl");
    EXPECT_EQ(Lines(today), QList<QByteArray>({SessionRecordLine(first).chopped(1),
                                               SessionRecordLine(second).chopped(1), ""}));
    EXPECT_EQ(Lines(DailySessionRecordPath(base, nextDay.When)).size(), 2);
}

TEST(SessionRecord, ALineAnEarlierCrashLeftUnfinishedStaysApart)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    const SessionRecord r = Sample(5);
    ASSERT_TRUE(QDir().mkpath(base + "Logs"));
    {
        QFile torn(DailySessionRecordPath(base, r.When));
        ASSERT_TRUE(torn.open(QIODevice::WriteOnly));
        torn.write(SessionRecordLine(Sample(4)));
        torn.write("{\"time\":\"2026-12-");  // cut off in the middle
    }
    ASSERT_TRUE(AppendSessionRecord(base, r));
    const QList<QByteArray> lines = Lines(DailySessionRecordPath(base, r.When));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], SessionRecordLine(Sample(4)).chopped(1));
    EXPECT_EQ(lines[1], "{\"time\":\"2026-12-");
    EXPECT_EQ(lines[2], SessionRecordLine(r).chopped(1));
}

// The whole file, as a std::string so that a failure prints it readably.
std::string ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

struct TakeBackCase {
    const char* name;
    QByteArray before;  // the day's file before the append
    QByteArray joint;   // what ends its last line before the new one
};
class WriteCutShort : public testing::TestWithParam<TakeBackCase> {};

TEST_P(WriteCutShort, IsTakenBackWholeAndTheNextAppendStillFits)
{
    QTemporaryDir dir;
    const QString base = dir.path() + QLatin1Char('/');
    const SessionRecord r = Sample(8);
    const QString path = DailySessionRecordPath(base, r.When);
    ASSERT_TRUE(QDir().mkpath(base + "Logs"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(GetParam().before);
    }
    {
        // Room for the joint and a few bytes of the record, not for all of it.
        const FileSizeLimit limit(static_cast<rlim_t>(GetParam().before.size() + 20));
        ASSERT_TRUE(limit.Set());
        EXPECT_FALSE(AppendSessionRecord(base, r));
    }
    // Not a byte of it stays, the joint included.
    EXPECT_EQ(ReadAll(path), GetParam().before.toStdString());
    ASSERT_TRUE(AppendSessionRecord(base, r));
    EXPECT_EQ(ReadAll(path),
              (GetParam().before + GetParam().joint + SessionRecordLine(r)).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Files, WriteCutShort,
    testing::Values(TakeBackCase{"AfterWholeLines", SessionRecordLine(Sample(7)), ""},
                    // An earlier crash cut the last line off: the new record would end it first.
                    TakeBackCase{"AfterAnUnfinishedLine",
                                 SessionRecordLine(Sample(7)) + "{\"time\":\"2026-12-", "\n"}),
    [](const testing::TestParamInfo<TakeBackCase>& info) { return std::string(info.param.name); });

TEST(SessionRecord, AFolderThatCannotBeMadeIsAFailureAndLeavesNothing)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("Logs"));  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(AppendSessionRecord(dir.path() + QLatin1Char('/'), Sample(6)));
    EXPECT_EQ(QFile(dir.filePath("Logs")).size(), 0);
}
}  // namespace
