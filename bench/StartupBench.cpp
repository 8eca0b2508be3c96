// Start-up: from launching the loader to its first scan reaching a device. The loader runs as a
// process (a copy in a folder of its own, offscreen, the simulated libraries on its library path)
// with one simulated device attached; the time until the device's journal shows the scan opening
// it is taken, several times.
//
//   build/default/bench/startup_bench [runs]

#include "bench/Metrics.h"
#include "sim/SimFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <signal.h>

namespace {
// Milliseconds from the launch to the device's first open; negative when it did not come.
double OneStart()
{
    QTemporaryDir exe, runtime, state;
    const QString copy = exe.filePath(QStringLiteral("GXFWLoader"));
    QFile::copy(QStringLiteral(GX_LOADER_PATH), copy);
    QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner);
    QFile ini(exe.filePath(QStringLiteral("GXFWLoader.ini")));
    if (ini.open(QIODevice::WriteOnly)) ini.write("[COMMON]\nLanguage=English\n");
    ini.close();
    gxsim::SimFolder sim(state.path().toStdString());
    gxsim::DeviceSetup device;
    device.Serial = "6001";
    device.Kind = gxsim::Driver::Vendor;
    sim.Add(device);
    const QString journal = QString::fromStdString(sim.JournalPath("6001"));

    QProcess loader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("GXSIM_DIR"), state.path());
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(GX_SIM_LIB_DIR));
    loader.setProcessEnvironment(env);
    loader.setWorkingDirectory(exe.path());
    QElapsedTimer clock;
    clock.start();
    loader.start(copy, {});
    double ms = -1;
    while (clock.elapsed() < 20000) {
        QFile f(journal);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains("open")) {
            ms = clock.nsecsElapsed() / 1e6;
            break;
        }
        QThread::usleep(500);
    }
    ::kill(static_cast<pid_t>(loader.processId()), SIGTERM);
    loader.waitForFinished(20000);
    return ms;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = OneStart();
        std::printf("start %d: %.1f ms to the first scan's open\n", i + 1, ms);
        if (ms >= 0) times.push_back(ms);
    }
    if (times.empty()) return 1;
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("median %.1f ms, fastest %.1f ms (the first scan comes 100 ms after the window)\n",
                median, times.front());
    Metric("to_first_scan_median", median, "ms");
    Metric("to_first_scan_fastest", times.front(), "ms");
    return 0;
}
