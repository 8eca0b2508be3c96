// The real loader, from outside the process: a copy of the executable in a folder of its own,
// the simulated driver libraries on its library path, a prepared settings file and its own
// runtime folder. What counts is what a technician sees and keeps: the daily log file, the
// session records, the settings file after exit, the devices' flash and journals.

#include "app/IniFile.h"
#include "firmware/ImagePacking.h"
#include "platform/OutsideMessages.h"
#include "sessions/BootProtocol.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

#include <signal.h>

namespace {
using gxsim::Driver;
using gxsim::Mode;

// Settings: English, the window at the top left, then "Update automatically", the log height,
// "Write log file" and "Start application".
QByteArray Settings(bool autoWrite, const char* extra = "")
{
    return QByteArray("[COMMON]\nLanguage=English\nMainForm=0,0,680,456,") +
           (autoWrite ? "1" : "0") + ",165,1,0\n" + extra;
}

class EndToEnd : public testing::Test {
protected:
    SimSandbox sim;
    LoaderSandbox sandbox;
    QTemporaryDir files;
    QProcess loader;

    void TearDown() override
    {
        if (loader.state() != QProcess::NotRunning) {
            loader.kill();
            loader.waitForFinished(10000);
        }
    }

    // Starts the copy; libraries: the folder the driver libraries are found in.
    void Start(const QStringList& arguments = {}, const QString& libraries = QString())
    {
        StartLoader(loader, sandbox, arguments,
                    {QStringLiteral("LD_LIBRARY_PATH=") +
                         (libraries.isEmpty() ? QStringLiteral(GX_SIM_LIB_DIR) : libraries),
                     QStringLiteral("GXSIM_DIR=") + sim.Path()});
        ASSERT_EQ(loader.state(), QProcess::Running);
    }
    // SIGTERM, and the close the loader makes of it; the milliseconds it took.
    qint64 Terminate()
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(loader.processId()), SIGTERM);
        EXPECT_TRUE(loader.waitForFinished(30000)) << "the close did not end";
        // What the copy said on its way out (a sanitizer's report, say) explains a bad exit.
        const std::string said = loader.readAllStandardError().toStdString();
        EXPECT_EQ(loader.exitStatus(), QProcess::NormalExit) << said;
        EXPECT_EQ(loader.exitCode(), 0) << said;
        return clock.elapsed();
    }
    // The log file's lines without their time stamps; the Logs folder beside the copy unless
    // another is given.
    QStringList Log(const QString& logs = QString()) const
    {
        QStringList lines;
        const QString folder = logs.isEmpty() ? sandbox.Logs() : logs;
        for (QString line : ReadDailyLogs(folder).split(QStringLiteral("\r\n"))) {
            const qsizetype tab = line.indexOf(QStringLiteral("]\t"));
            if (line.startsWith(QLatin1Char('[')) && tab > 0) lines << line.mid(tab + 2);
        }
        return lines;
    }
    bool WaitForLog(const QString& line, int timeoutMs = 30000)
    {
        return WaitFor([&] { return Log().contains(line); }, timeoutMs);
    }
    int CountInLog(const QString& part) const
    {
        return static_cast<int>(Log().filter(part).size());
    }
    // The session records of the run, one JSON object each.
    std::vector<QJsonObject> Records() const
    {
        std::vector<QJsonObject> records;
        const QDir logs(sandbox.Logs());
        for (const QString& name :
             logs.entryList({QStringLiteral("*.sessions.jsonl")}, QDir::Files)) {
            QFile f(logs.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) continue;
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty()) records.push_back(QJsonDocument::fromJson(line).object());
        }
        return records;
    }
    std::vector<int> Commands(std::string_view serial) const { return sim.Commands(serial); }
    int CountCommand(std::string_view serial, int command) const
    {
        const std::vector<int> all = Commands(serial);
        return static_cast<int>(std::count(all.begin(), all.end(), command));
    }
    bool FlashHolds(std::string_view serial, uint32_t at, const std::vector<uint8_t>& bytes) const
    {
        const std::vector<uint8_t> flash = sim.Flash(serial);
        return flash.size() >= at + bytes.size() &&
               std::equal(bytes.begin(), bytes.end(), flash.begin() + at);
    }
    QString Read(const char* section, const char* key, const QString& file = QString()) const
    {
        return IniFile(file.isEmpty() ? sandbox.Settings() : file)
            .ReadString(QString::fromLatin1(section), QString::fromLatin1(key),
                        QStringLiteral("<none>"));
    }
    static gxsim::DeviceSetup Boot(std::string serial, Driver driver, uint32_t processor)
    {
        gxsim::DeviceSetup d = SimDevice(std::move(serial), driver);
        d.ProcessorId = processor;
        return d;
    }
};

TEST_F(EndToEnd, EmbeddedModeWithNoDevices)
{
    sandbox.WriteSettings(
        Settings(false, "LastFile=/somewhere/old.eraw\n[FILES]\n0=/somewhere/old.eraw\n"));
    Start();
    ASSERT_TRUE(WaitForLog(Line("Device -------\tDate of compilation \"27-07-2015 11:24:18\"")));
    EXPECT_EQ(Log().mid(0, 3),
              QStringList({Line("Device -------\tFirmware is loaded from resources"),
                           Line("Device -------\tFirmware version \"GXST-1.44\""),
                           Line("Device -------\tDate of compilation \"27-07-2015 11:24:18\"")}));
    Terminate();
    EXPECT_EQ(CountInLog(QStringLiteral("Device connected")), 0);
    EXPECT_EQ(Log().size(), 3);  // both libraries bound, nothing else to say
    // At exit: the placement and options, no last file in embedded mode, recent files kept.
    EXPECT_EQ(Read("COMMON", "MainForm").split(QLatin1Char(',')).size(), 8);
    EXPECT_EQ(Read("COMMON", "MainForm").section(QLatin1Char(','), 6, 6), QStringLiteral("1"));
    EXPECT_EQ(Read("COMMON", "LastFile"), QString());
    EXPECT_EQ(Read("FILES", "0"), QStringLiteral("/somewhere/old.eraw"));
    EXPECT_EQ(Read("COMMON", "Language"), QStringLiteral("English"));
    // A folder the user may write keeps everything beside the executable.
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(sandbox.UserSettings()).path()));
    EXPECT_FALSE(QFileInfo::exists(sandbox.UserLogs()));
}

// An installed loader: the user may not write the executable's folder, so the settings and the
// logs live in the user's own folders, and nothing is written beside the executable.
TEST_F(EndToEnd, AnInstalledLoaderKeepsItsSettingsAndLogsInTheUsersFolders)
{
    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                    QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const QFile::Permissions readOnly =
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(sandbox.UserSettings()).path()));
    {
        QFile ini(sandbox.UserSettings());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(Settings(false));
    }
    // Root writes anywhere: as root the copy runs as "nobody", in folders opened to it.
    const bool asNobody = RunningAsRoot();
    if (asNobody) {
        for (const QString& folder :
             {sandbox.runtime.path(), sandbox.home.path(), sandbox.home.filePath("config"),
              QFileInfo(sandbox.UserSettings()).path(), sim.Path()})
            ASSERT_TRUE(QFile::setPermissions(folder, open)) << folder.toStdString();
        ASSERT_TRUE(QFile::setPermissions(sandbox.UserSettings(), open));
        StartAsNobody(loader);
    }
    ASSERT_TRUE(QFile::setPermissions(sandbox.exeDir.path(), readOnly));
    Start();
    const bool ran = WaitFor(
        [&] {
            return loader.state() != QProcess::Running ||
                   Log(sandbox.UserLogs())
                       .contains(
                           Line("Device -------\tDate of compilation \"27-07-2015 11:24:18\""));
        },
        30000);
    if (asNobody && loader.exitCode() == kCannotBecomeNobody) GTEST_SKIP() << "no user nobody";
    ASSERT_TRUE(ran && loader.state() == QProcess::Running)
        << loader.readAllStandardError().toStdString();
    Terminate();
    QFile::setPermissions(sandbox.exeDir.path(), open);

    EXPECT_EQ(Log(sandbox.UserLogs()).value(1),
              Line("Device -------\tFirmware version \"GXST-1.44\""));
    EXPECT_EQ(Read("COMMON", "Language", sandbox.UserSettings()), QStringLiteral("English"));
    EXPECT_EQ(Read("COMMON", "MainForm", sandbox.UserSettings()).split(QLatin1Char(',')).size(),
              8);  // written at exit
    EXPECT_EQ(QDir(sandbox.exeDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("GXFWLoader")}));
}

TEST_F(EndToEnd, AnImageFileNamedOnTheCommandLineIsTheOneWritten)
{
    sim.Add(Boot("8101", Driver::Ftdi, 0x26013F37));
    const std::vector<uint8_t> payload = PlaceholderPayload(5000);
    const QString image = files.filePath(QStringLiteral("GXST-1.50.eraw"));
    {
        const std::vector<uint8_t> bytes =
            PackFirmwareImage(payload, "GXST-1.50", std::string_view("01.12.2026 10:00:00"));
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    sandbox.WriteSettings(Settings(true));
    Start({QStringLiteral("externfirmware"), image});
    ASSERT_TRUE(WaitFor([&] { return !Records().empty(); }, 60000));
    Terminate();
    EXPECT_EQ(Log().value(0),
              Line("Device -------\tFirmware is loaded from a file \"") + image + '"');
    EXPECT_EQ(Log().value(1), Line("Device -------\tFirmware version \"GXST-1.50\""));
    EXPECT_TRUE(FlashHolds("8101", 0xA000, payload));
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].value("image_source").toString(), image);
    EXPECT_EQ(Records()[0].value("result").toInt(), 0);
    // The file is remembered: the last used one and the first of the recent files.
    EXPECT_EQ(Read("COMMON", "LastFile"), image);
    EXPECT_EQ(Read("FILES", "0"), image);
}

TEST_F(EndToEnd, UpdateAutomaticallyWritesDevicesOfBothLibrariesAtOnce)
{
    // Different libraries and processors: 30 sectors of 4 and 32 KB from 0xA000, and 256 of 512
    // bytes from 0x4400 that the embedded image fills exactly.
    sim.Add(Boot("8201", Driver::Ftdi, 0x26013F37));
    sim.Add(Boot("8202", Driver::Vendor, 0x400FE000));
    sandbox.WriteSettings(Settings(true));
    Start();
    ASSERT_TRUE(WaitFor([&] { return Records().size() == 2; }, 90000))
        << Log().join('\n').toStdString();
    Terminate();

    const std::vector<uint8_t> payload = PlaceholderPayload(131072);
    EXPECT_TRUE(FlashHolds("8201", 0xA000, payload));
    EXPECT_TRUE(FlashHolds("8202", 0x4400, payload));
    for (const char* serial : {"8201", "8202"}) {
        EXPECT_EQ(Commands(serial).back(), CMD_FINISH) << serial;
        EXPECT_EQ(sim.Journal(serial).back().Kind, "close") << serial;
    }
    EXPECT_EQ(CountCommand("8202", CMD_WRITE_PART_V2), 256);
    // At once: the second session started before the first had finished.
    const QStringList log = Log();
    const qsizetype secondStart = log.indexOf(Line("Device    8202\tStarting firmware updating"));
    const auto firstDone = std::find_if(log.begin(), log.end(), [](const QString& l) {
        return l.startsWith(Line("Device    8201\t")) &&
               l.endsWith(QStringLiteral("Firmware is successfully loaded"));
    });
    ASSERT_GE(secondStart, 0);
    ASSERT_NE(firstDone, log.end());
    EXPECT_LT(secondStart, firstDone - log.begin());
    std::vector<QJsonObject> records = Records();
    std::sort(records.begin(), records.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a.value("serial").toInt() < b.value("serial").toInt();
    });
    EXPECT_EQ(records[0].value("driver").toString(), "ftdi");
    EXPECT_EQ(records[0].value("processor").toString(), "0x26013F37");
    EXPECT_EQ(records[0].value("parts_written").toInt(), 304);
    EXPECT_EQ(records[1].value("driver").toString(), "vendor");
    EXPECT_EQ(records[1].value("processor").toString(), "0x400FE000");
    EXPECT_EQ(records[1].value("parts_written").toInt(), 256);
    for (const QJsonObject& r : records) {
        EXPECT_EQ(r.value("result").toInt(), 0);
        EXPECT_EQ(r.value("image_source").toString(), "embedded");
        EXPECT_EQ(r.value("image_version").toString(), "GXST-1.44");
    }
}

TEST_F(EndToEnd, AnApplicationIsSwitchedToItsBootloaderAndWrittenOnceReplugged)
{
    gxsim::DeviceSetup app = Boot("8301", Driver::Ftdi, 0x26013F37);
    app.Current = app.NextMode = Mode::Application;
    app.Firmware = "GXST-1.40";
    sim.Add(app);
    sandbox.WriteSettings(Settings(true));
    Start();
    ASSERT_TRUE(WaitForLog(Line("Device    8301\tOperation mode - Firmware")));
    EXPECT_TRUE(
        Log().contains(Line("Device    8301\tLoader starting command processed. Disconnect device "
                            "and connect it again.")));
    EXPECT_TRUE(Records().empty());  // not written in its application
    // The technician plugs it in again; gxsim tells the loader, as the system would.
    ASSERT_EQ(RunGxsim({QStringLiteral("replug"), QStringLiteral("8301"), QStringLiteral("500")},
                       {QStringLiteral("GXSIM_DIR=") + sim.Path(),
                        QStringLiteral("XDG_RUNTIME_DIR=") + sandbox.runtime.path()}),
              0);
    ASSERT_TRUE(WaitFor([&] { return !Records().empty(); }, 60000))
        << Log().join('\n').toStdString();
    Terminate();
    const QStringList log = Log();
    const qsizetype gone = log.indexOf(Line("Device    8301\tDevice disconnected"));
    const qsizetype back = log.lastIndexOf(Line("Device    8301\tOperation mode - Bootloader"));
    ASSERT_GE(gone, 0);
    EXPECT_GT(back, gone);
    EXPECT_EQ(Records()[0].value("result").toInt(), 0);
    EXPECT_EQ(Records()[0].value("firmware_before").toString(), "GXST-1.40");
    EXPECT_TRUE(FlashHolds("8301", 0xA000, PlaceholderPayload(131072)));
}

TEST_F(EndToEnd, WithOnlyOneLibraryItsDevicesAreStillWritten)
{
    // A library folder with the FTDI stand-in alone.
    QTemporaryDir libraries;
    ASSERT_TRUE(QFile::copy(QStringLiteral(GX_SIM_LIB_DIR "/libftd2xx.so"),
                            libraries.filePath(QStringLiteral("libftd2xx.so"))));
    sim.Add(Boot("8401", Driver::Ftdi, 0x26013F37));
    sim.Add(Boot("8402", Driver::Vendor, 0x26013F37));
    sandbox.WriteSettings(Settings(true));
    Start({}, libraries.path());
    ASSERT_TRUE(WaitFor([&] { return !Records().empty(); }, 60000))
        << Log().join('\n').toStdString();
    Terminate();
    EXPECT_EQ(Log().value(3), Line("Device -------\tLumivarsk device driver is not installed"));
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].value("serial").toInt(), 8401);
    EXPECT_TRUE(sim.Journal("8402").empty());  // never looked for
}

TEST_F(EndToEnd, ASecondCopyEndsSilentlyAndLeavesTheFirstAlone)
{
    sim.Add(Boot("8501", Driver::Vendor, 0x26013F37));
    sandbox.WriteSettings(Settings(false));
    Start();
    ASSERT_TRUE(WaitForLog(Line("Device    8501\tOperation mode - Bootloader")));
    const QStringList before = Log();
    QProcess second;
    StartLoader(second, sandbox, {}, {QStringLiteral("LD_LIBRARY_PATH=" GX_SIM_LIB_DIR)});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(Log(), before);
    EXPECT_EQ(sim.Journal("8501", "open").size(), 1u);  // nobody else opened it
    EXPECT_EQ(loader.state(), QProcess::Running);
    Terminate();
}

TEST_F(EndToEnd, SigtermInTheMiddleOfWritesAbortsEveryDeviceAndSavesTheSettings)
{
    // One device writes slowly; another goes silent in mid-write.
    gxsim::DeviceSetup slow = Boot("8601", Driver::Ftdi, 0x26013F37);
    slow.Faults = {"delay:150 cmd=7"};
    sim.Add(slow);
    gxsim::DeviceSetup silent = Boot("8602", Driver::Ftdi, 0x26013F37);
    silent.Faults = {"silent cmd=7 sector=11"};
    sim.Add(silent);
    sandbox.WriteSettings(Settings(true, "Keep=me\n"));
    Start();
    const auto parts = [&](std::string_view serial) {
        return CountCommand(serial, CMD_WRITE_PART_V2);
    };
    ASSERT_TRUE(WaitFor([&] { return parts("8601") >= 5 && parts("8602") >= 9; }, 60000));
    const qint64 closeMs = Terminate();
    // Stopped within a device read or so, not after a sector's worth of time-outs.
    EXPECT_LT(closeMs, 10000);

    for (const char* serial : {"8601", "8602"}) {
        const std::vector<int> commands = Commands(serial);
        ASSERT_FALSE(commands.empty()) << serial;
        EXPECT_EQ(commands.back(), CMD_ABORT) << serial;
        EXPECT_EQ(CountCommand(serial, CMD_FINISH), 0) << serial;
        EXPECT_EQ(sim.Journal(serial).back().Kind, "close") << serial;
    }
    int silentPart = 0;  // the part that got no reply was not sent again
    for (const gxsim::JournalEntry& e : sim.Journal("8602", "packet"))
        if (e.Command() == CMD_WRITE_PART_V2 && e.Sector() == 11) ++silentPart;
    EXPECT_EQ(silentPart, 1);
    // The verdicts were logged and recorded on the way out, and the settings saved.
    EXPECT_EQ(CountInLog(QStringLiteral(")Error 2 of firmware updating")), 2);
    ASSERT_EQ(Records().size(), 2u);
    for (const QJsonObject& r : Records()) EXPECT_EQ(r.value("result").toInt(), 2);
    EXPECT_EQ(Read("COMMON", "LastFile"), QString());  // written at exit, where it was missing
    EXPECT_EQ(Read("COMMON", "Keep"), QStringLiteral("me"));
    EXPECT_EQ(Read("COMMON", "MainForm").section(QLatin1Char(','), 4, 4), QStringLiteral("1"));
}

// The close waits for every session; one that sits in a vendor library read waits as long as the
// library does. A second request to end does not: the process ends at once with exit code 1 and
// says which sessions still ran (they were asked to stop already).
TEST_F(EndToEnd, ASecondSigtermDuringTheCloseEndsAtOnceNamingTheRunningSessions)
{
    gxsim::DeviceSetup stuck = Boot("8701", Driver::Vendor, 0x26013F37);
    stuck.Faults = {"silent cmd=7 sector=11"};
    stuck.ReadWaitMs = 30000;  // one read the loader cannot cut short
    sim.Add(stuck);
    sandbox.WriteSettings(Settings(true));
    Start();
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const gxsim::JournalEntry& e : sim.Journal("8701", "packet"))
                if (e.Command() == CMD_WRITE_PART_V2 && e.Sector() == 11) return true;
            return false;
        },
        60000));
    const auto pid = static_cast<pid_t>(loader.processId());
    ::kill(pid, SIGTERM);
    // The close has begun and waits for the session's read.
    EXPECT_FALSE(loader.waitForFinished(1000));
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(loader.waitForFinished(15000)) << "the second request waited for the read";
    EXPECT_EQ(loader.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(loader.exitCode(), 1);
    const QString said = QString::fromLocal8Bit(loader.readAllStandardError());
    EXPECT_TRUE(said.contains(QStringLiteral("sessions still running: 8701")))
        << said.toStdString();
}
}  // namespace
