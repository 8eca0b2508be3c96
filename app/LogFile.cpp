#include "app/LogFile.h"

#include <QDir>
#include <QFile>

namespace {
void AppendUtf16Le(QByteArray& out, const QString& text)
{
    // Unit by unit, so the bytes are little-endian on every host and nothing is re-encoded.
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        out.append(static_cast<char>(u & 0xFF));
        out.append(static_cast<char>(u >> 8));
    }
}
}  // namespace

QString LogStamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
}

QString DailyLogPath(const QString& directory, const QDateTime& when)
{
    return directory + QStringLiteral("Logs/") + when.date().toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

bool AppendDailyLogLine(const QString& directory, const QDateTime& when, const QString& line)
{
    if (!QDir().mkpath(directory + QStringLiteral("Logs"))) return false;
    QFile file(DailyLogPath(directory, when));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;

    QByteArray record;
    // A file left empty (just created, or cut short by a crash before its first line) gets the
    // mark; a file with content never gets a second one.
    if (file.size() == 0) record.append("\xFF\xFE", 2);
    AppendUtf16Le(record, QLatin1Char('[') + LogStamp(when) + QStringLiteral("]\t") + line +
                              QStringLiteral("\r\n"));
    // One write per line, so a line is never split between two writers' lines.
    return file.write(record) == record.size() && file.flush();
}
