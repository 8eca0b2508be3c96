#pragma once
// The session record: one line of JSON per ended write session, appended to a daily file beside
// the log (Logs/YYYYMMDD.sessions.jsonl), so that a production line knows afterwards which device
// got what. No widgets; the window decides whether a record is written at all.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

struct SessionRecord {
    QDateTime When;  // local time the session ended
    int32_t Serial = 0;
    QString Driver;  // "ftdi" or "vendor"
    uint32_t ProcessorId = 0;
    QString FirmwareBefore;  // the versions the device reported before the write
    QString BootloaderBefore;
    QString ImageVersion;
    QString ImageSource;  // "embedded", or the image file's path
    int32_t ResultCode = 0;
    uint32_t LastStatus = 0;
    int32_t SectorsWritten = 0;
    int32_t PartsWritten = 0;
    int32_t PartsTotal = 0;
    int32_t DurationMs = 0;
};

// directory (with its trailing separator) + "Logs/" + YYYYMMDD + ".sessions.jsonl".
QString DailySessionRecordPath(const QString& directory, const QDateTime& when);

// The record as one compact JSON object and a line feed.
QByteArray SessionRecordLine(const SessionRecord& record);

// Appends the record to the file of its day, creating the folder and the file when missing. The
// line is written whole or not at all: a write that fails half-way is taken back, and a line that
// an earlier crash left unfinished is ended first, so no earlier line is ever spoilt. False on any
// file error, with the system's reason in reason when given.
bool AppendSessionRecord(const QString& directory, const SessionRecord& record,
                         QString* reason = nullptr);
