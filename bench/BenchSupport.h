#pragma once
// What the benchmarks share: an application that times every dispatch of the window thread's
// hand-overs, and a window timer that records its longest gap.

#include "platform/WindowThreadCall.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    qint64 longestDispatchNs = 0;
    long dispatches = 0;

    void ResetDispatches()
    {
        longestDispatchNs = 0;
        dispatches = 0;
    }

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (event->type() != WindowThreadCallEvent()) return QApplication::notify(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const bool result = QApplication::notify(receiver, event);
        longestDispatchNs = std::max(longestDispatchNs, clock.nsecsElapsed());
        ++dispatches;
        return result;
    }
};

// A 5 ms window timer; the longest time between two of its firings while it runs.
class GapTimer {
public:
    GapTimer()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (last_.isValid()) longestNs_ = std::max(longestNs_, last_.nsecsElapsed());
            last_.start();
        });
    }
    void Start()
    {
        longestNs_ = 0;
        last_.invalidate();
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    double LongestGapMs() const { return longestNs_ / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer last_;
    qint64 longestNs_ = 0;
};
