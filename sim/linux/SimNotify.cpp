#include "sim/SimNotify.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace gxsim {
namespace {
std::string RuntimeFolder()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) return xdg;
    const char* temp = std::getenv("TMPDIR");
    std::string folder = temp && *temp ? temp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const passwd* user = getpwuid(geteuid());
    return folder + "/runtime-" + (user ? user->pw_name : std::to_string(geteuid()));
}
}  // namespace

bool NotifyDeviceChange()
{
    const std::string path = RuntimeFolder() + "/GXUSBFirmwareLoaderBaseMutex.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Non-blocking: a loader that does not accept must never stall the caller.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool sent = false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        static const char line[] = "537 7\n";
        sent =
            send(fd, line, sizeof line - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof line - 1);
    }
    close(fd);
    return sent;
}

}  // namespace gxsim
