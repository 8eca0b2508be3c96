#include "platform/SingleInstance.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {
// An flock on a file in the user's runtime folder: the kernel releases it when the process ends,
// so a stale lock file from a crashed copy never keeps a new copy out.
class FileLockInstance final : public SingleInstance {
public:
    explicit FileLockInstance(int fd) : fd_(fd) {}
    ~FileLockInstance() override
    {
        flock(fd_, LOCK_UN);
        close(fd_);
    }

private:
    int fd_;
};
}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Acquire(int waitMs)
{
    const QString dir = RuntimeDirectory();
    if (dir.isEmpty() || !QDir().mkpath(dir)) return nullptr;
    const QByteArray path =
        QFile::encodeName(QDir(dir).filePath(QString::fromLatin1(kInstanceName) + ".lock"));
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FileLockInstance>(fd);
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(fd);
    return nullptr;
}
