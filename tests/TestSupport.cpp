#include "tests/TestSupport.h"

#include "app/MainForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

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
