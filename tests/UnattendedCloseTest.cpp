// The loader as a process, closed by SIGTERM when its settings cannot be written: a close that
// nobody can answer waits for nobody, says why on standard error (and in the log file when it is
// on) and ends with exit code 0.

#include "platform/OutsideMessages.h"
#include "tests/SimSupport.h"
#include "tests/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>

namespace {
struct UnwritableCase {
    const char* name;
    bool fromTheStart;  // refused at show time already (a message box would be up then)
};

class UnattendedClose : public testing::TestWithParam<UnwritableCase> {
protected:
    SimSandbox sim;  // the simulated driver libraries, so the show sequence needs no box
    LoaderSandbox sandbox;

    QString Ini() const { return sandbox.Settings(); }
    QString LogText() const { return ReadDailyLogs(sandbox.Logs()); }
    void MakeIniAFolder()
    {
        QFile::remove(Ini());
        ASSERT_TRUE(QDir(sandbox.exeDir.path()).mkdir(QStringLiteral("GXFWLoader.ini")));
    }
};

TEST_P(UnattendedClose, ExitsWithZeroAndReportsTheRefusedWriteOnStandardError)
{
    if (GetParam().fromTheStart) {
        MakeIniAFolder();
    } else {
        // English, and the log file on (seventh number).
        sandbox.WriteSettings("[COMMON]\nLanguage=English\nMainForm=0,0,680,456,0,165,1,0\n");
    }
    QProcess loader;
    StartLoader(loader, sandbox);  // the test's GXSIM_DIR and library path included
    ASSERT_EQ(loader.state(), QProcess::Running);
    ASSERT_TRUE(WaitFor(
        [&] { return QFile::exists(OutsideMessageSocketPath(sandbox.runtime.path())); }, 20000));
    if (GetParam().fromTheStart) {
        QThread::msleep(500);  // the show sequence's error box is up by now, or about to be
    } else {
        // The show sequence has run once the firmware lines are in the log file.
        ASSERT_TRUE(
            WaitFor([&] { return LogText().contains(QStringLiteral("GXST-1.44")); }, 20000));
        MakeIniAFolder();
    }

    ::kill(static_cast<pid_t>(loader.processId()), SIGTERM);
    ASSERT_TRUE(loader.waitForFinished(20000)) << "the close waited for somebody";
    EXPECT_EQ(loader.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(loader.exitCode(), 0);
    const QString expected = QStringLiteral("Unable to write to ") + Ini();
    const QString errors = QString::fromLocal8Bit(loader.readAllStandardError());
    EXPECT_TRUE(errors.contains(expected)) << errors.toStdString();
    if (!GetParam().fromTheStart) {
        EXPECT_TRUE(LogText().contains(QStringLiteral("Device -------\t") + expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, UnattendedClose,
                         testing::Values(UnwritableCase{"RefusedAtClose", false},
                                         UnwritableCase{"RefusedFromTheStart", true}),
                         [](const testing::TestParamInfo<UnwritableCase>& info) {
                             return std::string(info.param.name);
                         });
}  // namespace
