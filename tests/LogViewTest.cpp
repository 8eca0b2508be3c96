#include "app/Language.h"
#include "app/LogFile.h"
#include "app/MainForm.h"
#include "devices/ReadVersion.h"
#include "platform/WindowThreadCall.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {
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

// A session's line: formatted into the worker's slot, the device number read from the record on
// the window thread at hand-over time.
void SessionLine(TWorkerThread& worker, TWorkerHost& host, const TDevEntry* device, int kind,
                 const QString& format, std::initializer_list<LogArg> args = {})
{
    worker.Log.Text = FormatLogTextInto(format.size() + kLogBufferExtra, format, args);
    worker.Log.Kind = kind;
    worker.Log.Device = 0;
    HandOverLogLine(worker, host, device);
}

// A window with English texts and its log folder in a temporary directory; scan stands for a
// worker of the window that hands lines over (never started: the tests call it from threads of
// their own).
class LogTest : public testing::Test {
protected:
    void SetUp() override
    {
        CurrentLanguage = kLanguageEnglish;
        form.ExeDirectory = dir.path() + QLatin1Char('/');
    }
    void TearDown() override { CurrentLanguage = savedLanguage; }
    QString LastLine() const { return form.reLog->document()->lastBlock().text(); }
    QColor LineColour(const QTextBlock& block) const
    {
        return block.begin().fragment().charFormat().foreground().color();
    }
    QString Logs() const { return form.ExeDirectory + QStringLiteral("Logs"); }

    int savedLanguage = CurrentLanguage;
    QTemporaryDir dir;
    TMainForm form{QStringList()};
    TReadVersion scan{form, {}};
};

TEST_F(LogTest, EntryPointsBuildPrefixAndText)
{
    form.AddLog(Normal, MessageText(CurrentLanguage, 26));
    EXPECT_EQ(LastLine(), QStringLiteral("Device -------\tFirmware is loaded from resources"));
    EXPECT_EQ(form.reLog->document()->blockCount(), 1);  // the first line is the first line

    form.AddDeviceLog(Normal, 12345, MessageText(CurrentLanguage, 10), {0x1234ABCDu});
    EXPECT_EQ(LastLine(), QStringLiteral("Device   12345\tProcessor ID 0x1234ABCD"));
    form.AddDeviceLogText(Error, -1, QStringLiteral("ready text %d"));
    EXPECT_EQ(LastLine(), QStringLiteral("Device      -1\tready text %d"));
    form.AddLogText(Normal, QStringLiteral("whole search"));
    EXPECT_EQ(LastLine(), QStringLiteral("Device -------\twhole search"));
    form.AddLogLine(Normal, QStringLiteral("no prefix"));
    EXPECT_EQ(LastLine(), QStringLiteral("no prefix"));
    EXPECT_EQ(form.reLog->document()->blockCount(), 5);

    // The prefix follows the language at the moment of logging.
    CurrentLanguage = kLanguageRussian;
    form.AddDeviceLog(Normal, 5, QStringLiteral("x"));
    EXPECT_EQ(LastLine(), QString::fromUtf16(u"Прибор       5\tx"));
}

TEST_F(LogTest, EachLineCarriesItsKindsColour)
{
    const struct {
        int kind;
        QColor colour;
    } cases[] = {{Normal, QColor(0, 0, 0)},    {Error, QColor(255, 0, 0)},
                 {Success, QColor(0, 128, 0)}, {Normal, QColor(0, 0, 0)},
                 {7, QColor(0, 0, 0)},         {Error, QColor(255, 0, 0)},
                 {-3, QColor(0, 0, 0)}};
    for (const auto& c : cases) form.AddLog(c.kind, QStringLiteral("kind %d"), {c.kind});
    QTextBlock block = form.reLog->document()->firstBlock();
    for (const auto& c : cases) {
        ASSERT_TRUE(block.isValid());
        // Every fragment of the line, prefix and tab included, has the colour.
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_EQ(it.fragment().charFormat().foreground().color(), c.colour) << c.kind;
        block = block.next();
    }
}

TEST_F(LogTest, CaretReturnsToTheEnd)
{
    form.AddLog(Normal, QStringLiteral("one"));
    QTextCursor start(form.reLog->document());
    form.reLog->setTextCursor(start);
    form.AddLog(Normal, QStringLiteral("two"));
    EXPECT_TRUE(form.reLog->textCursor().atEnd());
}

TEST_F(LogTest, FileLinesWithFixedClockAndOneMark)
{
    form.LogClock = [] { return At(2015, 7, 27, 11, 24, 18, 5); };
    form.cbWritelogToFile->setChecked(true);
    ASSERT_FALSE(QDir(Logs()).exists());
    form.AddLog(Normal, QStringLiteral("first"));
    form.AddDeviceLog(Error, 12345, QStringLiteral("second"));

    const QByteArray expected =
        QByteArray("\xFF\xFE", 2) +
        Utf16Le(QStringLiteral("[27.07.2015 11:24:18.005]\tDevice -------\tfirst\r\n")) +
        Utf16Le(QStringLiteral("[27.07.2015 11:24:18.005]\tDevice   12345\tsecond\r\n"));
    EXPECT_EQ(ReadAll(Logs() + QStringLiteral("/20150727.log")), expected);
}

TEST_F(LogTest, BoxIsReadAtEveryLineAndClearedBoxTouchesNoFile)
{
    form.LogClock = [] { return At(2020, 2, 29, 8, 0, 0, 0); };
    form.AddLog(Normal, QStringLiteral("not in file"));
    EXPECT_FALSE(QDir(Logs()).exists());
    form.cbWritelogToFile->setChecked(true);
    form.AddLog(Normal, QStringLiteral("in file"));
    form.cbWritelogToFile->setChecked(false);
    form.AddLog(Normal, QStringLiteral("not in file either"));

    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(
        ReadAll(Logs() + QStringLiteral("/20200229.log")).constData() + 2));
    EXPECT_TRUE(text.contains(QStringLiteral("in file")));
    EXPECT_FALSE(text.contains(QStringLiteral("not in file")));
    EXPECT_EQ(form.reLog->document()->blockCount(), 3);
}

TEST_F(LogTest, LinesAcrossMidnightGoToTwoFiles)
{
    QDateTime now = At(2023, 12, 31, 23, 59, 59, 999);
    form.LogClock = [&now] { return now; };
    form.cbWritelogToFile->setChecked(true);
    form.AddLog(Normal, QStringLiteral("old year"));
    now = now.addMSecs(1);
    form.AddLog(Normal, QStringLiteral("new year"));

    EXPECT_EQ(
        ReadAll(Logs() + QStringLiteral("/20231231.log")),
        QByteArray("\xFF\xFE", 2) +
            Utf16Le(QStringLiteral("[31.12.2023 23:59:59.999]\tDevice -------\told year\r\n")));
    EXPECT_EQ(
        ReadAll(Logs() + QStringLiteral("/20240101.log")),
        QByteArray("\xFF\xFE", 2) +
            Utf16Le(QStringLiteral("[01.01.2024 00:00:00.000]\tDevice -------\tnew year\r\n")));
}

// A full disk: the day's file is the system's device that always is. The failure is said once, in
// red, with the file and the reason; the lines stay in the view; a write that succeeds again
// ends the failure, and the next one is said again.
TEST_F(LogTest, AFileThatCannotBeWrittenIsSaidOnceUntilAWriteSucceeds)
{
    form.LogClock = [] { return At(2015, 7, 27, 11, 0, 0, 0); };
    ASSERT_TRUE(QDir().mkpath(Logs()));
    const QString day = Logs() + QStringLiteral("/20150727.log");
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), day));
    form.cbWritelogToFile->setChecked(true);
    form.AddLog(Normal, QStringLiteral("first"));
    form.AddLog(Normal, QStringLiteral("second"));
    const QString said = QStringLiteral("Device -------\tCannot write the log file ") + day +
                         QStringLiteral(": No space left on device");
    EXPECT_EQ(LogLines(form), QStringList({QStringLiteral("Device -------\tfirst"), said,
                                           QStringLiteral("Device -------\tsecond")}));
    EXPECT_EQ(LineColour(form.reLog->document()->findBlockByNumber(1)), QColor(255, 0, 0));

    ASSERT_TRUE(QFile::remove(day));
    form.AddLog(Normal, QStringLiteral("third"));
    EXPECT_TRUE(ReadAll(day).contains(Utf16Le(QStringLiteral("Device -------\tthird"))));
    ASSERT_TRUE(QFile::remove(day));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), day));
    form.AddLog(Normal, QStringLiteral("fourth"));
    EXPECT_EQ(LogLines(form).count(said), 2);
}

TEST_F(LogTest, BeforeTheWindowIsShownTheFileGoesBesideTheExecutable)
{
    form.ExeDirectory.clear();
    // A date no real run of the tests produces, so no other file is touched.
    form.LogClock = [] { return At(2099, 1, 2, 3, 4, 5, 6); };
    form.cbWritelogToFile->setChecked(true);
    const QString path =
        QCoreApplication::applicationDirPath() + QStringLiteral("/Logs/20990102.log");
    QFile::remove(path);
    form.AddLog(Normal, QStringLiteral("early"));
    EXPECT_TRUE(QFile::exists(path));
    QFile::remove(path);
    QDir().rmdir(QCoreApplication::applicationDirPath() + QStringLiteral("/Logs"));
}

TEST_F(LogTest, FullViewKeepsTheNewestLinesAndFollowsTheEnd)
{
    form.show();
    const int total = kLogViewMaxLines + 250;
    for (int i = 0; i < total; ++i) form.AddLog(Normal, QStringLiteral("line %d"), {i});
    QTextDocument* doc = form.reLog->document();
    EXPECT_EQ(doc->blockCount(), kLogViewMaxLines);
    EXPECT_EQ(doc->firstBlock().text(), QStringLiteral("Device -------\tline 250"));
    EXPECT_EQ(doc->lastBlock().text(), QStringLiteral("Device -------\tline %1").arg(total - 1));
    QCoreApplication::processEvents();
    // The newest line is in view: the bottom of the viewport shows it.
    const QPoint bottom(2, form.reLog->viewport()->height() - 2);
    const int shown = form.reLog->cursorForPosition(bottom).blockNumber();
    EXPECT_GE(shown, kLogViewMaxLines - 2);
}

TEST_F(LogTest, EachLineScrollsTheViewByOneLine)
{
    form.show();
    auto topLine = [&] { return form.reLog->cursorForPosition(QPoint(2, 2)).block().text(); };
    for (int i = 0; i < 300; ++i) form.AddLog(Normal, QStringLiteral("line %d"), {i});
    QCoreApplication::processEvents();
    // A reader who scrolled up sees the view move by one line per new line.
    form.reLog->verticalScrollBar()->setValue(100);
    QCoreApplication::processEvents();
    EXPECT_EQ(topLine(), QStringLiteral("Device -------\tline 100"));
    form.AddLog(Normal, QStringLiteral("more"));
    QCoreApplication::processEvents();
    EXPECT_EQ(topLine(), QStringLiteral("Device -------\tline 101"));

    // The same once the view is full and drops a line for each new one.
    for (int i = 301; i < kLogViewMaxLines + 10; ++i)
        form.AddLog(Normal, QStringLiteral("line %d"), {i});
    form.reLog->verticalScrollBar()->setValue(100);
    QCoreApplication::processEvents();
    const QString before = topLine();
    const int number = before.section(QLatin1Char(' '), -1).toInt();
    form.AddLog(Normal, QStringLiteral("more"));
    QCoreApplication::processEvents();
    EXPECT_EQ(topLine(), QStringLiteral("Device -------\tline %1").arg(number + 1));
}

// Counts the lines the view receives, on the window thread.
struct ViewCounter {
    std::atomic<int> lines{0};
    explicit ViewCounter(TMainForm& form)
    {
        QObject::connect(form.reLog->document(), &QTextDocument::contentsChanged, form.reLog,
                         [this] { lines.fetch_add(1); });
    }
};

TEST_F(LogTest, WorkerLinesAreHandedOverAndLoggedBeforeTheCallReturns)
{
    ViewCounter counter(form);
    TDevEntry device("4321", 0, FtdiDriver);
    constexpr int kLines = 300;
    std::atomic<bool> done{false};
    std::atomic<int> returnedEarly{0};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) {
            const int before = counter.lines.load();
            if (i % 3 == 0)
                ReaderLog(scan, Normal, 0, Msg(5), {i, 2, 131});
            else if (i % 3 == 1)
                ReaderLog(scan, Error, 12345, QStringLiteral("reader %d"), {i});
            else
                SessionLine(scan, form, &device, Normal, Msg(62), {i, 1, 8});
            // Synchronous: the view has the line when the call returns.
            if (counter.lines.load() <= before) returnedEarly.fetch_add(1);
        }
        done = true;
    });
    const bool finished = WaitFor([&] { return done.load(); }, 60000);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(returnedEarly.load(), 0);

    QTextBlock block = form.reLog->document()->firstBlock();
    for (int i = 0; i < kLines; ++i, block = block.next()) {
        ASSERT_TRUE(block.isValid()) << i;
        QString expected;
        if (i % 3 == 0)
            expected = QStringLiteral(
                "Device -------\t(% 6d)Error 2 of searching for new devices. "
                "Last response code of the device 131");
        else if (i % 3 == 1)
            expected = QStringLiteral("Device   12345\treader %d");
        else
            expected = QStringLiteral("Device    4321\t(% 6d)\tPart 1 of 8");
        EXPECT_EQ(block.text(), FormatLogText(expected, {i})) << i;
        EXPECT_EQ(LineColour(block), i % 3 == 1 ? QColor(255, 0, 0) : QColor(0, 0, 0)) << i;
    }
}

TEST_F(LogTest, HandOverIntoAFullViewIsServedLikeAnyOther)
{
    for (int i = 0; i < kLogViewMaxLines; ++i) form.AddLog(Normal, QStringLiteral("old %d"), {i});
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) ReaderLog(scan, Normal, 1, QStringLiteral("new %d"), {i});
        done = true;
    });
    const bool finished = WaitFor([&] { return done.load(); }, 60000);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(form.reLog->document()->blockCount(), kLogViewMaxLines);
    EXPECT_EQ(LastLine(), QStringLiteral("Device       1\tnew 99"));
}

TEST_F(LogTest, HandOverOnTheWindowThreadLogsDirectly)
{
    ReaderLog(scan, Error, 77, QStringLiteral("direct %s"), {QStringLiteral("call")});
    EXPECT_EQ(LastLine(), QStringLiteral("Device      77\tdirect call"));
    TDevEntry device("-1", 0, VendorDriver);
    SessionLine(scan, form, &device, Normal, QStringLiteral("writer"));
    EXPECT_EQ(LastLine(), QStringLiteral("Device      -1\twriter"));
    SessionLine(scan, form, nullptr, Normal, QStringLiteral("no device"));
    EXPECT_EQ(LastLine(), QStringLiteral("Device -------\tno device"));
}

TEST(LogHandOver, AWorkerWhoseWindowIsGoneDropsTheLineAndGoesOn)
{
    TestWorkerHost host;
    TReadVersion scan(host, {});
    host.DestroyWindow();
    std::thread worker([&] { ReaderLog(scan, Normal, 0, QStringLiteral("nowhere")); });
    worker.join();  // returns: nobody to wait for
    EXPECT_TRUE(host.Lines.isEmpty());
}

TEST(LogHandOver, AWindowDestroyedBeforeServingReleasesTheWorker)
{
    TestWorkerHost host;
    TReadVersion scan(host, {});
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ReaderLog(scan, Normal, 0, QStringLiteral("never shown"));
        done = true;
    });
    // No events are processed here: the line waits in the queue until the window goes.
    QDeadlineTimer deadline(20000);
    while (PendingWindowThreadCalls() == 0 && !deadline.hasExpired()) QThread::msleep(2);
    ASSERT_EQ(PendingWindowThreadCalls(), 1u);
    QThread::msleep(20);
    EXPECT_FALSE(done.load());  // really waiting
    host.DestroyWindow();
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(PendingWindowThreadCalls(), 0u);
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.Lines.isEmpty());
}
}  // namespace
