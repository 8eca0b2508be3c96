#pragma once
// Log lines from worker threads. A worker never touches the log view: it formats its line, puts it
// into its own slot and hands the slot to the window thread, waiting until the line is logged.
// The window thread never waits for a worker, so a hand-over is always served while the window's
// event loop runs.

#include "app/LogFormat.h"

#include <QString>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>

class TMainForm;
struct TDevEntry;

// One pending log line of one worker object (the scan thread or a write thread). Only the owning
// thread fills it, and only right before it hands it over.
class LogSlot {
public:
    LogSlot() = default;
    LogSlot(const LogSlot&) = delete;
    LogSlot& operator=(const LogSlot&) = delete;

    QString Text;
    int Kind = Normal;
    int32_t Device = 0;

private:
    friend class LogHandOver;
    std::mutex mutex_;
    std::condition_variable served_;
    bool pending_ = false;
};

// For the scan thread: device is the device's SerialNumber, or 0 for the search as a whole.
// Formats into a buffer of (format length + 5000) characters. Called on the window thread itself
// it logs directly; with no main window it drops the line.
void ReaderLog(LogSlot& slot, int kind, int32_t device, const QString& format,
               std::initializer_list<LogArg> args = {});

// For a write thread: the device number is the SerialNumber of the device the session serves,
// read on the window thread at hand-over time (0 for no device).
void WriterLog(LogSlot& slot, const TDevEntry* device, int kind, const QString& format,
               std::initializer_list<LogArg> args = {});
void WriterLog(LogSlot& slot, const TDevEntry& device, int kind, const QString& format,
               std::initializer_list<LogArg> args = {});

// The window's side, set up once by the window itself: serves queued hand-overs from its event
// loop, and releases the workers still waiting when the window is destroyed.
void InstallLogHandOver(TMainForm* form);
// How many hand-overs wait for a window thread now (for tests and diagnostics).
size_t PendingLogHandOvers();
// Serves, on the window thread, the hand-overs already posted to form. For a window thread that
// waits for a worker (the close sequence) and must keep serving it meanwhile.
void ServeLogHandOvers(TMainForm* form);
