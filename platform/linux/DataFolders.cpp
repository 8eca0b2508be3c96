#include "platform/DataFolders.h"

#include <QDir>

#include <unistd.h>

namespace {
// An XDG base folder: the variable when it holds an absolute path (a relative one is to be
// ignored), else its usual default below the home folder.
QString BaseFolder(const char* variable, const QString& fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallbackBelowHome);
}

bool UserMayWrite(const QString& folder)
{
    // Files under /usr belong to the package manager: even root keeps its settings elsewhere.
    const QString clean = QDir::cleanPath(folder);
    if (clean == QLatin1String("/usr") || clean.startsWith(QLatin1String("/usr/"))) return false;
    return ::access(QFile::encodeName(clean).constData(), W_OK | X_OK) == 0;
}
}  // namespace

LoaderFolders ChooseLoaderFolders(const QString& exeDirectory)
{
    if (UserMayWrite(exeDirectory)) return {exeDirectory, exeDirectory};
    const QString own = QStringLiteral("/GXFWLoader/");
    return {BaseFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + own,
            BaseFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) + own};
}
