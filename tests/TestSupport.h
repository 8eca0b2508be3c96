#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <ostream>

// Prints QStrings readably in failure messages.
void PrintTo(const QString& text, std::ostream* os);

class TMainForm;

// A log line as the tests write them: UTF-8 in the source.
inline QString Line(const char* text)
{
    return QString::fromUtf8(text);
}

// The lines of the window's log view, empty ones left out.
QStringList LogLines(const TMainForm& form);

// Processes events until condition holds or timeoutMs passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);
// The same without processing events: a worker that needs the window thread stays waiting.
bool WaitUnserved(const std::function<bool()>& condition, int timeoutMs = 30000);

// A private runtime folder and a copy of the loader in a folder of its own, so that side-by-side
// copies, their settings and logs never meet.
struct LoaderSandbox {
    QTemporaryDir runtime;
    QTemporaryDir exeDir;
    QString exePath;  // the loader's copy
    LoaderSandbox();

    QString Settings() const { return exeDir.filePath(QStringLiteral("GXFWLoader.ini")); }
    QString Logs() const { return exeDir.filePath(QStringLiteral("Logs")); }
    // Writes the settings file beside the copy.
    void WriteSettings(const QByteArray& text) const;
};

class QProcess;

// Starts the sandbox's copy with the loader's arguments, in its folder, with its runtime folder,
// offscreen, and the extra variables given ("NAME=value"; the test's own environment otherwise).
void StartLoader(QProcess& process, const LoaderSandbox& sandbox, const QStringList& arguments = {},
                 const QStringList& extraEnvironment = {});

// Every daily log file of a Logs folder (a run may pass midnight), decoded from UTF-16LE.
QString ReadDailyLogs(const QString& logsFolder);
