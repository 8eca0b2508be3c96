#include "tests/SimSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <cstdlib>

SimSandbox::SimSandbox() : folder_(dir_.path().toStdString())
{
    hadPrevious_ = qEnvironmentVariableIsSet(gxsim::kDirVariable);
    previous_ = qgetenv(gxsim::kDirVariable);
    qputenv(gxsim::kDirVariable, dir_.path().toLocal8Bit());
}

SimSandbox::~SimSandbox()
{
    if (hadPrevious_)
        qputenv(gxsim::kDirVariable, previous_);
    else
        qunsetenv(gxsim::kDirVariable);
}

int RunGxsim(const QStringList& arguments, const QStringList& environment, QString* output)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : environment) {
        const qsizetype eq = pair.indexOf('=');
        env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(GX_SIM_TOOL), arguments);
    if (!process.waitForFinished(30000)) return -1;
    if (output) *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
