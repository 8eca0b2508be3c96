// Start-up: one running copy per user, the window, the message loop.

#include "app/ErrorDisplay.h"
#include "app/MainForm.h"
#include "app/MessageWiring.h"
#include "devices/RunningSessions.h"
#include "platform/CodeSignature.h"
#include "platform/DeviceNotifications.h"
#include "platform/DynamicLibrary.h"
#include "platform/OutsideMessages.h"
#include "platform/Platform.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "platform/Ticks.h"
#include "platform/UiFonts.h"

#include <cstdio>

int main(int argc, char** argv)
{
    // Before anything can load a library: the driver libraries are loaded by name later, and a
    // copy planted in the folder the program is started from must never be the one found.
    RemoveWorkingFolderFromLibrarySearch();
    if (!VerifyOwnCodeSignature()) return 0;

    // A second copy ends silently: no window, no log line, exit code 0. A lock that cannot be
    // made also ends the copy, but that is no second copy: whoever started it is told why.
    const SingleInstance::Result instance = SingleInstance::Acquire(500);
    if (instance.outcome == SingleInstance::Outcome::Unavailable)
        std::fprintf(stderr, "GXFWLoader: cannot create the instance lock %s: %s\n",
                     instance.where.toLocal8Bit().constData(),
                     instance.reason.toLocal8Bit().constData());
    if (instance.outcome != SingleInstance::Outcome::Held) return 0;

    // The device protocol pauses 1 ms between the pieces of every packet: sleeps must be that fine
    // for the whole run.
    const FineTimerResolution fineSleeps;
    LoaderApplication app(argc, argv);
    InstallUiFontSubstitutes();
    // SIGINT and SIGTERM close the window the way the user would. Installed first, so that a
    // signal arriving during start-up waits in the event loop until the window exists.
    InstallTerminationHandler(
        &app,
        [] {
            // A message box open at that moment is dismissed first, so its nested loop ends.
            for (int i = 0; i < 16; ++i) {
                QWidget* modal = QApplication::activeModalWidget();
                if (!modal) break;
                modal->close();
            }
            // Nobody may be there to answer: the close waits for no one.
            if (TMainForm* form = MainForm) form->CloseUnattended();
        },
        [] {
            // A second request while the close waits for the sessions: they were asked to stop (and
            // are asked once more here); nothing waits for them any longer.
            return "GXFWLoader: a second termination request during the close: ending at once; "
                   "sessions still running: " +
                   SerialList(RunningSessions::Process().StopAll());
        });
    try {
        // The window sets the process-wide main-window pointer for exactly its own lifetime.
        TMainForm form(QCoreApplication::arguments().mid(1));
        form.RunsShowAndCloseSequences = true;

        std::unique_ptr<OutsideMessageSource> messages =
            OutsideMessageSource::Start(RuntimeDirectory());
        if (messages) ConnectOutsideMessages(*messages, form);
        // Where the system gives no device notifications (no udev), the socket still does.
        std::unique_ptr<DeviceChangeMonitor> deviceChanges = DeviceChangeMonitor::Start();
        if (deviceChanges) ConnectDeviceChanges(*deviceChanges, form);

        form.show();
        app.exec();
    } catch (...) {
        ShowException(std::current_exception());
        return 0;
    }
    return 0;
}
