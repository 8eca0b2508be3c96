// The firmware write session through the window, against the simulated driver libraries: what
// ends up in a device's flash, what the device was sent, and what the panel and the log say.

#include "app/Language.h"
#include "app/MainForm.h"
#include "app/SessionRecord.h"
#include "devices/DeviceList.h"
#include "firmware/ImagePacking.h"
#include "platform/OutsideMessages.h"
#include "platform/WindowThreadCall.h"
#include "sessions/BootProtocol.h"
#include "sessions/DevicePanel.h"
#include "sessions/WriteProcess.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {
using gxsim::Driver;
using gxsim::Mode;

constexpr uint32_t kBigProcessor = 0x26013F37;    // sectors 10-29, the first at 0xA000
constexpr uint32_t kSmallProcessor = 0x400FE000;  // 512-byte sectors from 0x4400
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
// The day the tests' session records are filed under.
const QDateTime kRecordTime(QDate(2026, 12, 10), QTime(9, 30));

std::vector<uint8_t> EmbeddedPayload()
{
    return PlaceholderPayload(131072);  // the build packs the embedded image from it
}

// The lines with their "(% 6d)" elapsed time replaced by "(t)"; times, when given, receives the
// times in order. A time narrower than six places stays unmasked, so that the comparison shows it.
QStringList MaskTimes(const QStringList& lines, std::vector<int>* times = nullptr)
{
    static const QRegularExpression time(QStringLiteral("^\\(( *\\d+)\\)"));
    QStringList masked;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = time.match(line);
        if (!m.hasMatch() || m.capturedLength(1) < 6) {
            masked << line;
            continue;
        }
        if (times) times->push_back(m.captured(1).trimmed().toInt());
        masked << QStringLiteral("(t)") + line.mid(m.capturedEnd(0));
    }
    return masked;
}

class WriteSession : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(BindSimulatorLibraries()); }

    SimSandbox sim;
    QTemporaryDir files;
    std::unique_ptr<TMainForm> form;
    int savedLanguage = CurrentLanguage;

    void SetUp() override { CurrentLanguage = kLanguageEnglish; }
    void TearDown() override
    {
        form.reset();
        CurrentLanguage = savedLanguage;
    }

    static gxsim::DeviceSetup Boot(std::string serial, Driver driver = Driver::Ftdi,
                                   uint32_t processor = kBigProcessor)
    {
        gxsim::DeviceSetup d = SimDevice(std::move(serial), driver);
        d.ProcessorId = processor;
        return d;
    }
    // Creates the window and waits for its first pass. arguments: its command line.
    void Open(const QStringList& arguments = {},
              const std::function<void(TMainForm&)>& prepare = {})
    {
        form = std::make_unique<TMainForm>(arguments);
        form->DevPanel->resize(kDesignClientWidth, 300);
        if (prepare) prepare(*form);
        ASSERT_TRUE(WaitPassEnd());
    }
    bool WaitPassEnd()
    {
        return WaitFor([&] { return !form->DevTimer->isActive() && !form->CurrentScan; }, 60000);
    }
    void Notify()
    {
        form->WMDeviceChange(kDevNodesChanged);
        ASSERT_TRUE(WaitPassEnd());
    }
    TDevEntry* Device(int32_t serial) const { return FindDeviceBySerial(form->DeviceList, serial); }
    // No session runs for the device any more (or its record is gone).
    bool Ended(const TDevEntry* device) const
    {
        const auto& list = form->DeviceList;
        const bool listed = std::any_of(list.begin(), list.end(),
                                        [device](const auto& e) { return e.get() == device; });
        return !listed || !device->Writer;
    }
    // Presses the device's button and waits until its session has ended.
    void Write(int32_t serial)
    {
        TDevEntry* device = Device(serial);
        ASSERT_NE(device, nullptr);
        device->Panel->UpdateButton->click();
        ASSERT_NE(device->Writer, nullptr) << "no session started";
        ASSERT_TRUE(WaitFor([&] { return Ended(device); }, 120000));
    }
    QString Status(int32_t serial) const { return Device(serial)->Panel->StatusLabel->text(); }
    QColor StatusColour(int32_t serial) const
    {
        return Device(serial)->Panel->StatusLabel->palette().color(QPalette::WindowText);
    }
    QStringList Lines() const { return LogLines(*form); }
    QStringList LinesOf(int32_t serial) const
    {
        const QString prefix = LogLinePrefix(serial);
        QStringList mine;
        for (const QString& line : Lines())
            if (line.startsWith(prefix)) mine << line.mid(prefix.size());
        return mine;
    }
    QColor LineColour(const QString& line) const
    {
        for (QTextBlock b = form->reLog->document()->firstBlock(); b.isValid(); b = b.next())
            if (b.text() == line) return b.begin().fragment().charFormat().foreground().color();
        return QColor();
    }
    // The packets the device received since it was written to, by command.
    std::vector<gxsim::JournalEntry> Packets(std::string_view serial) const
    {
        return sim.Journal(serial, "packet");
    }
    std::vector<int> Commands(std::string_view serial) const { return sim.Commands(serial); }
    int Count(std::string_view serial, int command) const
    {
        const std::vector<int> all = Commands(serial);
        return static_cast<int>(std::count(all.begin(), all.end(), command));
    }
    // An image file for external mode.
    QString ImageFile(const std::vector<uint8_t>& payload, const char* version = "GXST-1.50")
    {
        const std::vector<uint8_t> image =
            PackFirmwareImage(payload, version, std::string_view("01.02.2020 03:04:05"));
        const QString path = files.filePath(QStringLiteral("image%1.eraw").arg(++imageCount_));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
        return path;
    }
    // Opens the window in external mode with that image in the file box.
    void OpenWithImage(const QString& path, const std::function<void(TMainForm&)>& prepare = {})
    {
        Open({QStringLiteral("externfirmware")}, [&](TMainForm& f) {
            f.edFWFile->setEditText(path);
            if (prepare) prepare(f);
        });
    }
    // Turns the log file on, in the test's own folder, so that every ended session leaves its
    // record (result code and last device status included).
    void KeepRecords(TMainForm& f)
    {
        f.ExeDirectory = files.path() + QLatin1Char('/');
        f.LogClock = [] { return kRecordTime; };
        f.cbWritelogToFile->setChecked(true);
    }
    // The session records kept so far, oldest first.
    std::vector<QJsonObject> Records() const
    {
        QFile file(DailySessionRecordPath(files.path() + QLatin1Char('/'), kRecordTime));
        if (!file.open(QIODevice::ReadOnly)) return {};
        std::vector<QJsonObject> records;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty()) records.push_back(QJsonDocument::fromJson(line).object());
        return records;
    }
    // Fills the device's flash with something other than the erased state, so that a missed erase
    // or a stray write shows.
    void FillFlash(std::string_view serial, uint8_t value)
    {
        const size_t size = sim.Flash(serial).size();
        ASSERT_GT(size, 0u);
        ASSERT_TRUE(sim.Folder().WriteFlash(serial, 0, std::vector<uint8_t>(size, value)));
    }

private:
    int imageCount_ = 0;
};

// ---- A whole write, through either library ----

class WholeWrite : public WriteSession, public testing::WithParamInterface<Driver> {};

TEST_P(WholeWrite, PutsTheEmbeddedImageExactlyWhereTheMapSaysAndNothingElse)
{
    sim.Add(Boot("3001", GetParam()));
    FillFlash("3001", 0x5A);
    Open();
    sim.ClearJournal("3001");
    Write(3001);

    // Flash: sectors 10-19 erased and written, the payload from 0xA000; nothing else touched.
    const std::vector<uint8_t> flash = sim.Flash("3001");
    const std::vector<uint8_t> payload = EmbeddedPayload();
    ASSERT_EQ(flash.size(), 0x80000u);
    for (uint32_t a = 0; a < 0xA000; ++a) ASSERT_EQ(flash[a], 0x5A) << std::hex << a;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), flash.begin() + 0xA000));
    for (uint32_t a = 0xA000 + 131072; a < 0x30000; ++a) ASSERT_EQ(flash[a], 0xFF) << std::hex << a;
    for (uint32_t a = 0x30000; a < flash.size(); ++a) ASSERT_EQ(flash[a], 0x5A) << std::hex << a;

    // What the device received: ten erases and 304 parts of the second command set, in order,
    // then the finish command, and the channel closed.
    const std::vector<gxsim::JournalEntry> packets = Packets("3001");
    ASSERT_EQ(packets.size(), 10u + 304u + 1u);
    int sector = 9;
    uint32_t next = 0;
    for (const gxsim::JournalEntry& p : packets) {
        if (p.Command() == CMD_ERASE_SECTOR_V2) {
            EXPECT_EQ(p.Sector(), ++sector);
            next = p.Address();
        } else if (p.Command() == CMD_WRITE_PART_V2) {
            EXPECT_EQ(p.Sector(), sector);
            EXPECT_EQ(p.Address(), next);
            next += 512;
        }
        EXPECT_EQ(p.Status(), STATUS_ACCEPTED) << p.Line;
    }
    EXPECT_EQ(sector, 19);
    EXPECT_EQ(packets.back().Command(), CMD_FINISH);
    EXPECT_EQ(sim.Journal("3001").back().Kind, "close");

    // The panel and the log.
    EXPECT_EQ(Status(3001), QStringLiteral("Firmware updating is successfully completed"));
    EXPECT_EQ(StatusColour(3001), kGreen);
    EXPECT_EQ(Device(3001)->Panel->Progress->value(), 100);
    EXPECT_TRUE(Device(3001)->Panel->UpdateButton->isEnabled());
    QStringList lines = LinesOf(3001);
    lines = lines.mid(lines.indexOf(QStringLiteral("Starting firmware updating")));
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("Starting firmware updating"));
    EXPECT_EQ(lines[1], QStringLiteral("Updating sectors from 10 to 19"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\( *\\d+\\)Firmware is successfully loaded$"))
                    .match(lines.last())
                    .hasMatch())
        << lines.last().toStdString();
    EXPECT_EQ(
        lines.filter(QRegularExpression(QStringLiteral("^\\( *\\d+\\)\\tPart \\d+ of 64$"))).size(),
        4 * 64);
    EXPECT_EQ(
        lines.filter(QRegularExpression(QStringLiteral("^\\( *\\d+\\)\\tPart \\d+ of 8$"))).size(),
        6 * 8);
    EXPECT_TRUE(
        lines.contains(QRegularExpression(QStringLiteral("^\\( *\\d+\\) Erasing sector 10: ОК$"))));
    EXPECT_TRUE(
        lines.contains(QRegularExpression(QStringLiteral("^\\( *\\d+\\) Sector 19 recorded$"))));
    // The session loaded the image on the window thread: the window's lines for it.
    EXPECT_TRUE(Lines().contains(Line("Device -------\tFirmware is loaded from resources")));
    EXPECT_FALSE(lines.contains(QStringLiteral("Sending command to application starting")));
}

INSTANTIATE_TEST_SUITE_P(Drivers, WholeWrite, testing::Values(Driver::Ftdi, Driver::Vendor),
                         [](const testing::TestParamInfo<Driver>& info) {
                             return std::string(gxsim::DriverName(info.param));
                         });

// ---- Sectors ----

TEST_F(WriteSession, AnEmptySectorBetweenWrittenOnesIsSkippedAndCountsForTheProgress)
{
    sim.Add(Boot("3101", Driver::Vendor, kSmallProcessor));
    std::vector<uint8_t> payload(3 * 512, 0x21);
    std::fill(payload.begin() + 512, payload.begin() + 1024, 0xFF);  // sector 1 stays erased
    OpenWithImage(ImageFile(payload));
    sim.ClearJournal("3101");
    Write(3101);
    EXPECT_EQ(Status(3101), QStringLiteral("Firmware updating is successfully completed"));
    const QStringList lines = LinesOf(3101);
    EXPECT_TRUE(lines.contains(QStringLiteral("Updating sectors from 0 to 2")));
    EXPECT_TRUE(lines.contains(
        QRegularExpression(QStringLiteral("^\\( *\\d+\\) Sector 1 empty\\. Skip\\.$"))));
    std::set<int> erased;
    for (const gxsim::JournalEntry& p : Packets("3101"))
        if (p.Command() == CMD_ERASE_SECTOR_V2) erased.insert(p.Sector());
    EXPECT_EQ(erased, (std::set<int>{0, 2}));
    EXPECT_EQ(Count("3101", CMD_WRITE_PART_V2), 2);
    EXPECT_EQ(Device(3101)->Panel->Progress->value(), 100);
    const std::vector<uint8_t> flash = sim.Flash("3101");
    EXPECT_EQ(flash[0x4400], 0x21);
    EXPECT_EQ(flash[0x4800], 0x21);
}

// ---- The log of a session, line by line ----

struct LogCase {
    const char* name;
    Driver driver;
    std::vector<std::string> faults;
    const char* panel;
    // The device's lines from message 15 on, elapsed times masked; a line written in red starts
    // with "!" here.
    std::vector<const char*> lines;
};
class SessionLog : public WriteSession, public testing::WithParamInterface<LogCase> {};

TEST_P(SessionLog, NamesEveryStepInItsOrderWithRisingTimes)
{
    const LogCase& c = GetParam();
    // Three 512-byte sectors, each one part: 0 and 2 written, 1 left erased between them.
    gxsim::DeviceSetup device = Boot("3151", c.driver, kSmallProcessor);
    device.Faults = c.faults;
    sim.Add(device);
    std::vector<uint8_t> payload(3 * 512, 0x21);
    std::fill(payload.begin() + 512, payload.begin() + 1024, 0xFF);
    OpenWithImage(ImageFile(payload));
    Write(3151);
    EXPECT_EQ(Status(3151), QString::fromUtf8(c.panel));

    // The device's lines and their colours, from the press on.
    const QString prefix = LogLinePrefix(3151);
    QStringList lines;
    std::vector<QColor> colours;
    for (QTextBlock b = form->reLog->document()->firstBlock(); b.isValid(); b = b.next()) {
        if (!b.text().startsWith(prefix)) continue;
        lines << b.text().mid(prefix.size());
        colours.push_back(b.begin().fragment().charFormat().foreground().color());
    }
    const qsizetype start = lines.indexOf(QStringLiteral("Starting firmware updating"));
    ASSERT_GE(start, 0);
    lines = lines.mid(start);
    colours.erase(colours.begin(), colours.begin() + start);

    QStringList expected;
    std::vector<QColor> expectedColours;
    for (const char* line : c.lines) {
        const bool red = line[0] == '!';
        expected << QString::fromUtf8(red ? line + 1 : line);
        expectedColours.push_back(red ? kRed : kBlack);
    }
    std::vector<int> times;
    EXPECT_EQ(MaskTimes(lines, &times), expected);
    EXPECT_EQ(colours, expectedColours);
    // Every time counts from the session's start, the verdict's too: none goes back.
    EXPECT_EQ(times.size(),
              static_cast<size_t>(expected.filter(QRegularExpression("^\\(t\\)")).size()));
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SessionLog,
    testing::Values(
        LogCase{"Whole",
                Driver::Vendor,
                {},
                "Firmware updating is successfully completed",
                {"Starting firmware updating", "Updating sectors from 0 to 2",
                 "(t) Updating sector 0:", "(t) Erasing sector 0...", "(t) Erasing sector 0: ОК",
                 "(t) Recording sector 0:", "(t)\tPart 0 of 1", "(t) Sector 0 recorded",
                 "(t) Updating sector 1:", "(t) Sector 1 empty. Skip.",
                 "(t) Updating sector 2:", "(t) Erasing sector 2...", "(t) Erasing sector 2: ОК",
                 "(t) Recording sector 2:", "(t)\tPart 0 of 1", "(t) Sector 2 recorded",
                 "(t)Firmware is successfully loaded"}},
        // A status other than 131 and 138 fails the erase; the session stops at that sector.
        LogCase{"EraseRefused",
                Driver::Ftdi,
                {"status:130 cmd=6 sector=2"},
                "Error 5 of firmware updating",
                {"Starting firmware updating", "Updating sectors from 0 to 2",
                 "(t) Updating sector 0:", "(t) Erasing sector 0...", "(t) Erasing sector 0: ОК",
                 "(t) Recording sector 0:", "(t)\tPart 0 of 1", "(t) Sector 0 recorded",
                 "(t) Updating sector 1:", "(t) Sector 1 empty. Skip.", "(t) Updating sector 2:",
                 "(t) Erasing sector 2...", "!(t) Erasing sector 2: Error!",
                 "!(t)Error 5 of firmware updating. Last response code of the device 130"}},
        // No reply at all: the last status is still the one of the sector before.
        LogCase{"EraseUnanswered",
                Driver::Vendor,
                {"silent cmd=6 sector=2"},
                "Error 5 of firmware updating",
                {"Starting firmware updating", "Updating sectors from 0 to 2",
                 "(t) Updating sector 0:", "(t) Erasing sector 0...", "(t) Erasing sector 0: ОК",
                 "(t) Recording sector 0:", "(t)\tPart 0 of 1", "(t) Sector 0 recorded",
                 "(t) Updating sector 1:", "(t) Sector 1 empty. Skip.", "(t) Updating sector 2:",
                 "(t) Erasing sector 2...", "!(t) Erasing sector 2: Error!",
                 "!(t)Error 5 of firmware updating. Last response code of the device 128"}}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

TEST_F(WriteSession, AProtectedSectorIsLoggedAndTheSessionGoesOn)
{
    gxsim::DeviceSetup device = Boot("3201", Driver::Ftdi, kSmallProcessor);
    device.ProtectedSectors = {0};
    sim.Add(device);
    OpenWithImage(ImageFile(std::vector<uint8_t>(1024, 0x31)));
    Write(3201);
    const QStringList lines = LinesOf(3201);
    const qsizetype protectedLine = lines.indexOf(
        QRegularExpression(QStringLiteral("^\\( *\\d+\\) Sector is protected from erasure$")));
    ASSERT_GE(protectedLine, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\( *\\d+\\) Erasing sector 0: ОК$"))
                    .match(lines.value(protectedLine + 1))
                    .hasMatch());
    EXPECT_TRUE(lines.contains(
        QRegularExpression(QStringLiteral("^\\( *\\d+\\) Sector is protected from record$"))));
    EXPECT_EQ(LineColour(LogLinePrefix(3201) + lines[protectedLine]), kRed);
    EXPECT_EQ(Status(3201), QStringLiteral("Firmware updating is successfully completed"));
    EXPECT_EQ(Count("3201", CMD_FINISH), 1);
}

TEST_F(WriteSession, ALockedReplyToAPartShowsTheLockMessages)
{
    gxsim::DeviceSetup device = Boot("3301", Driver::Vendor, kSmallProcessor);
    device.Faults = {"status:138 cmd=7 sector=1"};
    sim.Add(device);
    OpenWithImage(ImageFile(std::vector<uint8_t>(1024, 0x41)));
    Write(3301);
    EXPECT_EQ(Status(3301), QStringLiteral("Device is locked"));
    EXPECT_EQ(StatusColour(3301), kRed);
    const QStringList lines = LinesOf(3301);
    EXPECT_EQ(lines.last(), QStringLiteral("Device settings are protected"));
    EXPECT_TRUE(lines.contains(QRegularExpression(
        QStringLiteral("^\\( *\\d+\\) Sector recording error 1 \\(14, 14, 138, 1, 17920\\)$"))));
    const std::vector<int> commands = Commands("3301");
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), CMD_ABORT);
    EXPECT_EQ(Count("3301", CMD_FINISH), 0);
}

struct StartAppCase {
    bool ticked;
    std::vector<int> tail;  // the last commands the device received
};
class StartApplication : public WriteSession, public testing::WithParamInterface<StartAppCase> {};

TEST_P(StartApplication, FollowsTheBoxAtTheEndOfTheSession)
{
    sim.Add(Boot("3401", Driver::Ftdi, kSmallProcessor));
    OpenWithImage(ImageFile(std::vector<uint8_t>(512, 0x51)),
                  [](TMainForm& f) { f.cbStartApp->setChecked(GetParam().ticked); });
    Write(3401);
    std::vector<int> commands = Commands("3401");
    ASSERT_GE(commands.size(), GetParam().tail.size());
    commands.erase(commands.begin(), commands.end() - static_cast<long>(GetParam().tail.size()));
    EXPECT_EQ(commands, GetParam().tail);
    EXPECT_EQ(LinesOf(3401).contains(QStringLiteral("Sending command to application starting")),
              GetParam().ticked);
    EXPECT_EQ(sim.Device("3401").NextMode,
              GetParam().ticked ? Mode::Application : Mode::Bootloader);
}

INSTANTIATE_TEST_SUITE_P(
    Box, StartApplication,
    testing::Values(StartAppCase{false, {CMD_WRITE_PART_V2, CMD_FINISH}},
                    StartAppCase{true, {CMD_WRITE_PART_V2, CMD_FINISH, CMD_START_APPLICATION}}),
    [](const testing::TestParamInfo<StartAppCase>& info) {
        return std::string(info.param.ticked ? "Ticked" : "Cleared");
    });

TEST_F(WriteSession, TheStartApplicationCopyFollowsTheBoxAndTheSettings)
{
    Open();
    EXPECT_FALSE(form->StartApplicationRequested());
    form->cbStartApp->setChecked(true);
    EXPECT_TRUE(form->StartApplicationRequested());
    form->cbStartApp->setChecked(false);
    EXPECT_FALSE(form->StartApplicationRequested());
    QFile ini(files.filePath(QStringLiteral("GXFWLoader.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[COMMON]\nLanguage=English\nMainForm=0,0,680,456,0,165,0,1\n");
    ini.close();
    form->ExeDirectory = files.path() + QLatin1Char('/');
    form->LoadSettings();
    EXPECT_TRUE(form->StartApplicationRequested());
}

// A session record that cannot be written (the disk is full: the day's file is the system's device
// that always is) is said once, in red, with the file and the reason; the verdict stands.
TEST_F(WriteSession, ARecordThatCannotBeWrittenIsSaidOnce)
{
    sim.Add(Boot("3452", Driver::Vendor, kSmallProcessor));
    OpenWithImage(ImageFile(std::vector<uint8_t>(1024, 0x55)),
                  [&](TMainForm& f) { KeepRecords(f); });
    const QString path = DailySessionRecordPath(files.path() + QLatin1Char('/'), kRecordTime);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), path));
    Write(3452);
    Write(3452);
    EXPECT_EQ(Status(3452), QStringLiteral("Firmware updating is successfully completed"));
    const QString said = Line("Device -------\tCannot write the session record file ") + path +
                         QStringLiteral(": No space left on device");
    EXPECT_EQ(Lines().count(said), 1) << Lines().join('\n').toStdString();
}

TEST_F(WriteSession, EveryEndedSessionIsRecordedWhenTheLogFileIsOn)
{
    gxsim::DeviceSetup device = Boot("3451", Driver::Vendor, kSmallProcessor);
    device.Firmware = "GXST-1.40";
    sim.Add(device);
    const QString image = ImageFile(std::vector<uint8_t>(1024, 0x55));
    OpenWithImage(image, [&](TMainForm& f) {
        f.ExeDirectory = files.path() + QLatin1Char('/');
        f.cbWritelogToFile->setChecked(true);
    });
    Write(3451);  // succeeds
    sim.Set("3451", [](gxsim::DeviceSetup& d) { d.Faults = {"status:130 cmd=6"}; });
    Write(3451);  // fails at its first erase
    QFile record(
        DailySessionRecordPath(files.path() + QLatin1Char('/'), QDateTime::currentDateTime()));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject ok = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(ok.value("serial").toInt(), 3451);
    EXPECT_EQ(ok.value("driver").toString(), "vendor");
    EXPECT_EQ(ok.value("processor").toString(), "0x400FE000");
    EXPECT_EQ(ok.value("firmware_before").toString(), "GXST-1.40");
    EXPECT_EQ(ok.value("bootloader_before").toString(), "GXBL-1.05");
    EXPECT_EQ(ok.value("image_version").toString(), "GXST-1.50");
    EXPECT_EQ(ok.value("image_source").toString(), image);
    EXPECT_EQ(ok.value("result").toInt(), 0);
    EXPECT_EQ(ok.value("last_status").toInt(), 128);
    EXPECT_EQ(ok.value("sectors_written").toInt(), 2);
    EXPECT_EQ(ok.value("parts_written").toInt(), 2);
    EXPECT_EQ(ok.value("parts_total").toInt(), 2);
    EXPECT_GT(ok.value("duration_ms").toInt(), 0);
    const QJsonObject failed = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(failed.value("result").toInt(), kWriteEraseFailed);
    EXPECT_EQ(failed.value("last_status").toInt(), 130);
    EXPECT_EQ(failed.value("sectors_written").toInt(), 0);
    EXPECT_EQ(failed.value("parts_written").toInt(), 0);
}

TEST_F(WriteSession, NoSessionRecordWithTheLogFileOff)
{
    sim.Add(Boot("3452", Driver::Vendor, kSmallProcessor));
    OpenWithImage(ImageFile(std::vector<uint8_t>(512, 0x55)),
                  [&](TMainForm& f) { f.ExeDirectory = files.path() + QLatin1Char('/'); });
    Write(3452);
    EXPECT_FALSE(QDir(files.filePath(QStringLiteral("Logs"))).exists());
}

// ---- Before the device is opened ----

TEST_F(WriteSession, ADeviceThatDoesNotOpenIsError7)
{
    sim.Add(Boot("3501", Driver::Vendor));
    Open();
    sim.Set("3501", [](gxsim::DeviceSetup& d) { d.OpenFails = true; });
    sim.ClearJournal("3501");
    Write(3501);
    EXPECT_EQ(Status(3501), QStringLiteral("Error 7 of firmware updating"));
    const QStringList lines = LinesOf(3501);
    EXPECT_TRUE(lines.contains(QStringLiteral("Disable to open device")));
    EXPECT_EQ(LineColour(LogLinePrefix(3501) + QStringLiteral("Disable to open device")), kRed);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral(
                "^\\( *\\d+\\)Error 7 of firmware updating\\. Last response code of the device 0$"))
            .match(lines.last())
            .hasMatch())
        << lines.last().toStdString();
    EXPECT_TRUE(Packets("3501").empty());
}

struct EarlyCase {
    const char* name;
    const char* deviceFirmware;
    bool missingFile;    // external mode with no such file
    bool erasedImage;    // an image of nothing but 0xFF
    const char* status;  // on the panel
};
class BeforeOpening : public WriteSession, public testing::WithParamInterface<EarlyCase> {};

TEST_P(BeforeOpening, EndsWithoutOpeningTheDevice)
{
    gxsim::DeviceSetup device = Boot("3601", Driver::Ftdi);
    device.Firmware = GetParam().deviceFirmware;
    sim.Add(device);
    if (GetParam().missingFile)
        OpenWithImage(files.filePath(QStringLiteral("nowhere.eraw")));
    else if (GetParam().erasedImage)
        OpenWithImage(ImageFile(std::vector<uint8_t>(4096, 0xFF), "GXST-1.44"));
    else
        Open();
    sim.ClearJournal("3601");
    Write(3601);
    EXPECT_EQ(Status(3601), QString::fromUtf8(GetParam().status));
    EXPECT_EQ(StatusColour(3601), kRed);
    EXPECT_TRUE(sim.Journal("3601").empty());  // never opened
}

INSTANTIATE_TEST_SUITE_P(Codes, BeforeOpening,
                         testing::Values(EarlyCase{"NotCompatible", "GXLV-9.00", false, false,
                                                   "Firmware and device is not compatible"},
                                         EarlyCase{"LoadFailed", "GXST-1.40", true, false,
                                                   "Error 1 of firmware updating"},
                                         EarlyCase{"NothingToWrite", "GXST-1.40", false, true,
                                                   "Error 4 of firmware updating"}),
                         [](const testing::TestParamInfo<EarlyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WriteSession, IncompatibleFirmwareIsLoggedWithMessage22)
{
    gxsim::DeviceSetup device = Boot("3602", Driver::Ftdi);
    device.Firmware = "GXLV-9.00";
    sim.Add(device);
    Open();
    Write(3602);
    EXPECT_EQ(LinesOf(3602).last(),
              QStringLiteral("Device is not compatible with firmware version"));
    // The switch "dontcheckcpbl" lets the same firmware through.
    form.reset();
    Open({QStringLiteral("dontcheckcpbl")});
    Write(3602);
    EXPECT_EQ(Status(3602), QStringLiteral("Firmware updating is successfully completed"));
}

// ---- The command set ----

struct CommandSetCase {
    const char* name;
    uint32_t processor;
    const char* bootloader;
    const char* deviceFirmware;
    const char* image;
    uint16_t erase;
    uint16_t write;
    int firstSector;
};
class CommandSet : public WriteSession, public testing::WithParamInterface<CommandSetCase> {};

TEST_P(CommandSet, IsChosenByTheProcessorOrByGxlvWithBootloader104)
{
    const CommandSetCase& c = GetParam();
    gxsim::DeviceSetup device = Boot("3701", Driver::Vendor, c.processor);
    device.Bootloader = c.bootloader;
    device.Firmware = c.deviceFirmware;
    sim.Add(device);
    OpenWithImage(ImageFile(std::vector<uint8_t>(4096, 0x61), c.image));
    sim.ClearJournal("3701");
    Write(3701);
    EXPECT_EQ(Status(3701), QStringLiteral("Firmware updating is successfully completed"));
    EXPECT_EQ(Count("3701", c.erase), 1);
    EXPECT_EQ(Count("3701", c.write), 8);
    EXPECT_EQ(Packets("3701").front().Sector(), c.firstSector);
    const bool known = c.processor == kBigProcessor;
    const QString unknown =
        QStringLiteral("Unknown processor ID ") +
        QStringLiteral("%1").arg(c.processor, 8, 16, QLatin1Char('0')).toUpper();
    EXPECT_EQ(LinesOf(3701).contains(unknown), !known);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, CommandSet,
    testing::Values(CommandSetCase{"ListedProcessor", kBigProcessor, "GXBL-1.00", "GXST-1.40",
                                   "GXST-1.50", CMD_ERASE_SECTOR_V2, CMD_WRITE_PART_V2, 10},
                    CommandSetCase{"GxlvWith104", 0x12345678, "GXBL-1.04", "GXLV-9.00", "GXLV-9.10",
                                   CMD_ERASE_SECTOR_V2, CMD_WRITE_PART_V2, 4},
                    CommandSetCase{"GxlvWith103", 0x12345678, "GXBL-1.03", "GXLV-8.00", "GXLV-8.50",
                                   CMD_ERASE_SECTOR_V1, CMD_WRITE_PART_V1, 4},
                    CommandSetCase{"OtherFamily", 0x12345678, "GXBL-1.05", "GXST-1.40", "GXST-1.50",
                                   CMD_ERASE_SECTOR_V1, CMD_WRITE_PART_V1, 4}),
    [](const testing::TestParamInfo<CommandSetCase>& info) {
        return std::string(info.param.name);
    });

// ---- Presses, unplugging, several devices ----

TEST_F(WriteSession, ASecondPressWhileWritingStartsNothing)
{
    sim.Add(Boot("3801", Driver::Ftdi));
    Open();
    TDevEntry* device = Device(3801);
    QPushButton* button = device->Panel->UpdateButton;
    button->click();
    ASSERT_NE(device->Writer, nullptr);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(Status(3801), QStringLiteral("Updating firmware..."));
    EXPECT_EQ(StatusColour(3801), kGreen);
    const TWorkerThread* session = device->Writer;
    form->UpdateButtonClick(button);  // as a click would, were the button not disabled
    EXPECT_EQ(device->Writer, session);
    form->StartFirmwareWrite(*device);
    EXPECT_EQ(LinesOf(3801).last(), QStringLiteral("Firmware is loading"));
    ASSERT_TRUE(WaitFor([&] { return !device->Writer; }, 60000));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(LinesOf(3801).count(QStringLiteral("Starting firmware updating")), 1);
    EXPECT_EQ(Count("3801", CMD_FINISH), 1);
}

// The device's reply to a part of sector 12 is late: it is unplugged while the session waits for
// it, and the scan that notices asks the session to stop.
gxsim::DeviceSetup SlowAtSector12(std::string serial)
{
    gxsim::DeviceSetup d = SimDevice(std::move(serial), Driver::Ftdi);
    d.Faults = {"delay:900 cmd=7 sector=12"};
    return d;
}

bool WaitForPart(const SimSandbox& sim, std::string_view serial, int sector)
{
    return WaitFor(
        [&] {
            for (const gxsim::JournalEntry& e : sim.Journal(serial, "packet"))
                if (e.Command() == CMD_WRITE_PART_V2 && e.Sector() == sector) return true;
            return false;
        },
        60000);
}

TEST_F(WriteSession, AnUnpluggedDeviceIsAbortedReportedAsAnErrorAndRemoved)
{
    sim.Add(SlowAtSector12("3901"));
    Open();
    TDevEntry* device = Device(3901);
    const QPointer<QLabel> status = device->Panel->StatusLabel;
    device->Panel->UpdateButton->click();
    ASSERT_TRUE(WaitForPart(sim, "3901", 12));
    sim.Unplug("3901");
    form->WMDeviceChange(kDevNodesChanged);
    ASSERT_TRUE(WaitFor([&] { return Device(3901) == nullptr; }, 60000));
    const QStringList lines = LinesOf(3901);
    const qsizetype error = lines.indexOf(QRegularExpression(QStringLiteral(
        "^\\( *\\d+\\)Error 2 of firmware updating\\. Last response code of the device 128$")));
    ASSERT_GE(error, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.value(error + 1), QStringLiteral("Device disconnected"));
    EXPECT_TRUE(lines.filter(QStringLiteral("successfully")).isEmpty());
    EXPECT_TRUE(status.isNull());  // the panel went with the record
    EXPECT_EQ(Count("3901", CMD_FINISH), 0);
    EXPECT_EQ(Count("3901", CMD_START_APPLICATION), 0);
    // Stopped within the late part: the part was not sent again.
    int sector12 = 0;
    for (const gxsim::JournalEntry& e : Packets("3901"))
        if (e.Sector() == 12 && e.Command() == CMD_WRITE_PART_V2) ++sector12;
    EXPECT_EQ(sector12, 1);
}

TEST_F(WriteSession, AListThatCannotBeReadLeavesARunningSessionAlone)
{
    // The FTDI driver's list fails while a device of its is written: that says nothing about the
    // device, which still answers. Its session goes on to the end.
    sim.Add(SlowAtSector12("3951"));
    Open();
    TDevEntry* device = Device(3951);
    device->Panel->UpdateButton->click();
    ASSERT_TRUE(WaitForPart(sim, "3951", 12));
    std::string error;
    ASSERT_TRUE(sim.Folder().UpdateLibrary([](gxsim::LibrarySetup& l) { l.FtdiCountFails = true; },
                                           &error));
    form->WMDeviceChange(kDevNodesChanged);
    ASSERT_TRUE(WaitFor(
        [&] { return !device->Writer && !form->CurrentScan && !form->DevTimer->isActive(); },
        60000));
    EXPECT_EQ(Device(3951), device);
    EXPECT_FALSE(device->Detached);
    EXPECT_EQ(Status(3951), QStringLiteral("Firmware updating is successfully completed"));
    EXPECT_EQ(Count("3951", CMD_FINISH), 1);
    EXPECT_EQ(Count("3951", CMD_ABORT), 0);
    EXPECT_EQ(Lines().count(Line("Device    3951\tDevice disconnected")), 0);
}

// Two devices that share a number are two records, each paired with its own device: unplugging
// one neither stops the other's session nor leaves a record that hides the live device.
struct TwinCase {
    const char* name;
    gxsim::DeviceSetup unplugged;
    gxsim::DeviceSetup written;
};
class Twins : public WriteSession, public testing::WithParamInterface<TwinCase> {};

TEST_P(Twins, UnpluggingOneLeavesTheOthersSessionAlone)
{
    const TwinCase& c = GetParam();
    sim.Add(c.unplugged);
    sim.Add(c.written);
    Open();
    ASSERT_EQ(form->DeviceList.size(), 2u);
    TDevEntry* gone = form->DeviceList[0].get();
    TDevEntry* written = form->DeviceList[1].get();
    ASSERT_EQ(KeyOf(*written).SerialText, c.written.ListedSerialText());
    const int32_t number = written->SerialNumber;
    ASSERT_EQ(gone->SerialNumber, number);
    const QPointer<QLabel> goneStatus = gone->Panel->StatusLabel;
    written->Panel->UpdateButton->click();
    ASSERT_TRUE(WaitForPart(sim, c.written.Serial, 12));
    sim.Unplug(c.unplugged.Serial);
    form->WMDeviceChange(kDevNodesChanged);
    ASSERT_TRUE(WaitFor([&] { return form->DeviceList.size() == 1 && !written->Writer; }, 60000));
    EXPECT_EQ(form->DeviceList[0].get(), written);
    EXPECT_TRUE(goneStatus.isNull());
    EXPECT_EQ(written->Panel->StatusLabel->text(),
              QStringLiteral("Firmware updating is successfully completed"));
    EXPECT_EQ(Count(c.written.Serial, CMD_FINISH), 1);
    EXPECT_EQ(Lines().count(LogLinePrefix(number) + QStringLiteral("Device disconnected")), 1);
}

gxsim::DeviceSetup ListedAs(std::string name, Driver driver, std::string listed)
{
    gxsim::DeviceSetup d = SlowAtSector12(std::move(name));
    d.Kind = driver;
    d.ListedSerial = std::move(listed);
    return d;
}

INSTANTIATE_TEST_SUITE_P(SharedNumbers, Twins,
                         testing::Values(
                             // Both serial texts read as -1.
                             TwinCase{"BothMinusOne", SlowAtSector12("-1"), SlowAtSector12("ABC")},
                             // One number through both libraries (FTDI devices are listed first).
                             TwinCase{"BothLibraries", ListedAs("4601", Driver::Ftdi, ""),
                                      ListedAs("v4601", Driver::Vendor, "4601")}),
                         [](const testing::TestParamInfo<TwinCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WriteSession, ADeviceFoundGoneRightAfterItsSessionEndedGoesWithThatPass)
{
    // The session's end is handled while a pass still lists the devices; the pass then finds the
    // device gone and marks it detached, from its own thread. (Run under ThreadSanitizer, this
    // also shows whether the end handler reads the detached flag under the device list's lock.)
    sim.Add(Boot("4501", Driver::Vendor, kSmallProcessor));
    OpenWithImage(ImageFile(std::vector<uint8_t>(512, 0x45)));
    sim.ClearJournal("4501");
    TDevEntry* device = Device(4501);
    ASSERT_NE(device, nullptr);
    device->Panel->UpdateButton->click();
    // Served call by call until the device is closed: then only the session's end handler waits.
    const auto closed = [&] {
        const std::vector<gxsim::JournalEntry> journal = sim.Journal("4501");
        return !journal.empty() && journal.back().Kind == "close";
    };
    bool ended = false;
    for (int call = 0; call < 50 && !ended; ++call) {
        ASSERT_TRUE(WaitUnserved([] { return PendingWindowThreadCalls() == 1; }));
        ended = closed();
        if (!ended) ServeWindowThreadCalls(form.get());
    }
    ASSERT_TRUE(ended);

    sim.Unplug("4501");
    // A new FTDI device whose description the driver reads only at its fourth list: the pass
    // lists for some 300 ms before it compares what it found with the known devices.
    gxsim::DeviceSetup late = SimDevice("4502", Driver::Ftdi);
    late.LateDescription = 3;
    sim.Add(late);
    form->StartScan();
    ASSERT_NE(form->CurrentScan, nullptr);
    EXPECT_EQ(ServeWindowThreadCalls(form.get()), 1u);  // the session's end, while the pass lists
    EXPECT_EQ(Device(4501), device);                    // not known to be gone yet: it stays
    EXPECT_EQ(Status(4501), QStringLiteral("Firmware updating is successfully completed"));
    ASSERT_TRUE(WaitPassEnd());
    EXPECT_EQ(Device(4501), nullptr);  // the pass that found it gone removed it
    EXPECT_EQ(Lines().count(Line("Device    4501\tDevice disconnected")), 1);
    EXPECT_NE(Device(4502), nullptr);
}

TEST_F(WriteSession, SixteenDevicesAtOnceAreEachWrittenByteForByte)
{
    std::vector<std::string> serials;
    for (int i = 0; i < 16; ++i) {
        serials.push_back(std::to_string(4100 + i));
        sim.Add(Boot(serials.back(), i % 2 ? Driver::Vendor : Driver::Ftdi));
    }
    Open({}, [](TMainForm& f) { f.cbAutoWrite->setChecked(true); });
    ASSERT_EQ(form->DeviceList.size(), 16u);
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::all_of(form->DeviceList.begin(), form->DeviceList.end(),
                               [](const auto& d) { return !d->Writer; });
        },
        180000));
    const std::vector<uint8_t> payload = EmbeddedPayload();
    for (const std::string& serial : serials) {
        const int32_t number = std::stoi(serial);
        EXPECT_EQ(Status(number), QStringLiteral("Firmware updating is successfully completed"))
            << serial;
        const std::vector<uint8_t> flash = sim.Flash(serial);
        ASSERT_GE(flash.size(), 0xA000u + payload.size());
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), flash.begin() + 0xA000)) << serial;
        EXPECT_EQ(Count(serial, CMD_WRITE_PART_V2), 304) << serial;
    }
}

// ---- Faults of the device and its cable ----

// The commands of the table below.
constexpr int kErase = CMD_ERASE_SECTOR_V2;
constexpr int kPart = CMD_WRITE_PART_V2;
constexpr int kFinish = CMD_FINISH;
constexpr int kAbort = CMD_ABORT;
constexpr int kStart = CMD_START_APPLICATION;

const char* const kSucceeded = "Firmware updating is successfully completed";

struct FaultCase {
    const char* name;
    std::vector<std::string> faults{};  // on a device with two sectors of one part each
    bool openFails = false;
    uint32_t unplugAfterParts = 0;
    bool startApplication = false;  // "Start application" ticked
    int code = 0;                   // the session's result code
    int lastStatus = 0;             // of the last erase or part reply that passed the header test
    const char* panel = kSucceeded;
    std::vector<int> commands{};  // every packet the device received during the session, in order
};
class Faults : public WriteSession,
               public testing::WithParamInterface<std::tuple<FaultCase, Driver>> {};

TEST_P(Faults, EndAsTheProtocolSays)
{
    const FaultCase& c = std::get<0>(GetParam());
    gxsim::DeviceSetup device = Boot("4301", std::get<1>(GetParam()), kSmallProcessor);
    device.Faults = c.faults;
    device.UnplugAfterParts = c.unplugAfterParts;
    sim.Add(device);
    OpenWithImage(ImageFile(std::vector<uint8_t>(1024, 0x71)), [&](TMainForm& f) {
        KeepRecords(f);
        f.cbStartApp->setChecked(c.startApplication);
    });
    if (c.openFails) sim.Set("4301", [](gxsim::DeviceSetup& d) { d.OpenFails = true; });
    sim.ClearJournal("4301");
    // Nothing in this process listens for the simulator's device-change message, so no pass runs
    // meanwhile: a device that unplugs itself is never found gone, and its session ends by the
    // failed exchange, not by a stop request.
    Write(4301);
    ASSERT_NE(Device(4301), nullptr);

    const std::vector<QJsonObject> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].value("result").toInt(-1), c.code);
    EXPECT_EQ(records[0].value("last_status").toInt(-1), c.lastStatus);
    EXPECT_EQ(Status(4301), QString::fromUtf8(c.panel));
    EXPECT_EQ(StatusColour(4301), c.code == 0 ? kGreen : kRed);
    // The verdict's line: the lock message wins whatever the code.
    const QString verdict =
        c.code == 0 ? QStringLiteral("(t)Firmware is successfully loaded")
        : c.lastStatus == STATUS_DEVICE_LOCKED
            ? QStringLiteral("Device settings are protected")
            : QStringLiteral(
                  "(t)Error %1 of firmware updating. Last response code of the device %2")
                  .arg(c.code)
                  .arg(c.lastStatus);
    EXPECT_EQ(MaskTimes(LinesOf(4301)).last(), verdict);
    EXPECT_EQ(LinesOf(4301).contains(QStringLiteral("Sending command to application starting")),
              c.code == 0 && c.startApplication);

    EXPECT_EQ(Commands("4301"), c.commands);
    // However it ended, the session closed the device last (a refused open leaves nothing open).
    const std::vector<gxsim::JournalEntry> journal = sim.Journal("4301");
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().Kind, c.openFails ? "open_refused" : "close") << journal.back().Line;
}

// Without a fault the device receives: erase 0, part 0, erase 1, part 1, finish. A split reply
// comes as 7 bytes, then the other 7 400 ms later: the repeat waits for that rest and drops it,
// and then its own reply comes split again, three times over.
const FaultCase kFaultCases[] = {
    {.name = "SilentErase",
     .faults = {"silent cmd=6 sector=0"},
     .code = kWriteEraseFailed,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kErase, kErase, kAbort}},
    {.name = "EraseAnsweredAtTheSecondAttempt",
     .faults = {"silent cmd=6 sector=0 attempt=1"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kErase, kPart, kErase, kPart, kFinish}},
    {.name = "ShortEraseReplies",
     .faults = {"short:13 cmd=6 sector=1"},
     .code = kWriteEraseFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kPart, kErase, kErase, kErase, kAbort}},
    {.name = "SplitEraseReply",
     .faults = {"split:7:400 cmd=6 sector=0"},
     .code = kWriteEraseFailed,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kErase, kErase, kAbort}},
    {.name = "EraseEchoesAnotherSector",
     .faults = {"wrong_sector cmd=6 sector=1"},
     .code = kWriteEraseFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kPart, kErase, kAbort}},
    {.name = "EraseRefused",
     .faults = {"status:130 cmd=6"},
     .code = kWriteEraseFailed,
     .lastStatus = 130,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kAbort}},
    {.name = "SilentPart",
     .faults = {"silent cmd=7 sector=1"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kErase, kPart, kPart, kPart, kAbort}},
    {.name = "ShortPartReplies",
     .faults = {"short:13 cmd=7 sector=1"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kErase, kPart, kPart, kPart, kAbort}},
    {.name = "OneShortPartReply",
     .faults = {"short:13 cmd=7 attempt=1"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kPart, kErase, kPart, kPart, kFinish}},
    {.name = "SplitPartReply",
     .faults = {"split:7:400 cmd=7 sector=1"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kErase, kPart, kPart, kPart, kAbort}},
    {.name = "PartEchoesAnotherAddress",
     .faults = {"wrong_address cmd=7"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kAbort}},
    {.name = "PartOtherStatus",
     .faults = {"status:129 cmd=7 sector=1"},
     .code = kWritePartFailed,
     .lastStatus = 129,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kErase, kPart, kAbort}},
    {.name = "PartLocked",
     .faults = {"status:138 cmd=7"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_DEVICE_LOCKED,
     .panel = "Device is locked",
     .commands = {kErase, kPart, kAbort}},
    {.name = "WrongPacketLength",
     .faults = {"packet_length:20 cmd=7"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kAbort}},
    {.name = "BadReplyChecksum",
     .faults = {"bad_checksum"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish}},
    // The driver refuses every write of a part: the device gets none of them.
    {.name = "FailingWrites",
     .faults = {"write_fail cmd=7"},
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kAbort}},
    {.name = "OneFailingWrite",
     .faults = {"write_fail cmd=7 attempt=1"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish}},
    {.name = "SplitControlReply",
     .faults = {"split:7 cmd=11"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish}},
    {.name = "SilentFinish",
     .faults = {"silent cmd=11"},
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish}},
    // The reply to the abort is not examined, and an abort that never arrives changes nothing.
    {.name = "SilentAbort",
     .faults = {"status:130 cmd=6 sector=1", "silent cmd=12"},
     .code = kWriteEraseFailed,
     .lastStatus = 130,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kPart, kErase, kAbort}},
    {.name = "AbortNotWritten",
     .faults = {"status:130 cmd=6 sector=1", "write_fail cmd=12"},
     .code = kWriteEraseFailed,
     .lastStatus = 130,
     .panel = "Error 5 of firmware updating",
     .commands = {kErase, kPart, kErase}},
    // The start command follows whatever became of the finish command, and its own reply is not
    // examined either.
    {.name = "SilentStartApplication",
     .faults = {"silent cmd=13"},
     .startApplication = true,
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish, kStart}},
    {.name = "StartApplicationRefused",
     .faults = {"status:130 cmd=13"},
     .startApplication = true,
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kFinish, kStart}},
    {.name = "StartApplicationAfterAnUnwrittenFinish",
     .faults = {"write_fail cmd=11"},
     .startApplication = true,
     .lastStatus = STATUS_ACCEPTED,
     .commands = {kErase, kPart, kErase, kPart, kStart}},
    // The device vanishes when its second part arrives: every attempt of that part finds it gone,
    // the part fails (code 6), and the abort cannot be sent. Were a pass to notice the unplug
    // while an FTDI read still waited, the stop would end the session with code 2 instead.
    {.name = "UnpluggedAfterAPart",
     .unplugAfterParts = 1,
     .code = kWritePartFailed,
     .lastStatus = STATUS_ACCEPTED,
     .panel = "Error 6 of firmware updating",
     .commands = {kErase, kPart, kErase}},
    {.name = "OpenFails",
     .openFails = true,
     .code = kWriteOpenFailed,
     .panel = "Error 7 of firmware updating",
     .commands = {}},
};

INSTANTIATE_TEST_SUITE_P(Rules, Faults,
                         testing::Combine(testing::ValuesIn(kFaultCases),
                                          testing::Values(Driver::Ftdi, Driver::Vendor)),
                         [](const testing::TestParamInfo<std::tuple<FaultCase, Driver>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    gxsim::DriverName(std::get<1>(info.param));
                         });

// ---- Closing the window while sessions run ----

TEST_F(WriteSession, ClosingTheWindowAbortsEverySessionBeforeAnyRecordGoes)
{
    // Four sessions when the window closes: 4401 waits in its progress hand-over, 4403 in
    // whichever hand-over it has reached, and 4402 (FTDI) and 4404 (vendor library) in their
    // first part, for devices that have gone silent and answer not even the abort.
    const std::vector<std::string> all = {"4401", "4402", "4403", "4404"};
    const std::vector<std::string> silent = {"4402", "4404"};
    for (const std::string& serial : all) {
        gxsim::DeviceSetup device =
            Boot(serial, serial == "4401" || serial == "4402" ? Driver::Ftdi : Driver::Vendor);
        if (std::count(silent.begin(), silent.end(), serial))
            device.Faults = {"silent cmd=7", "silent cmd=12"};
        sim.Add(device);
    }
    // Two sectors of 4 KB, 16 parts: every part moves the progress bar.
    OpenWithImage(ImageFile(std::vector<uint8_t>(8192, 0x77)),
                  [&](TMainForm& f) { KeepRecords(f); });
    for (const std::string& serial : all) sim.ClearJournal(serial);

    const auto parts = [&](std::string_view serial) { return Count(serial, CMD_WRITE_PART_V2); };
    // Every session waits for the window thread, or for its silent device.
    const auto held = [&] {
        const auto waitingForDevice = std::count_if(
            silent.begin(), silent.end(), [&](const std::string& s) { return parts(s) > 0; });
        return PendingWindowThreadCalls() + static_cast<size_t>(waitingForDevice) == all.size();
    };
    // From the presses on, the window thread serves the sessions in rounds only: a round lets
    // each waiting session go on to its next hand-over, and the next round begins once all are
    // held again. All four take the same steps, so the silent devices get their first part in
    // the round in which 4401 sends its own; 4401 then waits in the hand-over that follows a
    // part, the progress update, until the window closes.
    for (const std::string& serial : all) Device(std::stoi(serial))->Panel->UpdateButton->click();
    bool partSent = false;
    for (int round = 0; round < 50 && !partSent; ++round) {
        ASSERT_TRUE(WaitUnserved(held))
            << "round " << round << ": " << PendingWindowThreadCalls() << " calls waiting";
        partSent = parts("4401") > 0;
        if (!partSent) ServeWindowThreadCalls(form.get());
    }
    ASSERT_TRUE(partSent);
    EXPECT_EQ(parts("4401"), 1);
    EXPECT_EQ(Device(4401)->Panel->Progress->value(), 0);  // its update has not been served
    for (const std::string& serial : silent) EXPECT_EQ(parts(serial), 1) << serial;

    QElapsedTimer closing;
    closing.start();
    form.reset();
    // Expected: about a second. The stop ends the FTDI reads at once; a vendor read cannot be cut
    // short, so the close waits for the rest of 4404's unanswered part (500 ms at most) and for
    // its unanswered abort (500 ms). The bound only guards against a hang.
    EXPECT_LT(closing.elapsed(), 10000);

    for (const std::string& serial : all) {
        const std::vector<gxsim::JournalEntry> journal = sim.Journal(serial);
        // The abort is the last packet; after it the channel's close (FTDI resets the chip
        // first), and nothing after the close.
        const auto abort =
            std::find_if(journal.rbegin(), journal.rend(),
                         [](const gxsim::JournalEntry& e) { return e.Kind == "packet"; });
        ASSERT_NE(abort, journal.rend()) << serial;
        EXPECT_EQ(abort->Command(), CMD_ABORT) << serial;
        std::vector<std::string> after;
        for (auto e = abort.base(); e != journal.end(); ++e) after.push_back(e->Kind);
        const std::vector<std::string> closing = sim.Device(serial).Kind == Driver::Ftdi
                                                     ? std::vector<std::string>{"reset", "close"}
                                                     : std::vector<std::string>{"close"};
        EXPECT_EQ(after, closing) << serial;
        EXPECT_EQ(Count(serial, CMD_FINISH), 0) << serial;
    }
    // The silent parts were not asked again: each stop came within the first attempt.
    for (const std::string& serial : silent) EXPECT_EQ(parts(serial), 1) << serial;
    // Every session ended by the stop, and its end was handled by the closing window.
    std::map<int, int> results;
    for (const QJsonObject& record : Records())
        results[record.value("serial").toInt()] = record.value("result").toInt(-1);
    EXPECT_EQ(results, (std::map<int, int>{{4401, kWriteStopped},
                                           {4402, kWriteStopped},
                                           {4403, kWriteStopped},
                                           {4404, kWriteStopped}}));
}
}  // namespace
