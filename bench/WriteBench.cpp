// The write session against the protocol's floor: the embedded image written through the FTDI
// path into simulated devices with processor 0x26013F37 (sectors 10-19, 304 parts), the
// simulator answering at once, "Start application" off. Prints the session time from the button
// press to WriteFinished, the floor of prescribed pauses and their ratio; then 1, 4 and 16 devices
// written at once, and the window thread's longest dispatch and timer gap during the 16.
//
//   LD_LIBRARY_PATH=build/default/sim/lib QT_QPA_PLATFORM=offscreen build/default/bench/write_bench
//       [latency_ms [--one]]
//
// latency_ms sets the simulated FTDI latency timer (default 0); --one writes one device only. The
// loader sets a chip's timer to 2 ms where the FTDI library can: for a chip that answers at once,
// put build/default/sim/lib-nolatency (a stand-in without FT_SetLatencyTimer) first on the path.
// Goals (latency 0): one session at most 1.25 times the floor; 16 devices at most 1.3 times one;
// no timer gap over 50 ms.

#include "app/Language.h"
#include "app/MainForm.h"
#include "bench/BenchSupport.h"
#include "bench/Metrics.h"
#include "devices/DeviceList.h"
#include "devices/DriverBindings.h"
#include "platform/Ticks.h"
#include "sessions/DevicePanel.h"
#include "sim/SimFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr uint32_t kProcessor = 0x26013F37;
// The embedded image on that processor: sectors 10-19, of which 6 of 4 KB and 4 of 32 KB.
constexpr int kErases = 10;
constexpr int kParts = 6 * 8 + 4 * 64;
constexpr int kPiecesPerPart = (526 + 63) / 64;

// The pauses the protocol prescribes: between the pieces of every part, at least 1 ms of read
// wait per part and per erase (the reply is taken 1 ms after its first byte), and the finish
// command's read.
int FloorMs()
{
    return kParts * ((kPiecesPerPart - 1) + 1) + kErases + 1;
}

double MeasuredPauseMs()
{
    using Clock = std::chrono::steady_clock;
    constexpr int kPauses = 500;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kPauses; ++i) PauseMs(1);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kPauses;
}

bool ProcessUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

struct RunResult {
    double allMs = 0;  // from pressing every button to the last WriteFinished
    double longestSessionMs = 0;
    double longestDispatchMs = 0;
    double longestTimerGapMs = 0;
    int failures = 0;
};

// Writes count devices at once, each added afresh.
RunResult Run(TimingApplication& app, gxsim::SimFolder& sim, int count, uint32_t latencyMs)
{
    std::vector<std::string> serials;
    for (int i = 0; i < count; ++i) {
        gxsim::DeviceSetup d;
        d.Serial = std::to_string(7000 + i);
        d.Kind = gxsim::Driver::Ftdi;
        d.ProcessorId = kProcessor;
        d.LatencyMs = latencyMs;
        std::string error;
        if (!sim.Add(d, &error))
            std::fprintf(stderr, "cannot add %s: %s\n", d.Serial.c_str(), error.c_str());
        serials.push_back(d.Serial);
    }

    RunResult result;
    {
        TMainForm form{QStringList()};
        form.show();
        ProcessUntil([&] { return !form.DevTimer->isActive() && !form.CurrentScan; }, 60000);
        if (form.DeviceList.size() != static_cast<size_t>(count))
            std::fprintf(stderr, "found %zu of %d devices\n", form.DeviceList.size(), count);

        std::vector<TDevEntry*> devices;
        for (const auto& d : form.DeviceList) devices.push_back(d.get());
        std::vector<double> endedMs(devices.size(), -1);
        GapTimer ticker;
        app.ResetDispatches();
        ticker.Start();
        QElapsedTimer clock;
        clock.start();
        for (TDevEntry* d : devices) d->Panel->UpdateButton->click();
        ProcessUntil(
            [&] {
                bool all = true;
                for (size_t i = 0; i < devices.size(); ++i) {
                    if (endedMs[i] < 0 && !devices[i]->Writer)
                        endedMs[i] = clock.nsecsElapsed() / 1e6;
                    all = all && endedMs[i] >= 0;
                }
                return all;
            },
            600000);
        result.allMs = clock.nsecsElapsed() / 1e6;
        ticker.Stop();
        result.longestDispatchMs = app.longestDispatchNs / 1e6;
        result.longestTimerGapMs = ticker.LongestGapMs();
        for (size_t i = 0; i < devices.size(); ++i) {
            result.longestSessionMs = std::max(result.longestSessionMs, endedMs[i]);
            if (devices[i]->Panel->StatusLabel->text() != Msg(24)) ++result.failures;
        }
    }
    for (const std::string& serial : serials) sim.Remove(serial);
    return result;
}
}  // namespace

int main(int argc, char** argv)
{
    const uint32_t latency = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 0;
    QTemporaryDir state;
    qputenv(gxsim::kDirVariable, state.path().toLocal8Bit());
    TimingApplication app(argc, argv);
    CurrentLanguage = kLanguageEnglish;
    const TDriverBindings bound = BindMissingDriverLibraries();
    if (!bound.Ftdi) {
        std::fprintf(stderr,
                     "the simulated FTDI library did not bind: run with "
                     "LD_LIBRARY_PATH=build/default/sim/lib\n");
        return 2;
    }
    gxsim::SimFolder sim(state.path().toStdString());

    const int floor = FloorMs();
    std::printf("Write session, embedded image, FTDI path, processor 0x%08X, latency %u ms\n",
                kProcessor, latency);
    const double pause = MeasuredPauseMs();
    std::printf("1 ms pause measured: %.3f ms\n", pause);
    std::printf("protocol floor: %d ms (%d parts of %d pieces, %d erases, the finish read)\n",
                floor, kParts, kPiecesPerPart, kErases);

    const RunResult one = Run(app, sim, 1, latency);
    std::printf("one session: %.0f ms, %.3f x the floor%s\n", one.longestSessionMs,
                one.longestSessionMs / floor, one.failures ? " (FAILED)" : "");
    const double oneMs = one.longestSessionMs;
    Metric("pause_1ms", pause, "ms");
    Metric("floor", floor, "ms");
    Metric("session_1", oneMs, "ms");
    int failures = one.failures;
    if (argc > 2 && std::string(argv[2]) == "--one") return failures ? 1 : 0;
    for (int count : {4, 16}) {
        const RunResult r = Run(app, sim, count, latency);
        std::printf(
            "%2d devices at once: %.0f ms, %.3f x one session; longest dispatch %.2f ms, "
            "longest timer gap %.2f ms%s\n",
            count, r.allMs, r.allMs / oneMs, r.longestDispatchMs, r.longestTimerGapMs,
            r.failures ? " (FAILURES)" : "");
        const std::string prefix = "devices_" + std::to_string(count);
        Metric((prefix + "_all").c_str(), r.allMs, "ms");
        Metric((prefix + "_longest_dispatch").c_str(), r.longestDispatchMs, "ms");
        Metric((prefix + "_longest_timer_gap").c_str(), r.longestTimerGapMs, "ms");
        failures += r.failures;
    }
    return failures ? 1 : 0;
}
