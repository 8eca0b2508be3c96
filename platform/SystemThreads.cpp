#include "platform/SystemThreads.h"

#include <algorithm>
#include <chrono>

void AwaitSystemThreadsExit(const std::vector<uint64_t>& ids, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const uint64_t id : ids) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        AwaitSystemThreadExit(id, static_cast<int>(std::max<long long>(0, left.count())));
    }
}
