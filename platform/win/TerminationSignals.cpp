#include "platform/TerminationSignals.h"

#include <QMetaObject>
#include <QObject>

#include <windows.h>

namespace {
QObject* gContext = nullptr;
std::function<void()> gHandler;

// Ctrl+C or Ctrl+Break in an attached console: close the window on the event loop.
BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    QMetaObject::invokeMethod(gContext, [] { gHandler(); }, Qt::QueuedConnection);
    return TRUE;
}
}  // namespace

void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate)
{
    gContext = context;
    gHandler = std::move(onTerminate);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
