#pragma once
// One running copy per user. The holder keeps the lock until it is destroyed; the system drops it
// when the process ends, so a crashed copy never blocks the next start.

#include <QString>
#include <memory>

class SingleInstance {
public:
    virtual ~SingleInstance() = default;

    enum class Outcome {
        Held,           // this copy holds the lock
        OtherCopyRuns,  // another copy kept it for the whole wait
        Unavailable,    // the lock itself could not be made; not a sign of another copy
    };
    struct Result {
        Outcome outcome = Outcome::Unavailable;
        std::unique_ptr<SingleInstance> lock;  // set when Held
        QString where;                         // Unavailable: the lock file, or the mutex's name
        QString reason;                        // Unavailable: the system's text for the failure
    };
    // Waits up to waitMs for the lock.
    static Result Acquire(int waitMs);
};

// Whether a running copy holds the lock that lives in runtimeDir (Linux; the name is
// system-wide on Windows). Taken by a sender to tell a copy that is briefly unreachable from
// one that is not running.
bool InstanceLockHeld(const QString& runtimeDir);
