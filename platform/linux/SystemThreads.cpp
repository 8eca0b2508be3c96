#include "platform/SystemThreads.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

uint64_t CurrentSystemThreadId()
{
    return static_cast<uint64_t>(syscall(SYS_gettid));
}

void AwaitSystemThreadExit(uint64_t id, int timeoutMs)
{
    if (id == 0) return;
    // The thread's entry under /proc/self/task goes once it has ended, its clean-up done.
    const std::string task = "/proc/self/task/" + std::to_string(id);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (access(task.c_str(), F_OK) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

std::vector<uint64_t> SystemThreadIds()
{
    std::vector<uint64_t> ids;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return ids;
    while (const dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        const unsigned long long id = std::strtoull(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0') ids.push_back(id);
    }
    closedir(tasks);
    return ids;
}
