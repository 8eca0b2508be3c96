// Choosing and loading the firmware image through the window: Read, "...", the recent files and
// the hand-over that write sessions use from their own threads.

#include "app/ErrorDisplay.h"
#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/MainForm.h"
#include "app/OpenDialog.h"
#include "platform/SystemThreads.h"
#include "devices/WorkerHost.h"
#include "firmware/ImagePacking.h"
#include "tests/TestSupport.h"
#include "tests/WorkerTestHost.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <thread>

namespace {
class FirmwareSelection : public testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;
    int savedLanguage = CurrentLanguage;

    void Open(const QStringList& args) { form = std::make_unique<TMainForm>(args); }
    // Runs body on a worker of the window and waits (serving the window thread) until it ends.
    bool RunWorker(std::function<void(FunctionWorker&)> body)
    {
        FunctionWorker worker(form.get(), std::move(body));
        worker.start();
        return WaitFor([&] { return worker.isFinished(); });
    }
    void SetUp() override { CurrentLanguage = kLanguageEnglish; }
    void TearDown() override
    {
        form.reset();
        CurrentLanguage = savedLanguage;
    }
    QString WriteImage(const QString& name, const std::vector<uint8_t>& image)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
        return path;
    }
    QString Image(const QString& name, const char* version = "GXLV-9.10",
                  const char* date = "01.02.2020 03:04:05", size_t payload = 4096)
    {
        return WriteImage(
            name, PackFirmwareImage(PlaceholderPayload(payload), version,
                                    date ? std::optional<std::string_view>(date) : std::nullopt));
    }
    QStringList LogLines() const { return ::LogLines(*form); }
    static QString Line(const QString& text) { return QStringLiteral("Device -------\t") + text; }
    QStringList Items() const
    {
        QStringList items;
        for (int i = 0; i < form->edFWFile->count(); ++i) items << form->edFWFile->itemText(i);
        return items;
    }
};

TEST_F(FirmwareSelection, EmbeddedImageLoadsShowsAndLogsItsVersionAndDate)
{
    Open({});
    form->btnFwLoadClick();
    EXPECT_EQ(LogLines(),
              QStringList({Line(QStringLiteral("Firmware is loaded from resources")),
                           Line(QStringLiteral("Firmware version \"GXST-1.44\"")),
                           Line(QStringLiteral("Date of compilation \"27-07-2015 11:24:18\""))}));
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXST-1.44"));
    EXPECT_EQ(form->lblFirmwDate->text(), QStringLiteral("27-07-2015 11:24:18"));
    EXPECT_TRUE(form->FirmwareFromResource);
    EXPECT_EQ(form->LoadedFirmware.Name, "GXST");
    EXPECT_EQ(form->edFWFile->count(), 0);  // an embedded load adds no recent file
}

TEST_F(FirmwareSelection, ExternalFileIsLoggedWithItsPathAndJoinsTheRecentFilesOnce)
{
    const QString path = Image(QStringLiteral("fw.eraw"));
    Open({QStringLiteral("externfirmware")});
    form->edFWFile->setEditText(path);
    form->btnFwLoadClick();
    EXPECT_EQ(LogLines(),
              QStringList({Line(QStringLiteral("Firmware is loaded from a file \"") + path + '"'),
                           Line(QStringLiteral("Firmware version \"GXLV-9.10\"")),
                           Line(QStringLiteral("Date of compilation \"01-02-2020 03:04:05\""))}));
    EXPECT_FALSE(form->FirmwareFromResource);
    EXPECT_EQ(Items(), QStringList({path}));
    form->btnFwLoadClick();
    EXPECT_EQ(Items(), QStringList({path}));

    // The same file named with other letter case is another entry (and here another file).
    const QString upper = Image(QStringLiteral("FW.eraw"));
    form->edFWFile->setEditText(upper);
    form->btnFwLoadClick();
    EXPECT_EQ(Items(), QStringList({upper, path}));
    EXPECT_EQ(form->edFWFile->currentText(), upper);

    // Picking an entry only puts it into the text.
    const int lines = LogLines().size();
    form->edFWFile->setCurrentIndex(1);
    EXPECT_EQ(form->edFWFile->currentText(), path);
    EXPECT_EQ(LogLines().size(), lines);
}

TEST_F(FirmwareSelection, FailuresLogTheirLinesAndLeaveTheLabels)
{
    Open({QStringLiteral("externfirmware")});
    const QString broken = dir.filePath(QStringLiteral("broken.raw"));
    std::vector<uint8_t> image =
        PackFirmwareImage(PlaceholderPayload(64), "GXLV-9.10", std::nullopt);
    image[10] ^= 1;  // inside the checksummed header
    WriteImage(QStringLiteral("broken.raw"), image);
    // Exists, but cannot be opened for reading: a socket.
    QLocalServer socket;
    ASSERT_TRUE(socket.listen(dir.filePath(QStringLiteral("held.eraw"))));

    struct Case {
        QString path;
        QStringList lines;
    } cases[] = {
        {QString(),
         {Line(QStringLiteral("Firmware loading: File  not found")),
          Line(QStringLiteral("Firmware loading error"))}},
        {dir.filePath(QStringLiteral("missing.eraw")),
         {Line(QStringLiteral("Firmware loading: File %1 not found")
                   .arg(dir.filePath(QStringLiteral("missing.eraw")))),
          Line(QStringLiteral("Firmware loading error"))}},
        {broken,
         {Line(QStringLiteral("Firmware CRC error")),
          Line(QStringLiteral("Firmware loading error"))}},
        {dir.filePath(QStringLiteral("held.eraw")),
         {Line(QStringLiteral("Firmware loading error"))}},
    };
    for (const Case& c : cases) {
        form->reLog->clear();
        form->edFWFile->setEditText(c.path);
        form->btnFwLoadClick();
        EXPECT_EQ(LogLines(), c.lines) << c.path.toStdString();
        EXPECT_EQ(form->lblFileVer->text(), QString::fromUtf16(u"Неизвестна"));
        EXPECT_EQ(form->edFWFile->count(), 0);
    }
}

TEST_F(FirmwareSelection, AnUndecodableDateStillLoadsWithUnknownDate)
{
    const QString path = Image(QStringLiteral("d.eraw"), "GXLV-9.10", "31.02.2020 00:00:00");
    Open({QStringLiteral("externfirmware")});
    form->edFWFile->setEditText(path);
    form->btnFwLoadClick();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], Line(QStringLiteral("Compilation time decoding error")));
    EXPECT_EQ(lines[3], Line(QStringLiteral("Date of compilation \"unknown\"")));
    EXPECT_EQ(form->lblFirmwDate->text(), QStringLiteral("unknown"));
}

TEST_F(FirmwareSelection, OpenDialogLoadsTheChosenFileAtOnce)
{
    const QString path = Image(QStringLiteral("chosen.eraw"));
    Open({QStringLiteral("externfirmware")});
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Encode Raw binary (*.eraw)"));
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    form->btnFwOpenClick();
    EXPECT_EQ(form->edFWFile->currentText(), path);
    EXPECT_EQ(Items(), QStringList({path}));
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXLV-9.10"));

    // Cancelled: nothing happens.
    const int lines = LogLines().size();
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    form->btnFwOpenClick();
    EXPECT_EQ(LogLines().size(), lines);
}

// A file dialog's file-system model runs a thread of its own. The dialog exists only while it is
// shown, and when it is gone its thread has ended too, system thread and all: nothing of it is
// left running (to be cut off by the program's end).
TEST(OpenDialog, LeavesNoThreadOfItsOwnBehind)
{
    QWidget parent;
    TOpenDialog dialog(&parent, {QStringLiteral("Any files (*.*)")});
    // A sanitizer's run time starts a thread of its own with the process's first other thread:
    // started here, it is not taken for the dialog's.
    std::thread([] {}).join();
    std::vector<uint64_t> before = SystemThreadIds();
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->objectName(), QStringLiteral("OpenDialog1"));
        shown->close();
    });
    EXPECT_TRUE(dialog.Execute(QString()).isEmpty());
    EXPECT_EQ(parent.findChild<QFileDialog*>(), nullptr);
    std::vector<uint64_t> after = SystemThreadIds();
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
}

TEST_F(FirmwareSelection, OversizedBlockRaisesOnReadButIsAFailedLoadForAWorker)
{
    const QString path = Image(QStringLiteral("big.eraw"), "GXLV-9.10", nullptr, 2097153);
    Open({QStringLiteral("externfirmware")});
    form->edFWFile->setEditText(path);
    try {
        form->btnFwLoadClick();
        ADD_FAILURE() << "no error raised";
    } catch (const LoaderError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Firmware block size is too big"));
    }

    int shown = 0;
    const ErrorDisplayFunction previous =
        SetErrorDisplay([&](const QString&, const QString&) { ++shown; });
    bool loaded = true;
    EXPECT_TRUE(RunWorker([&](FunctionWorker& worker) {
        TFirmwareBlockList blocks;
        TFirmwareVersion version;
        loaded = LoadFirmwareThroughWindow(worker, *form, blocks, version);
    }));
    SetErrorDisplay(previous);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(shown, 0);
}

TEST_F(FirmwareSelection, WorkerLoadRunsOnTheWindowThreadAndFillsItsOwnList)
{
    const QString path = Image(QStringLiteral("typed.eraw"));
    Open({QStringLiteral("externfirmware")});
    form->edFWFile->setEditText(path);  // typed, never Read
    bool loaded = false, onWindowThread = true;
    size_t blocks = 0;
    TFirmwareVersion version;
    EXPECT_TRUE(RunWorker([&](FunctionWorker& worker) {
        TFirmwareBlockList list;
        loaded = LoadFirmwareThroughWindow(worker, *form, list, version);
        blocks = list.size();
        if (!list.empty()) {
            EXPECT_EQ(list[0]->FlashAddress, -1);
        }
        onWindowThread = QThread::currentThread() == form->thread();
    }));
    EXPECT_TRUE(loaded);
    EXPECT_FALSE(onWindowThread);
    EXPECT_EQ(blocks, 1u);
    EXPECT_EQ(version.Number, 910);
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXLV-9.10"));
    EXPECT_EQ(form->edFWFile->count(), 0);  // a session's load adds no recent file
}
}  // namespace
