// The loader as a process, closed by SIGTERM when its settings cannot be written: a close that
// nobody can answer waits for nobody, says why on standard error (and in the log file when it is
// on) and ends with exit code 0.

#include "app/LogFile.h"
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

    QString Ini() const { return sandbox.exeDir.filePath(QStringLiteral("GXFWLoader.ini")); }
    QString LogFile() const
    {
        return DailyLogPath(sandbox.exeDir.path() + QLatin1Char('/'), QDateTime::currentDateTime());
    }
    QString LogText() const
    {
        QFile f(LogFile());
        if (!f.open(QIODevice::ReadOnly)) return QString();
        const QByteArray bytes = f.readAll();
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2);
    }
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
        QFile ini(Ini());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // English, and the log file on (seventh number).
        ini.write("[COMMON]\nLanguage=English\nMainForm=0,0,680,456,0,165,1,0\n");
    }
    QProcess loader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();  // GXSIM_DIR included
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    loader.setProcessEnvironment(env);
    loader.setWorkingDirectory(sandbox.exeDir.path());
    loader.start(sandbox.exePath, {});
    ASSERT_TRUE(loader.waitForStarted(10000));
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
