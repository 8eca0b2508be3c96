#pragma once
// The daily log file: Logs/YYYYMMDD.log in the loader's folder, UTF-16LE, one stamped line per
// log line. No widgets; the window decides whether a line goes to the file at all.

#include <QDateTime>
#include <QString>

// "dd.mm.yyyy hh:mm:ss.zzz" on the 24-hour clock, always with colons.
QString LogStamp(const QDateTime& when);

// directory (with its trailing separator) + "Logs/" + YYYYMMDD + ".log" for the date of when.
QString DailyLogPath(const QString& directory, const QDateTime& when);

// Appends "[stamp]\t" + line + CR LF to the file of when's day, creating the folder and the file
// when missing; an empty file first gets the byte-order mark FF FE. The file is open only for the
// call. The line is written whole or not at all: a write that fails part-way (a full disk) is
// taken back, and a line an earlier crash left unfinished is ended first, so no line is glued to
// another. False on any file error, with the system's reason in reason when given.
bool AppendDailyLogLine(const QString& directory, const QDateTime& when, const QString& line,
                        QString* reason = nullptr);
