#pragma once
// One running copy per user. The holder keeps the lock until it is destroyed; the system drops it
// when the process ends, so a crashed copy never blocks the next start.

#include <memory>

class SingleInstance {
public:
    virtual ~SingleInstance() = default;
    // Waits up to waitMs for the lock; null when another copy keeps it.
    static std::unique_ptr<SingleInstance> Acquire(int waitMs);
};
