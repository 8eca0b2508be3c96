#pragma once
// Log lines from worker threads. A worker never touches the log view: it formats its line, puts it
// into its own slot and hands the slot to the window thread (RunOnWindowThread), waiting until the
// line is logged. The window thread serves hand-overs from its event loop, and also while it waits
// for a worker at close.

#include "app/LogFormat.h"

#include <QString>
#include <cstdint>
#include <initializer_list>

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
