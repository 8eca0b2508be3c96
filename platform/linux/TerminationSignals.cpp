#include "platform/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};

// Async-signal-safe: one byte into the socket pair, read back on the event loop.
extern "C" void OnTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gSignalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate)
{
    if (gSignalPipe[0] < 0) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
        fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [handler = std::move(onTerminate)] {
                         char buffer[16];
                         [[maybe_unused]] const ssize_t n = read(gSignalPipe[0], buffer, sizeof buffer);
                         handler();
                     });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
