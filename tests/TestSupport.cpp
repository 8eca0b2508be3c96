#include "tests/TestSupport.h"

#include "app/MainForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

QStringList LogLines(const TMainForm& form)
{
    QStringList lines = form.reLog->toPlainText().split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool WaitUnserved(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(2);
    }
    return true;
}

bool RunningAsRoot()
{
    return geteuid() == 0;
}

void StartAsNobody(QProcess& process)
{
    process.setChildProcessModifier([] {
        constexpr uid_t kNobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(kCannotBecomeNobody);
    });
}

void RerunCurrentTestAsNobody()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(
        {QStringLiteral("--gtest_filter=%1.%2")
             .arg(QString::fromUtf8(info->test_suite_name()), QString::fromUtf8(info->name()))});
    child.setProcessChannelMode(QProcess::MergedChannels);
    StartAsNobody(child);
    child.start();
    if (!child.waitForFinished(60000)) GTEST_SKIP() << "could not run as nobody";
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (child.exitCode() == kCannotBecomeNobody) GTEST_SKIP() << "could not become nobody";
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

LoaderSandbox::LoaderSandbox()
{
    exePath = exeDir.filePath(QStringLiteral("GXFWLoader"));
    QFile::copy(QStringLiteral(GX_LOADER_PATH), exePath);
    QFile::setPermissions(exePath, QFile::permissions(exePath) | QFile::ExeOwner);
}

void LoaderSandbox::WriteSettings(const QByteArray& text) const
{
    QFile ini(Settings());
    if (ini.open(QIODevice::WriteOnly)) ini.write(text);
}

void StartLoader(QProcess& process, const LoaderSandbox& sandbox, const QStringList& arguments,
                 const QStringList& extraEnvironment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Never the user's own folders, whatever the copy decides.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox.home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), sandbox.home.filePath(QStringLiteral("state")));
    for (const QString& pair : extraEnvironment) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(sandbox.exeDir.path());
    process.start(sandbox.exePath, arguments);
    process.waitForStarted(10000);
}

QString ReadDailyLogs(const QString& logsFolder)
{
    QString text;
    const QDir logs(logsFolder);
    for (const QString& name : logs.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        QByteArray bytes = file.readAll();
        if (bytes.startsWith("\xFF\xFE")) bytes.remove(0, 2);
        // UTF-16LE units, whatever the host's byte order.
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            text += QChar(static_cast<char16_t>(static_cast<uchar>(bytes[i]) |
                                                static_cast<uchar>(bytes[i + 1]) << 8));
    }
    return text;
}
