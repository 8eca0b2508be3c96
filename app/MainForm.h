#pragma once
// The loader's one window and the holder of the state the rest of the loader shares. Members are
// defined in the files of the subsystems they serve; this file has the layout and start-up state.

#include "devices/Structs.h"
#include "ui_MainForm.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <mutex>
#include <vector>

class Anchors;
class QFileDialog;
class QTimer;

class TMainForm : public QWidget, public Ui::TMainForm {
    Q_OBJECT
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

    // Components that the layout file cannot hold.
    QTimer* DevTimer = nullptr;
    QTimer* RescanTimer = nullptr;
    QFileDialog* OpenDialog1 = nullptr;

    // Shared state, in the order the constructor sets it up.
    TFirmwareVersion LoadedFirmware;
    QString ExeDirectory;
    std::vector<std::unique_ptr<TDevEntry>> DeviceList;
    bool ExternalFirmwareAllowed = false;
    bool FirmwareFromResource = false;
    bool SkipCompatibilityCheck = false;
    std::recursive_mutex DeviceListLock;

    // Labels size to their text: wider than designed when the font or the language needs it.
    // Right-aligned labels grow to the left. Called again whenever captions change.
    void FitLabelsToText();

private:
    void SetUpLayout();
    Anchors* fileGroupAnchors_ = nullptr;
};

// The process-wide main-window pointer through which worker threads reach the window.
extern TMainForm* MainForm;

// Layout values at 96 dots per inch.
inline constexpr int kDesignClientWidth = 664;
inline constexpr int kDesignClientHeight = 456;
inline constexpr int kMinimumWindowWidth = 680;
inline constexpr int kDesignLogHeight = 165;
inline constexpr int kDevPanelMinimumHeight = 90;
inline constexpr const char* kOpenDialogFilter =
    "Encode Raw binary|*.eraw|Raw binary|*.raw|Any files|*.*";
