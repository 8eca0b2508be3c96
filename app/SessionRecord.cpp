#include "app/SessionRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

QString DailySessionRecordPath(const QString& directory, const QDateTime& when)
{
    return directory + QStringLiteral("Logs/") + when.date().toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".sessions.jsonl");
}

QByteArray SessionRecordLine(const SessionRecord& r)
{
    QJsonObject o;
    // Local time with its offset from UTC, so the record reads the same anywhere.
    o.insert(QStringLiteral("time"),
             r.When.toOffsetFromUtc(r.When.offsetFromUtc()).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("serial"), r.Serial);
    o.insert(QStringLiteral("driver"), r.Driver);
    o.insert(QStringLiteral("processor"),
             QStringLiteral("0x") +
                 QStringLiteral("%1").arg(r.ProcessorId, 8, 16, QLatin1Char('0')).toUpper());
    o.insert(QStringLiteral("firmware_before"), r.FirmwareBefore);
    o.insert(QStringLiteral("bootloader_before"), r.BootloaderBefore);
    o.insert(QStringLiteral("image_version"), r.ImageVersion);
    o.insert(QStringLiteral("image_source"), r.ImageSource);
    o.insert(QStringLiteral("result"), r.ResultCode);
    o.insert(QStringLiteral("last_status"), static_cast<qint64>(r.LastStatus));
    o.insert(QStringLiteral("sectors_written"), r.SectorsWritten);
    o.insert(QStringLiteral("parts_written"), r.PartsWritten);
    o.insert(QStringLiteral("parts_total"), r.PartsTotal);
    o.insert(QStringLiteral("duration_ms"), r.DurationMs);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool AppendSessionRecord(const QString& directory, const SessionRecord& record, QString* reason)
{
    QDir().mkpath(directory + QStringLiteral("Logs"));  // a folder it cannot make fails the open
    QFile file(DailySessionRecordPath(directory, record.When));
    const auto fail = [&] {
        if (reason) *reason = file.errorString();
        return false;
    };
    // Unbuffered: a buffered write that fails part-way keeps the rest of the line, and the close
    // would append it after the take-back below.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) return fail();
    const qint64 before = file.size();
    QByteArray line = SessionRecordLine(record);
    if (before > 0) {
        // A line cut short by a crash stays on its own; the new one starts on a line of its own.
        char last = '\n';
        if (!file.seek(before - 1) || file.read(&last, 1) != 1) return fail();
        if (last != '\n') line.prepend('\n');
    }
    // One write, so the line never interleaves with another writer's.
    if (file.write(line) != line.size() || !file.flush()) {
        fail();
        file.resize(before);  // half a line is no record: take it back
        return false;
    }
    return true;
}
