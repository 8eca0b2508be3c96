#pragma once
// Turns the system's requests to terminate (SIGINT, SIGTERM) into a call on the event loop, so the
// window closes the ordinary way and its close sequence runs.

#include <functional>

class QObject;

void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate);
