#include "tests/TestSupport.h"

#include "app/MainForm.h"

#include <QCoreApplication>
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

LoaderSandbox::LoaderSandbox()
{
    exePath = exeDir.filePath(QStringLiteral("GXFWLoader"));
    QFile::copy(QStringLiteral(GX_LOADER_PATH), exePath);
    QFile::setPermissions(exePath, QFile::permissions(exePath) | QFile::ExeOwner);
}
