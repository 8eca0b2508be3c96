#include "platform/SingleInstance.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {
// An open descriptor, closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// An flock on a file in the user's runtime folder: the kernel releases it when the process ends,
// so a stale lock file from a crashed copy never keeps a new copy out.
class FileLockInstance final : public SingleInstance {
public:
    explicit FileLockInstance(Descriptor fd) : fd_(std::move(fd)) {}
    ~FileLockInstance() override { flock(fd_.Get(), LOCK_UN); }

private:
    Descriptor fd_;
};

QString LockPath(const QString& runtimeDir)
{
    return QDir(runtimeDir).filePath(QString::fromLatin1(kInstanceName) + QStringLiteral(".lock"));
}

// Makes the folder and its missing parents (mode 0700, as a runtime folder has); 0, or the errno
// of the step that failed.
int MakeFolders(const QByteArray& path)
{
    for (qsizetype at = path.indexOf('/', 1);; at = path.indexOf('/', at + 1)) {
        const QByteArray part = at < 0 ? path : path.left(at);
        if (mkdir(part.constData(), 0700) != 0 && errno != EEXIST) return errno;
        if (at < 0) break;
    }
    struct stat info;
    if (stat(path.constData(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

SingleInstance::Result Unavailable(const QString& where, const QString& reason)
{
    SingleInstance::Result result;
    result.outcome = SingleInstance::Outcome::Unavailable;
    result.where = where;
    result.reason = reason;
    return result;
}

SingleInstance::Result Unavailable(const QString& where, int error)
{
    return Unavailable(where, QString::fromLocal8Bit(std::strerror(error)));
}
}  // namespace

SingleInstance::Result SingleInstance::Acquire(int waitMs)
{
    const QString dir = RuntimeDirectory();
    if (dir.isEmpty())
        return Unavailable(LockPath(QString()), QStringLiteral("no per-user runtime folder"));
    const QString path = LockPath(dir);
    if (const int error = MakeFolders(QFile::encodeName(dir)); error != 0)
        return Unavailable(path, error);
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Unavailable(path, errno);
    Descriptor file(fd);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            Result result;
            result.outcome = Outcome::Held;
            result.lock = std::make_unique<FileLockInstance>(std::move(file));
            return result;
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK) return Unavailable(path, error);
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Result result;
    result.outcome = Outcome::OtherCopyRuns;
    return result;
}

bool InstanceLockHeld(const QString& runtimeDir)
{
    const Descriptor file(
        open(QFile::encodeName(LockPath(runtimeDir)).constData(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) return false;
    // Refused only while a copy holds its exclusive lock; a shared one taken goes with the close.
    return flock(file.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}
