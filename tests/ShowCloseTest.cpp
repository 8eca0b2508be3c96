// The window's show and close sequences, run the way the loader runs them. The driver bindings
// are process-wide and made once, so each binding case is its own test binary:
// GX_BOUND_LIBRARIES 2 (both simulated libraries), 1 (the vendor library lacks an entry point)
// or 0 (neither library found).

#include "app/ErrorDisplay.h"
#include "app/IniFile.h"
#include "app/Language.h"
#include "app/MainForm.h"
#include "devices/Channel.h"
#include "firmware/ImagePacking.h"
#include "tests/TestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#if GX_BOUND_LIBRARIES == 2
#include "tests/SimSupport.h"
#endif

namespace {
class ShowClose : public testing::Test {
protected:
    QTemporaryDir exeDir;
    std::unique_ptr<TMainForm> form;
    std::vector<std::pair<QString, QString>> shown;
    ErrorDisplayFunction previousDisplay;
    int savedLanguage = CurrentLanguage;

    void SetUp() override
    {
        previousDisplay = SetErrorDisplay([this](const QString& caption, const QString& text) {
            shown.emplace_back(caption, text);
        });
    }
    void TearDown() override
    {
        Close();
        SetErrorDisplay(previousDisplay);
        CurrentLanguage = savedLanguage;
    }
    QString Ini() const { return exeDir.filePath(QStringLiteral("GXFWLoader.ini")); }
    void WriteIni(const QString& text)
    {
        QFile f(Ini());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    // Shows the window as the loader does and waits until the show sequence has run.
    void Show(const QStringList& args)
    {
        form = std::make_unique<TMainForm>(args);
        form->RunsShowAndCloseSequences = true;
        form->ExecutableDirectory = [this] { return exeDir.path() + QLatin1Char('/'); };
        form->show();
        ASSERT_TRUE(
            WaitFor([&] { return !form->ExeDirectory.isEmpty() && LogLines().size() >= 3; }));
        QCoreApplication::processEvents();
    }
    // The first scan pass has run: it starts once the show sequence has bound the libraries.
    bool WaitFirstPass()
    {
        return WaitFor([&] { return !form->DevTimer->isActive() && !form->CurrentScan; });
    }
    void Close() { form.reset(); }
    QStringList LogLines() const { return ::LogLines(*form); }
    static QString Line(const QString& text) { return QStringLiteral("Device -------\t") + text; }
    bool FileControlsVisible() const
    {
        return form->edFWFile->isVisible() && form->btnFwLoad->isVisible() &&
               form->btnFwOpen->isVisible() && form->lblFileName->isVisible();
    }
    bool FileControlsHidden() const
    {
        return !form->edFWFile->isVisible() && !form->btnFwLoad->isVisible() &&
               !form->btnFwOpen->isVisible() && !form->lblFileName->isVisible();
    }
};

#if GX_BOUND_LIBRARIES == 2
TEST_F(ShowClose, PlainStartShowsTheEmbeddedImageAndHidesTheFileControls)
{
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\nLastFile=/somewhere/old.eraw\n"));
    Show({});
    EXPECT_TRUE(FileControlsHidden());
    EXPECT_TRUE(form->cbAutoWrite->isVisible() && form->cbStartApp->isVisible() &&
                form->cbWritelogToFile->isVisible());
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXST-1.44"));
    EXPECT_EQ(form->lblFirmwDate->text(), QStringLiteral("27-07-2015 11:24:18"));
    EXPECT_EQ(LogLines(),
              QStringList({Line(QStringLiteral("Firmware is loaded from resources")),
                           Line(QStringLiteral("Firmware version \"GXST-1.44\"")),
                           Line(QStringLiteral("Date of compilation \"27-07-2015 11:24:18\""))}));
    EXPECT_TRUE(form->edFWFile->currentText().isEmpty());  // embedded mode empties the box
    EXPECT_GE(form->edFWFile->view()->minimumWidth(), 500);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(ShowClose, EnglishCaptionsAndTheRussianTooltip)
{
    WriteIni(QStringLiteral("[COMMON]\nLanguage=ENGLISH\n"));
    Show({});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Geotrovix Firmware Loader"));
    const QStringList captions = {form->gbFile->title(),        form->lblFileName->text(),
                                  form->btnFwLoad->text(),      form->lblFileDate->text(),
                                  form->lblFileVersion->text(), form->cbAutoWrite->text(),
                                  form->cbStartApp->text(),     form->cbWritelogToFile->text()};
    EXPECT_EQ(captions, QStringList({"Firmware file", "File:", "Read",
                                     "Creation date:", "Firmware version:", "Update automatically",
                                     "Start application", "Write log file"}));
    EXPECT_EQ(form->btnFwOpen->toolTip(), QString::fromUtf16(u"Открыть файл прошивки"));
}

TEST_F(ShowClose, RussianTitleAndFirstStartWritesTheLanguageKey)
{
    ASSERT_FALSE(QFile::exists(Ini()));
    WriteIni(QStringLiteral("[COMMON]\nLanguage=russian\n"));
    Show({});
    EXPECT_EQ(form->windowTitle(), QString::fromUtf16(u"Обновление прошивки Геотровикс"));
    EXPECT_EQ(form->gbFile->title(), QString::fromUtf16(u"Файл прошивки"));
}

TEST_F(ShowClose, ExternalModeShowsTheControlsWithTheLastUsedFile)
{
    const QString image = exeDir.filePath(QStringLiteral("last.eraw"));
    {
        const std::vector<uint8_t> bytes =
            PackFirmwareImage(PlaceholderPayload(1024), "GXLV-9.10", std::nullopt);
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\nLastFile=%1\n[FILES]\n0=%1\n").arg(image));
    Show({QStringLiteral("externfirmware")});
    EXPECT_TRUE(FileControlsVisible());
    EXPECT_EQ(form->edFWFile->currentText(), image);
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXLV-9.10"));
    EXPECT_EQ(LogLines().first(),
              Line(QStringLiteral("Firmware is loaded from a file \"") + image + '"'));
}

TEST_F(ShowClose, SettingsAreWrittenAtClose)
{
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\nKeep=me\n"));
    Show({});
    form->cbStartApp->setChecked(true);
    Close();
    const IniFile ini(Ini());
    const QStringList values =
        ini.ReadString(QStringLiteral("COMMON"), QStringLiteral("MainForm"), QString())
            .split(QLatin1Char(','));
    ASSERT_EQ(values.size(), 8);
    EXPECT_EQ(values[4], QStringLiteral("0"));
    EXPECT_EQ(values[7], QStringLiteral("1"));
    EXPECT_EQ(
        ini.ReadString(QStringLiteral("COMMON"), QStringLiteral("LastFile"), QStringLiteral("x")),
        QString());
    EXPECT_EQ(ini.ReadString(QStringLiteral("COMMON"), QStringLiteral("Keep"), QString()),
              QStringLiteral("me"));
}

TEST_F(ShowClose, ASettingsErrorAtCloseIsShownAndTheDevicesAreStillReleased)
{
    SimSandbox sim;
    const gxsim::DeviceSetup setup = SimDevice("4242", gxsim::Driver::Vendor);
    sim.Add(setup);
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\n"));
    Show({});
    // The first pass lists the device and closes it again; the record below is a second one.
    ASSERT_TRUE(WaitFirstPass());
    auto record = std::make_unique<TDevEntry>(setup.Serial, setup.DeviceCode, VendorDriver);
    ASSERT_TRUE(ChannelOpen(*record));
    form->DeviceList.push_back(std::move(record));
    // The settings file turns into a folder: the system refuses the write.
    ASSERT_TRUE(QFile::remove(Ini()));
    ASSERT_TRUE(QDir(exeDir.path()).mkdir(QStringLiteral("GXFWLoader.ini")));
    Close();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, QStringLiteral("Unable to write to ") + Ini());
    const std::vector<gxsim::JournalEntry> journal = sim.Journal("4242");
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().Kind, "close");
}

TEST_F(ShowClose, SettingsThatCannotBeWrittenAreShownAndTheLoaderStillStarts)
{
    // The settings file is a folder: the first write of the show sequence is refused.
    SimSandbox sim;
    sim.Add(SimDevice("4444", gxsim::Driver::Vendor));
    ASSERT_TRUE(QDir(exeDir.path()).mkdir(QStringLiteral("GXFWLoader.ini")));
    Show({});
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].second, QStringLiteral("Unable to write to ") + Ini());
    // The rest of the sequence ran: the image is loaded, the libraries are bound and the
    // discovery cycle finds the device.
    EXPECT_EQ(form->lblFileVer->text(), QStringLiteral("GXST-1.44"));
    EXPECT_TRUE(FileControlsHidden());
    ASSERT_TRUE(WaitFirstPass());
    EXPECT_TRUE(WaitFor([&] {
        return LogLines().contains(QStringLiteral("Device    4444\tDevice connected")) ||
               LogLines().contains(QString::fromUtf16(u"Прибор    4444\tПрибор подключен"));
    }));
    Close();
    EXPECT_EQ(shown.size(), 2u);  // the close tries again, and says so
}

TEST_F(ShowClose, ClosingDuringAPassStopsItBeforeTheDevicesAreReleased)
{
    SimSandbox sim;
    gxsim::DeviceSetup slow = SimDevice("4343", gxsim::Driver::Vendor);
    slow.Faults = {"silent cmd=4"};
    slow.ReadWaitMs = 2000;  // the pass sits in this read when the window closes
    sim.Add(slow);
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\n"));
    Show({});
    ASSERT_TRUE(WaitFor([&] { return !sim.Journal("4343", "packet").empty(); }));
    Close();
    // The pass ended after its exchange: nothing more was sent, and the channel is closed.
    EXPECT_TRUE(sim.Journal("4343", "text").empty());
    EXPECT_EQ(sim.Journal("4343").back().Kind, "close");
    EXPECT_TRUE(QFile::exists(Ini()));  // the settings were saved as usual
}
#endif

#if GX_BOUND_LIBRARIES == 1
TEST_F(ShowClose, AMissingLibraryIsLoggedInRedRightAfterTheFirmwareLines)
{
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\n"));
    Show({});
    ASSERT_TRUE(WaitFor([&] { return LogLines().size() >= 4; }));
    ASSERT_TRUE(WaitFirstPass());
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[3], Line(QStringLiteral("Lumivarsk device driver is not installed")));
    // The first pass comes after the binding; this FTDI stand-in fails its list call.
    EXPECT_EQ(lines[4], Line(QStringLiteral("Driver error")));
    EXPECT_TRUE(shown.empty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(form->isVisible());
}
#endif

#if GX_BOUND_LIBRARIES == 0
TEST_F(ShowClose, NeitherLibraryShowsTheBoxThenTheWindowCloses)
{
    // The real message box this time: closed by the test once it is up.
    SetErrorDisplay(previousDisplay);
    QString boxText, boxTitle;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::function<void()> closeBox = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(20, closeBox);
            return;
        }
        boxText = box->text();
        boxTitle = box->windowTitle();
        icon = box->icon();
        box->close();
    };
    QTimer::singleShot(20, closeBox);
    WriteIni(QStringLiteral("[COMMON]\nLanguage=English\n"));
    form = std::make_unique<TMainForm>(QStringList());
    form->RunsShowAndCloseSequences = true;
    form->ExecutableDirectory = [this] { return exeDir.path() + QLatin1Char('/'); };
    form->show();
    ASSERT_TRUE(WaitFor([&] { return !boxText.isEmpty(); }, 20000));
    EXPECT_EQ(boxText,
              QStringLiteral("Before the first start of the program connect the device to your "
                             "PC using a USB cable and install the driver."));
    EXPECT_EQ(boxTitle, QStringLiteral("Geotrovix Firmware Loader"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    ASSERT_TRUE(WaitFor([&] { return !form->isVisible(); }));
    // Neither red line: only the firmware lines.
    EXPECT_EQ(LogLines().size(), 3);
}
#endif
}  // namespace
