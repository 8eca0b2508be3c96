#include "app/CommandLine.h"

#include <QFileInfo>
#include <QLocale>

namespace {
bool IsExistingEraw(const QString& path)
{
    const QFileInfo info(path);  // exists() follows links
    if (!info.exists() || info.isDir()) return false;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && path.mid(dot).compare(QLatin1String(".eraw"), Qt::CaseInsensitive) == 0;
}
}  // namespace

CommandLineOptions ParseCommandLine(const QStringList& args, PathRule rule)
{
    CommandLineOptions options;
    const QLocale locale;
    for (const QString& arg : args) {
        QString word = locale.toLower(arg);
        if (word.startsWith(QLatin1Char('/')) || word.startsWith(QLatin1Char('-'))) word.remove(0, 1);

        const QString& path = rule == PathRule::AsWritten ? arg : word;
        if (!path.isEmpty() && IsExistingEraw(path)) {
            options.ExternalFirmwareAllowed = true;
            options.FirmwareFile = path;
        }
        if (word == QLatin1String("externfirmware")) options.ExternalFirmwareAllowed = true;
        if (word == QLatin1String("dontcheckcpbl")) options.SkipCompatibilityCheck = true;
    }
    return options;
}
