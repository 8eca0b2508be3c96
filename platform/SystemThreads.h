#pragma once
// The system's own thread identities. A worker's QThread reports it has finished before the
// system thread behind it has run its thread-local clean-up and gone; a worker freed at that
// moment leaves the clean-up running beside the rest of the program, up to its exit.

#include <cstdint>
#include <vector>

// The calling thread's identity as the system knows it; 0 where the system gives none.
uint64_t CurrentSystemThreadId();

// Waits until the system thread of that identity has gone, or timeoutMs have passed. Returns at
// once for 0.
void AwaitSystemThreadExit(uint64_t id, int timeoutMs);

// The identities of every thread of the process now, in no particular order. For code that
// hands work to a library whose threads are its own (a file dialog's file-system model): what
// it started can then be awaited as well.
std::vector<uint64_t> SystemThreadIds();

// Waits until every thread of ids has gone, or timeoutMs have passed in all.
void AwaitSystemThreadsExit(const std::vector<uint64_t>& ids, int timeoutMs);
