#pragma once
// Turns the system's requests to terminate (SIGINT, SIGTERM) into a call on the event loop, so the
// window closes the ordinary way and its close sequence runs. A second request while that close
// runs does not wait for it: the process ends at once with exit code 1, after onSecond (run on a
// thread of its own, so it comes through however busy the window thread is) has said why on
// standard error.

#include <functional>
#include <string>

class QObject;

// onSecond returns the line to print; it must be safe to call from any thread.
void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate,
                               std::function<std::string()> onSecond = {});

// The exit code of a process ended by a second termination request.
inline constexpr int kSecondSignalExitCode = 1;
