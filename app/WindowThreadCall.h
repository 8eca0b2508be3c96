#pragma once
// A worker's call that must run on the window thread while the worker waits for it: a log line
// (ReaderLog, WriterLog), a pass's ScanFinished, the firmware load a write session asks for. Qt's
// blocking queued call would do, but it hands the call over inside Qt, where ThreadSanitizer does
// not see the ordering; here the worker's data crosses only through this unit's own locks.

#include <QObject>

#include <cstddef>
#include <functional>

// The window's side, set up once by the window itself: serves queued calls from its event loop,
// and releases the workers still waiting when the window is destroyed.
void InstallWindowThreadCalls(QObject* window);

// Runs call on window's thread and returns once it has run there; called on that thread, runs it
// at once. A window destroyed before serving it releases the worker with call not run. An
// exception call raises reaches the window thread's error display, and the worker goes on.
void RunOnWindowThread(QObject* window, const std::function<void()>& call);

// Serves, on the window thread, the calls already queued for window: for a window thread that
// waits for a worker (the close sequence) and must keep serving it meanwhile.
void ServeWindowThreadCalls(QObject* window);

// How many calls wait for a window thread now (for tests and diagnostics).
size_t PendingWindowThreadCalls();
