// The loader as a process: single instance per user, silent second copy, an instance lock that
// cannot be made, SIGTERM closing it, and its message socket under a small descriptor limit.

#include "platform/OutsideMessages.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <signal.h>

namespace {
const QString kLockName = QStringLiteral("GXUSBFirmwareLoaderBaseMutex.lock");

class LoaderProcess : public testing::Test {
protected:
    LoaderSandbox sandbox;

    // Starts program (the loader's copy unless given) with the loader's own arguments, in the
    // copy's folder, with its runtime folder and extra variables ("NAME=value").
    void Start(QProcess& p, const QString& runtimeDir, const QStringList& extraEnvironment = {},
               const QString& program = {}, const QStringList& arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QString& pair : extraEnvironment) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            env.insert(pair.left(eq), pair.mid(eq + 1));
        }
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(sandbox.exeDir.path());
        p.start(program.isEmpty() ? sandbox.exePath : program, arguments);
        ASSERT_TRUE(p.waitForStarted(10000));
    }

    // The running copy listens once its window exists.
    bool WaitUntilListening(const QString& runtimeDir)
    {
        return WaitFor([&] { return QFile::exists(OutsideMessageSocketPath(runtimeDir)); }, 20000);
    }

    void Terminate(QProcess& p)
    {
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }

    // English, with the daily log file on (left,top,width,height,autoUpdate,logHeight,logFile,
    // startApp).
    void TurnLogFileOn()
    {
        QFile ini(sandbox.exeDir.filePath(QStringLiteral("GXFWLoader.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[COMMON]\nLanguage=English\nMainForm=0,0,680,456,0,165,1,0\n");
    }
    QString LogFolder() const { return sandbox.exeDir.filePath(QStringLiteral("Logs")); }
    QString LogText() const { return ReadDailyLogs(LogFolder()); }
};

TEST_F(LoaderProcess, SecondCopyEndsSilentlyWithCodeZero)
{
    QProcess first;
    Start(first, sandbox.runtime.path());
    ASSERT_TRUE(WaitUntilListening(sandbox.runtime.path()));

    QProcess second;
    QElapsedTimer clock;
    clock.start();
    Start(second, sandbox.runtime.path());
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(QString::fromLocal8Bit(second.readAllStandardError()), QString());
    // It waited for the lock before giving up (the upper bound is left to the benchmarks).
    EXPECT_GE(clock.elapsed(), 450);

    EXPECT_EQ(first.state(), QProcess::Running);
    Terminate(first);
}

// A lock that cannot be made is not another running copy: the copy still ends with code 0 and no
// window, but says on standard error which file and why.
struct LockCase {
    const char* name;
    // Makes the obstacle under base; returns the runtime folder the copy is given.
    QString (*prepare)(const QString& base);
    const char* reason;  // the system's text for the failure, as strerror gives it
};

void PrintTo(const LockCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnmakeableLock : public LoaderProcess, public testing::WithParamInterface<LockCase> {};

TEST_P(UnmakeableLock, EndsWithCodeZeroAndOneLineNamingTheFileAndTheReason)
{
    TurnLogFileOn();
    const QString runtimeDir = GetParam().prepare(sandbox.runtime.path());
    ASSERT_FALSE(runtimeDir.isEmpty());
    const QString lockPath = QDir(runtimeDir).filePath(kLockName);

    QProcess p;
    Start(p, runtimeDir);
    ASSERT_TRUE(p.waitForFinished(20000)) << "the copy ran on";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardError()),
              QStringLiteral("GXFWLoader: cannot create the instance lock %1: %2\n")
                  .arg(lockPath, QString::fromLatin1(GetParam().reason)));
    // With the log file on, a window that had been made would have written its first lines.
    EXPECT_FALSE(QFile::exists(LogFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, UnmakeableLock,
    testing::Values(
        // Root passes permission bits, so the obstacles are of the kind nobody passes.
        LockCase{"RuntimeFolderUnderARegularFile",
                 [](const QString& base) {
                     QFile file(QDir(base).filePath(QStringLiteral("plain")));
                     if (!file.open(QIODevice::WriteOnly)) return QString();
                     return QDir(base).filePath(QStringLiteral("plain/run"));
                 },
                 "Not a directory"},
        LockCase{"LockPathIsAFolder",
                 [](const QString& base) {
                     if (!QDir(base).mkdir(kLockName)) return QString();
                     return base;
                 },
                 "Is a directory"}),
    [](const testing::TestParamInfo<LockCase>& info) { return std::string(info.param.name); });

TEST_F(LoaderProcess, MissingRuntimeFolderIsMadeForTheOwnerOnly)
{
    const QString runtimeDir = sandbox.runtime.filePath(QStringLiteral("made/run"));
    QProcess p;
    Start(p, runtimeDir);
    ASSERT_TRUE(WaitUntilListening(runtimeDir));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(runtimeDir) & others, QFileDevice::Permissions());
    Terminate(p);
}

TEST_F(LoaderProcess, CopiesWithTheirOwnRuntimeFoldersRunSideBySide)
{
    QTemporaryDir otherRuntime;
    LoaderSandbox other;
    QProcess a, b;
    Start(a, sandbox.runtime.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), otherRuntime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    b.setProcessEnvironment(env);
    b.start(other.exePath, {});
    ASSERT_TRUE(b.waitForStarted(10000));
    ASSERT_TRUE(WaitUntilListening(sandbox.runtime.path()));
    ASSERT_TRUE(WaitUntilListening(otherRuntime.path()));
    EXPECT_EQ(a.state(), QProcess::Running);
    EXPECT_EQ(b.state(), QProcess::Running);
    Terminate(a);
    Terminate(b);
}

TEST_F(LoaderProcess, SigtermClosesTheWindowAndExitsWithZero)
{
    QProcess p;
    Start(p, sandbox.runtime.path());
    ASSERT_TRUE(WaitUntilListening(sandbox.runtime.path()));
    Terminate(p);
    // The lock went with it: a new copy starts and runs.
    QProcess next;
    Start(next, sandbox.runtime.path());
    ASSERT_TRUE(WaitUntilListening(sandbox.runtime.path()));
    EXPECT_EQ(next.state(), QProcess::Running);
    Terminate(next);
}

// Idle clients must not use up the loader's descriptors: where udev is absent the socket is the
// only way it learns of a new device. Run under 64 descriptors, on the simulated libraries.
TEST_F(LoaderProcess, ManyIdleClientsUnderALowDescriptorLimitLeaveDeviceNewsArriving)
{
    SimSandbox sim;
    TurnLogFileOn();
    const QString runtimeDir = sandbox.runtime.path();
    QProcess loader;
    Start(loader, runtimeDir,
          {QStringLiteral("LD_LIBRARY_PATH=" GX_SIM_LIB_DIR),
           QStringLiteral("GXSIM_DIR=") + sim.Path()},
          QStringLiteral("/bin/sh"),
          {QStringLiteral("-c"), QStringLiteral("ulimit -n 64 && exec \"$0\" \"$@\""),
           sandbox.exePath});
    ASSERT_TRUE(WaitUntilListening(runtimeDir));
    // The window is up once the show sequence has logged where the firmware came from.
    ASSERT_TRUE(
        WaitFor([&] { return LogText().contains(QStringLiteral("Firmware is loaded")); }, 20000));

    // More idle clients than the loader has descriptors left; each stays open on this side.
    constexpr int kIdleClients = 80;
    int connected = 0;
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < kIdleClients; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        QObject::connect(idle.back().get(), &QLocalSocket::connected,
                         [&connected] { ++connected; });
        idle.back()->connectToServer(OutsideMessageSocketPath(runtimeDir));
    }
    EXPECT_TRUE(WaitFor([&] { return connected == kIdleClients; }, 30000))
        << connected << " of " << kIdleClients << " clients connected";

    sim.Add(SimDevice("7001", gxsim::Driver::Ftdi));
    ASSERT_TRUE(WaitFor(
        [&] { return SendOutsideMessage(runtimeDir, kDeviceChangeMessage, kDevNodesChanged); },
        20000))
        << "the loader no longer takes messages";
    EXPECT_TRUE(WaitFor(
        [&] { return LogText().contains(QStringLiteral("Device    7001\tDevice connected")); },
        30000))
        << LogText().toStdString();
    // It keeps no more of the crowd than its cap.
    const auto stillOpen = std::count_if(idle.begin(), idle.end(), [](const auto& client) {
        return client->state() == QLocalSocket::ConnectedState;
    });
    EXPECT_LE(stillOpen, OutsideClientLimits{}.maxClients);

    EXPECT_EQ(loader.state(), QProcess::Running);
    Terminate(loader);
}
}  // namespace
