#include "platform/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};
int gSecondPipe[2] = {-1, -1};
std::atomic<int> gSignals{0};
std::function<std::string()> gOnSecond;

// Async-signal-safe: one byte into a socket pair. The first request goes to the event loop; any
// later one to the thread that ends the process, which needs no event loop to come round.
extern "C" void OnTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    const int count = gSignals.fetch_add(1) + 1;
    const int target = count == 1 || gSecondPipe[1] < 0 ? gSignalPipe[1] : gSecondPipe[1];
    [[maybe_unused]] const ssize_t n = write(target, &byte, 1);
    errno = saved;
}

void WaitForSecondRequest()
{
    char byte = 0;
    while (read(gSecondPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    std::string line = gOnSecond ? gOnSecond() : std::string();
    if (!line.empty()) {
        line += '\n';
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line.data(), line.size());
    }
    _exit(kSecondSignalExitCode);
}
}  // namespace

void InstallTerminationHandler(QObject* context, std::function<void()> onTerminate,
                               std::function<std::string()> onSecond)
{
    if (gSignalPipe[0] < 0) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
        fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    }
    if (gSecondPipe[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSecondPipe) == 0) {
        fcntl(gSecondPipe[1], F_SETFL, O_NONBLOCK);
        gOnSecond = std::move(onSecond);
        // Lives as long as the process: it only waits, and ends the process when it acts.
        std::thread(WaitForSecondRequest).detach();
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(
        notifier, &QSocketNotifier::activated, context, [handler = std::move(onTerminate)] {
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
