#pragma once
// The thread of one device's firmware write session. A record's Writer points to it while the
// session runs; the scan asks it to stop through the thread's interruption request (a device that
// was unplugged), which the session checks between its steps.
//
// Only the link is here so far: the session's own members and its body come with the write
// session itself.

#include <QThread>

class TWriteThread : public QThread {
public:
    using QThread::QThread;
};
