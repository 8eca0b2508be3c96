#include "sim/SimFiles.h"

#include "sim/SimFolder.h"

#include <atomic>
#include <memory>
#include <type_traits>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace gxsim {
namespace {
struct CloseHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueFile = std::unique_ptr<std::remove_pointer_t<HANDLE>, CloseHandleDeleter>;

// Every file is opened with full sharing, so that a reader never keeps a writer from replacing or
// deleting the file. Windows still refuses an open, or a rename over a file, for a moment while
// another process holds or swaps it; those are tried again, briefly.
bool Transient(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

template <typename Attempt>
bool Retried(Attempt attempt)
{
    for (int tries = 0;; ++tries) {
        if (attempt()) return true;
        if (tries >= 200 || !Transient(GetLastError())) return false;
        Sleep(5);
    }
}

UniqueFile OpenFile(const std::string& path, DWORD access, DWORD disposition)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    Retried([&] {
        handle = CreateFileA(path.c_str(), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return UniqueFile(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool WriteAll(HANDLE file, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, p, piece, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

bool ReadAt(HANDLE file, uint32_t offset, void* data, uint32_t size)
{
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD read = 0;
    return ReadFile(file, data, size, &read, &at) && read == size;
}

bool WriteAt(HANDLE file, uint32_t offset, const void* data, uint32_t size)
{
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD written = 0;
    return WriteFile(file, data, size, &written, &at) && written == size;
}

std::atomic<unsigned> tempCounter{0};
}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing)
{
    missing = false;
    const UniqueFile file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        const DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    text.clear();
    char chunk[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) return false;
        if (n == 0) return true;
        text.append(chunk, n);
    }
}

bool ReplaceWholeFile(const std::string& path, const std::string& text)
{
    const size_t slash = path.find_last_of("/\\");
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = folder + "/." + name + "." + std::to_string(GetCurrentProcessId()) +
                             "." + std::to_string(tempCounter.fetch_add(1));
    bool written = false;
    if (UniqueFile file = OpenFile(temp, GENERIC_WRITE, CREATE_ALWAYS))
        written = WriteAll(file.get(), text.data(), text.size());
    if (!written || !Retried([&] {
            return MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        })) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

void AppendToFile(const std::string& path, const std::string& text)
{
    // Append-only access: the system puts every write at the end, whoever else writes.
    if (const UniqueFile file = OpenFile(path, FILE_APPEND_DATA, OPEN_ALWAYS))
        WriteAll(file.get(), text.data(), text.size());
}

void EmptyFile(const std::string& path)
{
    OpenFile(path, GENERIC_WRITE, TRUNCATE_EXISTING);
}

void RemoveFile(const std::string& path)
{
    Retried([&] { return DeleteFileA(path.c_str()) != 0; });
}

bool SizeFile(const std::string& path, uint32_t size, uint8_t fill)
{
    const UniqueFile file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    LARGE_INTEGER current{};
    if (!file || !GetFileSizeEx(file.get(), &current)) return false;
    if (current.QuadPart < size) {
        const std::vector<uint8_t> added(size - static_cast<uint32_t>(current.QuadPart), fill);
        return SetFilePointerEx(file.get(), current, nullptr, FILE_BEGIN) &&
               WriteAll(file.get(), added.data(), added.size());
    }
    if (current.QuadPart > size) {
        LARGE_INTEGER end{};
        end.QuadPart = size;
        return SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
    }
    return true;
}

bool ChangeFileRange(const std::string& path, uint32_t offset, uint32_t size,
                     const std::function<void(std::vector<uint8_t>&)>& change)
{
    const UniqueFile file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    if (static_cast<uint64_t>(offset) + size > static_cast<uint64_t>(length.QuadPart)) return false;
    std::vector<uint8_t> bytes(size);
    if (!ReadAt(file.get(), offset, bytes.data(), size)) return false;
    change(bytes);
    return WriteAt(file.get(), offset, bytes.data(), size);
}

// ---- The folder's lock: LockFileEx on its ".lock" file, through a C runtime descriptor ----

namespace {
HANDLE LockHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}
}  // namespace

FolderLock::FolderLock(const std::string& dir, bool exclusive)
{
    fd_ = _open((dir + "/.lock").c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
    if (fd_ < 0) return;
    OVERLAPPED whole{};
    if (!LockFileEx(LockHandle(fd_), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD,
                    &whole)) {
        _close(fd_);
        fd_ = -1;
    }
}

FolderLock::~FolderLock()
{
    if (fd_ < 0) return;
    // Released at once: the system releases a lock left at close only when it gets to it.
    OVERLAPPED whole{};
    UnlockFileEx(LockHandle(fd_), 0, MAXDWORD, MAXDWORD, &whole);
    _close(fd_);
}

}  // namespace gxsim
