#include "sim/SimFiles.h"

#include "sim/SimFolder.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gxsim {
namespace {
bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::atomic<unsigned> tempCounter{0};
}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing)
{
    missing = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    text.clear();
    char chunk[8192];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool ReplaceWholeFile(const std::string& path, const std::string& text)
{
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = folder + "/." + name + "." + std::to_string(getpid()) + "." +
                             std::to_string(tempCounter.fetch_add(1));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, text.data(), text.size());
    close(fd);
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

void AppendToFile(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, text.data(), text.size());
    close(fd);
}

void EmptyFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) close(fd);
}

void RemoveFile(const std::string& path)
{
    unlink(path.c_str());
}

bool SizeFile(const std::string& path, uint32_t size, uint8_t fill)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && static_cast<uint64_t>(st.st_size) < size) {
        const std::vector<uint8_t> added(size - static_cast<uint32_t>(st.st_size), fill);
        ok = lseek(fd, st.st_size, SEEK_SET) >= 0 && WriteAll(fd, added.data(), added.size());
    } else if (ok && static_cast<uint64_t>(st.st_size) > size) {
        ok = ftruncate(fd, size) == 0;
    }
    close(fd);
    return ok;
}

bool ChangeFileRange(const std::string& path, uint32_t offset, uint32_t size,
                     const std::function<void(std::vector<uint8_t>&)>& change)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    std::vector<uint8_t> bytes(size);
    bool ok = fstat(fd, &st) == 0 &&
              static_cast<uint64_t>(offset) + size <= static_cast<uint64_t>(st.st_size) &&
              pread(fd, bytes.data(), size, offset) == static_cast<ssize_t>(size);
    if (ok) {
        change(bytes);
        ok = pwrite(fd, bytes.data(), size, offset) == static_cast<ssize_t>(size);
    }
    close(fd);
    return ok;
}

// ---- The folder's lock: flock on its ".lock" file ----

FolderLock::FolderLock(const std::string& dir, bool exclusive)
{
    fd_ = open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            close(fd_);
            fd_ = -1;
            return;
        }
    }
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0) close(fd_);  // closing the descriptor releases the lock
}

}  // namespace gxsim
