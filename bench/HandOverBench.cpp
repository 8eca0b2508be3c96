// Workers that hand log lines to the window thread continuously, as busy write sessions do: how
// long the window thread's longest single dispatch of hand-overs lasts, and the longest gap
// between two firings of a 5 ms window timer meanwhile. With 2 and with 16 workers.
//
//   QT_QPA_PLATFORM=offscreen build/default/bench/handover_bench [seconds per run]
//
// Goals with 16 workers: no dispatch over 20 ms, no timer gap over 50 ms.

#include "app/Language.h"
#include "app/MainForm.h"
#include "bench/BenchSupport.h"
#include "bench/Metrics.h"
#include "devices/WorkerHost.h"
#include "platform/WorkerThread.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// Hands one line over after another until asked to stop, like a session logging its parts.
class LineWorker : public TWorkerThread {
public:
    LineWorker(TMainForm& form, int number, std::atomic<long>& lines)
        : TWorkerThread(&form), form_(form), number_(number), lines_(lines)
    {
    }

protected:
    void Execute() override
    {
        for (int part = 0; !StopRequested(); ++part) {
            Log.Text = FormatLogText(Msg(62), {part, part % 64, 64});
            Log.Kind = Normal;
            Log.Device = 1000 + number_;
            HandOverLogLine(*this, form_);
            lines_.fetch_add(1, std::memory_order_relaxed);
        }
    }

private:
    TMainForm& form_;
    const int number_;
    std::atomic<long>& lines_;
};

struct RunResult {
    double linesPerSecond = 0;
    double longestDispatchMs = 0;
    double longestTimerGapMs = 0;
    long dispatches = 0;
};

RunResult Run(TimingApplication& app, int workers, int seconds)
{
    TMainForm form{QStringList()};
    form.DevTimer->stop();
    form.show();
    app.ResetDispatches();
    GapTimer ticker;

    std::atomic<long> lines = 0;
    for (int i = 0; i < workers; ++i)
        form.Workers.Start(std::make_unique<LineWorker>(form, i, lines));
    ticker.Start();
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(seconds * 1000, &app, [&] { app.exit(); });
    app.exec();
    ticker.Stop();
    const double elapsed = clock.nsecsElapsed() / 1e9;
    const long handed = lines.load();
    form.Workers.StopAll();

    RunResult result;
    result.linesPerSecond = handed / elapsed;
    result.longestDispatchMs = app.longestDispatchNs / 1e6;
    result.longestTimerGapMs = ticker.LongestGapMs();
    result.dispatches = app.dispatches;
    return result;
}
}  // namespace

int main(int argc, char** argv)
{
    TimingApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    CurrentLanguage = kLanguageEnglish;
    std::printf("Hand-overs to the window thread, %d s per run (a 5 ms window timer runs too)\n",
                seconds);
    std::printf("%8s %14s %12s %20s %20s\n", "workers", "lines/s", "dispatches",
                "longest dispatch ms", "longest timer gap ms");
    for (int workers : {2, 16}) {
        const RunResult r = Run(app, workers, seconds);
        std::printf("%8d %14.0f %12ld %20.2f %20.2f\n", workers, r.linesPerSecond, r.dispatches,
                    r.longestDispatchMs, r.longestTimerGapMs);
        const std::string prefix = "workers_" + std::to_string(workers);
        Metric((prefix + "_lines_per_s").c_str(), r.linesPerSecond, "1/s");
        Metric((prefix + "_longest_dispatch").c_str(), r.longestDispatchMs, "ms");
        Metric((prefix + "_longest_timer_gap").c_str(), r.longestTimerGapMs, "ms");
        if (workers == 16)
            std::printf("goal with 16 workers: dispatch <= 20 ms (%s), timer gap <= 50 ms (%s)\n",
                        r.longestDispatchMs <= 20 ? "met" : "missed",
                        r.longestTimerGapMs <= 50 ? "met" : "missed");
    }
    return 0;
}
