// The loader as a process: single instance per user, silent second copy, SIGTERM closing it.

#include "platform/OutsideMessages.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <signal.h>

namespace {
class LoaderProcess : public testing::Test {
protected:
    LoaderSandbox sandbox;

    void Start(QProcess& p, const QString& runtimeDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(sandbox.exeDir.path());
        p.start(sandbox.exePath, {});
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
    // It waited for the lock before giving up (the upper bound is left to the benchmarks).
    EXPECT_GE(clock.elapsed(), 450);

    EXPECT_EQ(first.state(), QProcess::Running);
    Terminate(first);
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
}  // namespace
