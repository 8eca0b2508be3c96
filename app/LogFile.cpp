#include "app/LogFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>

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

bool AppendDailyLogLine(const QString& directory, const QDateTime& when, const QString& line,
                        QString* reason)
{
    QDir().mkpath(directory + QStringLiteral("Logs"));  // a folder it cannot make fails the open
    QFile file(DailyLogPath(directory, when));
    const auto fail = [&](bool takeBack, qint64 size) {
        if (reason) *reason = file.errorString();
        if (takeBack) file.resize(size);  // half a line is no line
        return false;
    };
    // Unbuffered: a buffered write that fails part-way keeps the rest of the line, and the close
    // would append it after the take-back.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return fail(false, 0);
    qint64 size = file.size();
    QByteArray record;
    // A file left empty (just created, or cut short by a crash before its first line) gets the
    // mark; a file with content never gets a second one.
    if (size == 0) record.append("\xFF\xFE", 2);
    if (size % 2 != 0) {
        // Half a character from a write cut short: dropped, so the text stays in step.
        if (!file.resize(size - 1)) return fail(false, 0);
        --size;
    }
    if (size > 2) {
        char last[4] = {};
        const qint64 tail = std::min<qint64>(4, size - 2);
        if (!file.seek(size - tail) || file.read(last, tail) != tail) return fail(false, 0);
        if (tail < 4 || std::memcmp(last, "\r\0\n\0", 4) != 0)
            AppendUtf16Le(record, QStringLiteral("\r\n"));
    }
    AppendUtf16Le(record, QLatin1Char('[') + LogStamp(when) + QStringLiteral("]\t") + line +
                              QStringLiteral("\r\n"));
    // One write per line, so a line is never split between two writers' lines.
    if (file.write(record) != record.size()) return fail(true, size);
    return true;
}
