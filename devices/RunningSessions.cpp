#include "devices/RunningSessions.h"

#include "platform/WorkerThread.h"

#include <algorithm>

void RunningSessions::Add(const TWorkerThread* session, int32_t serial)
{
    std::lock_guard lock(mutex_);
    // Stop requests go to the session itself; it is never changed otherwise.
    entries_.push_back({const_cast<TWorkerThread*>(session), serial});
}

void RunningSessions::Remove(const TWorkerThread* session)
{
    std::lock_guard lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [session](const Entry& e) { return e.Session == session; }),
                   entries_.end());
}

std::vector<int32_t> RunningSessions::StopAll()
{
    // Held while asking: a session leaves the list, under this lock, before it is freed.
    std::lock_guard lock(mutex_);
    std::vector<int32_t> serials;
    for (const Entry& e : entries_) {
        e.Session->RequestStop();
        serials.push_back(e.Serial);
    }
    return serials;
}

RunningSessions& RunningSessions::Process()
{
    static RunningSessions sessions;
    return sessions;
}

std::string SerialList(const std::vector<int32_t>& serials)
{
    if (serials.empty()) return "none";
    std::string text;
    for (const int32_t serial : serials) {
        if (!text.empty()) text += ", ";
        text += std::to_string(serial);
    }
    return text;
}
