#pragma once
// The write sessions running now, for what must reach them from outside the window thread: a
// second termination signal during the close ends the process at once, and first asks every one
// of them to stop and names them. Thread-safe; one list for the process.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TWorkerThread;

class RunningSessions {
public:
    // A session from its start until its termination handler has run (window thread).
    void Add(const TWorkerThread* session, int32_t serial);
    void Remove(const TWorkerThread* session);

    // Any thread: asks every running session to stop and returns their serial numbers, in the
    // order they started.
    std::vector<int32_t> StopAll();

    static RunningSessions& Process();

private:
    struct Entry {
        TWorkerThread* Session;
        int32_t Serial;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// "1001, 2002", or "none".
std::string SerialList(const std::vector<int32_t>& serials);
