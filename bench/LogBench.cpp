// The log view over a long run: appends lines to a shown window while the event loop lays out and
// paints, and prints the time per line at the start and the end of each run and the resident
// memory at every tenth. First 1,000,000 lines with the log file off, then 100,000 more with the
// file on, starting from the full view.
//
//   QT_QPA_PLATFORM=offscreen build/default/bench/log_bench [lines of the first run]

#include "app/Language.h"
#include "app/MainForm.h"
#include "bench/Metrics.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {
constexpr long kLinesPerEventPass = 32;

double ResidentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) return 0;
    return fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct RunResult {
    double firstUsPerLine = 0;
    double lastUsPerLine = 0;
    std::vector<double> usPerLine;    // of each tenth
    std::vector<double> residentMiB;  // after each tenth
};

// Lines as a write session logs them: elapsed time, sector, part, some errors.
void LogOne(TMainForm& form, long i)
{
    const int sector = int(i / 9 % 28);
    switch (i % 9) {
        case 0:
            form.AddDeviceLog(Normal, 1234567, MessageText(CurrentLanguage, 61), {int(i), sector});
            break;
        case 8:
            form.AddDeviceLog(Error, 1234567, MessageText(CurrentLanguage, 65),
                              {int(i), sector, 14, 14, 131, sector, 0x08004000 + sector * 4096});
            break;
        default:
            form.AddDeviceLog(Normal, 1234567, MessageText(CurrentLanguage, 62),
                              {int(i), int(i % 9 - 1), 8});
    }
}

RunResult Run(TMainForm& form, long lines, long start)
{
    RunResult result;
    const long tenth = std::max(1L, lines / 10);
    QElapsedTimer timer;
    timer.start();
    qint64 tenthStart = timer.nsecsElapsed();
    for (long n = 1; n <= lines; ++n) {
        LogOne(form, start + n);
        // The event loop runs as lines arrive and lays out and paints what changed. Not after
        // every line: a paint pass on the offscreen platform costs over a millisecond (mostly
        // thread hand-offs inside Qt), which would make the run take half an hour.
        if (n % kLinesPerEventPass == 0) QCoreApplication::processEvents();
        if (n % tenth == 0) {
            const qint64 now = timer.nsecsElapsed();
            const double usPerLine = double(now - tenthStart) / 1000.0 / double(tenth);
            if (n == tenth) result.firstUsPerLine = usPerLine;
            result.lastUsPerLine = usPerLine;
            result.usPerLine.push_back(usPerLine);
            result.residentMiB.push_back(ResidentMiB());
            tenthStart = timer.nsecsElapsed();  // the memory reading does not count
        }
    }
    return result;
}

void Print(const char* title, long lines, long limitReachedAt, const RunResult& r)
{
    std::printf("%s: %ld lines\n", title, lines);
    std::printf(
        "  time per line, first 10%%: %.1f us, last 10%%: %.1f us, last/first %.2f (goal "
        "<= 1.20)\n",
        r.firstUsPerLine, r.lastUsPerLine, r.lastUsPerLine / r.firstUsPerLine);
    std::printf("  time per line in each 10%%, us:");
    for (double t : r.usPerLine) std::printf(" %.1f", t);
    std::printf("\n");
    std::printf("  resident memory at each 10%%, MiB:");
    for (double m : r.residentMiB) std::printf(" %.1f", m);
    std::printf("\n");
    // From the first sample taken with a full view on.
    const long tenth = std::max(1L, lines / 10);
    double low = 0, high = 0;
    bool any = false;
    for (size_t i = 0; i < r.residentMiB.size(); ++i) {
        if (long(i + 1) * tenth < limitReachedAt) continue;
        low = any ? std::min(low, r.residentMiB[i]) : r.residentMiB[i];
        high = any ? std::max(high, r.residentMiB[i]) : r.residentMiB[i];
        any = true;
    }
    if (any)
        std::printf("  once the view is full: %.1f to %.1f MiB, spread %.1f%% (goal <= 10%%)\n",
                    low, high, (high - low) / low * 100.0);
}
}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long firstRun = argc > 1 ? std::max(10L, std::atol(argv[1])) : 1000000L;
    const long secondRun = std::max(10L, firstRun / 10);

    QTemporaryDir dir;  // the log files of the second run
    CurrentLanguage = kLanguageEnglish;
    TMainForm form{QStringList()};
    form.ExeDirectory = dir.path() + QLatin1Char('/');
    form.show();
    QCoreApplication::processEvents();
    std::printf("view limit: %d lines; resident memory before the first line: %.1f MiB\n",
                kLogViewMaxLines, ResidentMiB());

    form.cbWritelogToFile->setChecked(false);
    const RunResult off = Run(form, firstRun, 0);
    Print("log file off", firstRun, kLogViewMaxLines, off);
    Metric("file_off_first_tenth", off.firstUsPerLine, "us/line");
    Metric("file_off_last_tenth", off.lastUsPerLine, "us/line");
    Metric("file_off_resident_end", off.residentMiB.empty() ? 0 : off.residentMiB.back(), "MiB");

    form.cbWritelogToFile->setChecked(true);
    const RunResult on = Run(form, secondRun, firstRun);
    Print("log file on, full view", secondRun, 0, on);
    Metric("file_on_per_line", on.lastUsPerLine, "us/line");

    const QStringList files = QDir(dir.filePath(QStringLiteral("Logs"))).entryList(QDir::Files);
    qint64 bytes = 0;
    for (const QString& f : files) bytes += QFileInfo(dir.filePath("Logs/" + f)).size();
    std::printf("log files written: %lld, %.1f MiB\n", qlonglong(files.size()),
                double(bytes) / (1024.0 * 1024.0));
    return 0;
}
