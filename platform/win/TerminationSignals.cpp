#include "platform/TerminationSignals.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <cstdio>

#include <windows.h>

namespace {
QObject* gContext = nullptr;
std::function<void()> gHandler;
std::function<std::string()> gOnSecond;
std::atomic<int> gRequests{0};

// Ctrl+C or Ctrl+Break in an attached console: close the window on the event loop. The handler
// runs on a thread of its own, so a second request ends the process from here.
BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (gRequests.fetch_add(1) > 0) {
        const std::string line = gOnSecond ? gOnSecond() : std::string();
        if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        ExitProcess(kSecondSignalExitCode);
    }
    QMetaObject::invokeMethod(
        gContext, [] { gHandler(); }, Qt::QueuedConnection);
    return TRUE;
}
}  // namespace

void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate,
                               std::function<std::string()> onSecond)
{
    gContext = context;
    gHandler = std::move(onTerminate);
    gOnSecond = std::move(onSecond);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
