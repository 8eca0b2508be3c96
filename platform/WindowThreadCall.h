#pragma once
// A worker's call that must run on the window thread while the worker waits for it: a log line, a
// pass's or a session's termination handler, the firmware load a write session asks for, a
// progress update. Qt's blocking queued call would do, but it hands the call over inside Qt, where
// ThreadSanitizer does not see the ordering; here the worker's data crosses only through this
// unit's own locks. Every hand-over of the loader goes through RunOnWindowThread.

#include <QEvent>
#include <QObject>

#include <cstddef>
#include <exception>
#include <functional>

// Receives, on the window thread, what a served call raised; the worker goes on either way.
using WindowThreadErrorHandler = std::function<void(std::exception_ptr error)>;

// The window's side, set up once by the window itself: serves queued calls from its event loop,
// and releases the workers still waiting when the window is destroyed. onError receives what a
// served call raises (nothing escapes into the event loop or a destructor); without one, errors
// are dropped.
void InstallWindowThreadCalls(QObject* window, WindowThreadErrorHandler onError = {});

// Runs call on window's thread and returns once it has run there; called on that thread, runs it
// at once. True when the call ran (an error it raised went to the window's error handler); false
// when it could not run because the window is gone or is destroyed before serving it.
bool RunOnWindowThread(QObject* window, const std::function<void()>& call);

// Serves, on the window thread, the calls that are queued for window now (not those queued while
// they run): for a window thread that waits for a worker (the close sequence) and must keep
// serving it meanwhile. Returns how many ran.
size_t ServeWindowThreadCalls(QObject* window);

// How many calls wait for a window thread now (for tests and diagnostics).
size_t PendingWindowThreadCalls();

// The event that asks a window's thread to serve its queue. One dispatch of it serves at most the
// calls queued when it began, so a window thread with many busy workers still gets to its timers,
// input and sockets between dispatches. (For benchmarks that time the dispatches.)
QEvent::Type WindowThreadCallEvent();
