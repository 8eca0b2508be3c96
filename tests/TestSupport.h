#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <ostream>

#include <sys/resource.h>

class QProcess;

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

// Root writes through permission bits. A test that needs them to count, run as root, calls this
// and returns: it runs the current test again in a child process as the unprivileged user
// "nobody" and takes that run's verdict; it is skipped only when that cannot be done.
bool RunningAsRoot();
void RerunCurrentTestAsNobody();
// Makes the process, once started, drop to "nobody" (exit code kCannotBecomeNobody if it cannot).
inline constexpr int kCannotBecomeNobody = 97;
void StartAsNobody(QProcess& process);

// A private runtime folder and a copy of the loader in a folder of its own, so that side-by-side
// copies, their settings and logs never meet.
struct LoaderSandbox {
    QTemporaryDir runtime;
    QTemporaryDir exeDir;
    QTemporaryDir home;  // the user's configuration and state folders (XDG_CONFIG_HOME and so on)
    QString exePath;     // the loader's copy
    LoaderSandbox();

    QString Settings() const { return exeDir.filePath(QStringLiteral("GXFWLoader.ini")); }
    QString Logs() const { return exeDir.filePath(QStringLiteral("Logs")); }
    // Where an installed loader, whose folder the user may not write, keeps them instead.
    QString UserSettings() const
    {
        return home.filePath(QStringLiteral("config/GXFWLoader/GXFWLoader.ini"));
    }
    QString UserLogs() const { return home.filePath(QStringLiteral("state/GXFWLoader/Logs")); }
    // Writes the settings file beside the copy.
    void WriteSettings(const QByteArray& text) const;
};

// Starts the sandbox's copy with the loader's arguments, in its folder, with its runtime folder,
// offscreen, and the extra variables given ("NAME=value"; the test's own environment otherwise).
void StartLoader(QProcess& process, const LoaderSandbox& sandbox, const QStringList& arguments = {},
                 const QStringList& extraEnvironment = {});

// Every daily log file of a Logs folder (a run may pass midnight), decoded from UTF-16LE.
QString ReadDailyLogs(const QString& logsFolder);

// A file-size limit for as long as the object lives: a write past it stops part-way, for root as
// for anyone (the signal it raises is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved_;
        small.rlim_cur = bytes;
        set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        if (previous_ == SIG_ERR) return;
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Set() const { return set_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_ERR;
    bool set_ = false;
};
