#pragma once
// The loader's one window and the holder of the state the rest of the loader shares. Members are
// defined in the files of the subsystems they serve; this file has the layout and start-up state.

#include "app/LoaderTexts.h"
#include "app/LogFormat.h"
#include "devices/Structs.h"
#include "devices/WorkerHost.h"
#include "firmware/FirmwareBlock.h"
#include "firmware/FirmwareImage.h"
#include "platform/WorkerThread.h"
#include "ui_MainForm.h"

#include <QDateTime>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <exception>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class Anchors;
class TOpenDialog;
class QTimer;
class TReadVersion;

class TMainForm;

// The process-wide main-window pointer (below): set when the window is built and cleared once it
// has stopped its workers, as the window's destruction ends. Only the window holds one.
class MainWindowPointer {
public:
    explicit MainWindowPointer(TMainForm* window);
    ~MainWindowPointer();
    MainWindowPointer(const MainWindowPointer&) = delete;
    MainWindowPointer& operator=(const MainWindowPointer&) = delete;

private:
    TMainForm* const window_;
};

// The window is the host of every worker (devices/WorkerHost.h): workers reach it only through
// that interface.
class TMainForm : public QWidget, public Ui::TMainForm, public TWorkerHost {
    Q_OBJECT
    // First member: cleared last, after the destructor has stopped the workers.
    MainWindowPointer mainWindowPointer_{this};

public:
    // arguments: the command line without the program path.
    explicit TMainForm(const QStringList& arguments, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Outside messages, dispatched like the two window messages the window handles itself.
    void HandleWindowMessage(quint32 message, quint64 wParam);

    // The device-change notification (537). wParam 7, the set of devices changed, restarts
    // DevTimer, so a burst of notifications leads to one scan 100 ms after the last of them.
    void WMDeviceChange(quint64 wParam);

    // Builds the record's panel below the existing ones and stores it in its Panel. Call it
    // after the record has joined DeviceList: the panel's top is DeviceList's size * 80.
    TFWLoaderDevGroup& CreateDevicePanel(TDevEntry& record);
    // Sets the status line of the device's panel in the colour of kind (1 Error, 2 Success,
    // other values the usual text colour); nothing happens for a device without a panel.
    void ShowDeviceStatus(TDevEntry& device, const QString& text, int kind);

    // ---- Device discovery (app/MainFormDiscovery.cpp); window thread only.
    // The pass that runs, null when none does. At most one pass runs at a time.
    TReadVersion* CurrentScan = nullptr;
    // DevTimer's handler: one-shot, so a later pass needs a device-change notification.
    void DevTimerTimer();
    // RescanTimer's handler. Nothing enables that timer: discovery never runs periodically.
    void RescanTimerTimer();
    // Starts a pass unless one runs. A request made while one runs is remembered: one more pass
    // starts 100 ms after that pass has finished, so a device plugged in meanwhile is not lost.
    void StartScan();
    // Run on the window thread at the end of a pass, while its thread waits: removes the
    // detached devices, adds the new ones with their panels and logs what changed.
    void ScanFinished(TReadVersion& scan) override;
    // ---- end of device discovery

    // ---- Write session (app/MainFormWrite.cpp); window thread only.
    // Click handler of every device panel's update button; sender is the button.
    void UpdateButtonClick(QObject* sender);
    // Creates and starts the session of one device (message 17 when one runs already).
    void StartFirmwareWrite(TDevEntry& device);
    // The termination handler of every session: the verdict on the panel and in the log, the
    // button enabled again, and the record removed when the device vanished meanwhile.
    void WriteFinished(TWriteThread& session) override;
    void ShowProgress(TDevEntry& device, int position) override;
    QString FirmwareSource() const override;
    // Appends the ended session's line to the day's session record, when the log file is on.
    void WriteSessionRecord(const TWriteThread& session);
    // Any thread: the copy of "Start application" that sessions read.
    bool StartApplicationRequested() const override;
    // ---- end of write session

    // Components that the layout file cannot hold.
    QTimer* DevTimer = nullptr;
    QTimer* RescanTimer = nullptr;
    std::unique_ptr<TOpenDialog> OpenDialog1;  // shown by btnFwOpen (app/OpenDialog.h)

    // Shared state, in the order the constructor sets it up.
    TFirmwareVersion LoadedFirmware;
    QString ExeDirectory;
    TDeviceList DeviceList;
    bool ExternalFirmwareAllowed = false;
    bool FirmwareFromResource = false;
    bool SkipCompatibilityCheck = false;
    std::recursive_mutex DeviceListLock;

    // Labels size to their text: wider than designed when the font or the language needs it.
    // Right-aligned labels grow to the left. Called again whenever captions change.
    void FitLabelsToText();

    // ---- Event log (app/MainFormLog.cpp); window thread only. Workers hand lines over through
    // their host (WorkerLog).
    void AddLog(int kind, const QString& format, std::initializer_list<LogArg> args = {});
    void AddDeviceLog(int kind, int32_t device, const QString& format,
                      std::initializer_list<LogArg> args = {});
    void AddLogText(int kind, const QString& text);
    void AddDeviceLogText(int kind, int32_t device, const QString& text);
    void AddLogLine(int kind, const QString& line);
    void WriteLogFile(const QString& line);
    // A log file or session record write that failed is said once, in red and on standard error,
    // with the file and the system's reason; again only after a write of that file succeeded.
    void NoteFileWrite(bool& failing, bool written, LoaderTextId text, const QString& path,
                       const QString& reason);
    // The local clock that names the daily file and stamps its lines; tests set a fixed one.
    std::function<QDateTime()> LogClock = [] { return QDateTime::currentDateTime(); };
    // ExeDirectory, or the executable's folder while ExeDirectory is not set yet.
    QString LoaderDirectory() const;
    // Where the settings file and the Logs folder live: beside the executable where the user may
    // write there, the user's own folders otherwise (set by the show sequence). While unset, both
    // follow LoaderDirectory().
    QString SettingsDirectory;
    QString LogsDirectory;
    QString SettingsFolder() const;
    QString LogsFolder() const;
    // ---- end of event log

    // ---- Settings file (app/MainFormSettings.cpp); window thread only. Each raises LoaderError
    // "Unable to write to <path>" when the system refuses a write.
    void PrepareSettings();
    void LoadSettings();
    void SaveSettings();
    // SettingsFolder() + "GXFWLoader.ini".
    QString SettingsFilePath() const;
    // The height of reLog as the splitter above it sets it.
    int LogHeight();
    void SetLogHeight(int height);
    // ---- end of settings file

    // ---- Firmware selection (app/MainFormFirmware.cpp); window thread only.
    // Fills blocks and version from the embedded image or, in external mode, the file named in
    // edFWFile; shows the version and date and logs the load. False after logging a failure.
    bool LoadFirmware(TFirmwareBlockList& blocks, TFirmwareVersion& version) override;
    bool LoadFirmwareFile(TFirmwareBlockList& blocks, TFirmwareVersion& version);
    bool LoadFirmwareResource(TFirmwareBlockList& blocks, TFirmwareVersion& version);
    void btnFwLoadClick();  // Read
    void btnFwOpenClick();  // "..."
    // ---- end of firmware selection

    // ---- Show and close sequences (app/MainFormShowClose.cpp)
    // The loader sets this; a window built by a test runs neither sequence unless it asks to.
    bool RunsShowAndCloseSequences = false;
    // The executable's folder with its trailing separator; tests point it at a folder of their own.
    std::function<QString()> ExecutableDirectory;
    void FormShow();
    void FormDestroy();
    // Binds the driver libraries not bound yet; the message box when neither can be bound (the
    // window then closes), a red log line for the one that is missing otherwise.
    void BindDriverLibraries();
    // The close was asked for by the system (SIGINT, SIGTERM), not by a person: nothing it does
    // waits for one. Its errors go to standard error and to the log instead of a message box.
    void CloseUnattended();
    bool ClosingUnattended() const { return closingUnattended_; }
    // Shows what an event handler, a close step or a worker's hand-over raised: in a message box,
    // or, while closing unattended, on standard error and in the log.
    void ReportError(std::exception_ptr error);
    // ---- end of show and close sequences

    // ---- Workers (app/MainFormWorkers.cpp)
    // Every live worker of the window. The close sequence stops and awaits them all before any
    // record is freed.
    WorkerRegistry Workers{this};
    // The worker host: what workers may reach of the window.
    QObject* WindowThreadObject() override { return this; }
    void WorkerLog(int kind, int32_t device, const QString& text) override;
    TDeviceList& SharedDeviceList() override { return DeviceList; }
    std::recursive_mutex& SharedDeviceListLock() override { return DeviceListLock; }
    // ---- end of workers

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Stops every worker thread that may still run and waits for them, serving their hand-overs
    // meanwhile. Part of the close sequence, before DeviceListLock is taken.
    // (app/MainFormWorkers.cpp)
    void StopWorkers();
    void SetUpDiscovery();  // app/MainFormDiscovery.cpp
    // DevPanel's minimum height for the panels it holds (app/MainFormDiscovery.cpp).
    void UpdateDevPanelHeight();
    void SetUpWriteSessions();  // app/MainFormWrite.cpp
    std::atomic<bool> startApplication_{false};
    bool showSequenceRan_ = false;
    // The show sequence has made the driver bindings (or tried to): a window that runs the
    // sequence starts no pass before, or the pass would find no library.
    bool driversBound_ = false;
    // A scan was asked for while a pass ran: one more pass follows it.
    bool scanRequestedWhileRunning_ = false;
    // Logs, in red, the devices a pass did not add, each once per plug-in.
    void ReportRejectedDevices(const TReadVersion& scan);
    // The devices already reported as not added, with their codes, until they are unplugged.
    std::map<TDeviceKey, int32_t> reportedRejections_;
    bool closingUnattended_ = false;
    // The last write of the log file, of the session record, failed (and was said).
    bool logFileFailing_ = false;
    bool sessionRecordFailing_ = false;
    FirmwareLogFunction FirmwareLog();
    void SetUpLayout();
    void SetUpLogView();       // app/MainFormLog.cpp
    void LayOutWhileHidden();  // app/MainFormSettings.cpp
    Anchors* fileGroupAnchors_ = nullptr;
};

// The process-wide main-window pointer: the one window while it exists (MainWindowPointer sets
// and clears it). Workers do not use it; they reach the window through their host. Atomic, since
// the start-up's signal handling reads it while the window may be going.
extern std::atomic<TMainForm*> MainForm;

// Layout values at 96 dots per inch.
inline constexpr int kDesignClientWidth = 664;
inline constexpr int kDesignClientHeight = 456;
inline constexpr int kMinimumWindowWidth = 680;
inline constexpr int kDesignLogHeight = 165;
inline constexpr int kDevPanelMinimumHeight = 90;
inline constexpr const char* kOpenDialogFilter =
    "Encode Raw binary|*.eraw|Raw binary|*.raw|Any files|*.*";

// The log view keeps this many newest lines and drops the oldest; the daily file keeps all. A
// loader on a production line runs for days: the view's memory and the cost of a new line must
// not grow with the run.
inline constexpr int kLogViewMaxLines = 20000;
