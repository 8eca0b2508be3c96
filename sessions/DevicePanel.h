#pragma once
// The panel of one device in the window's device area: a group box with the device's serial
// number, firmware and bootloader versions, a status line, the update button and a progress bar.
// It is a plain object holding its controls, owned by the device's record.

#include <QPointer>
#include <QString>

class Anchors;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

class TFWLoaderDevGroup {
public:
    // devPanel: the window's device area, which stacks the boxes in the order they are made.
    // top: where the caller wants the box; a new box always goes below the existing ones, so
    // the value decides nothing more.
    TFWLoaderDevGroup(QWidget* devPanel, int top, const QString& serialText,
                      const QString& bootloaderText, const QString& firmwareText);
    // Takes the box out of the device area, then destroys the controls.
    ~TFWLoaderDevGroup();
    TFWLoaderDevGroup(const TFWLoaderDevGroup&) = delete;
    TFWLoaderDevGroup& operator=(const TFWLoaderDevGroup&) = delete;

    // Guarded pointers: a control the window has already destroyed reads as null and is not
    // destroyed twice.
    QPointer<QGroupBox> Box;
    QPointer<QLabel> SerialCaption;
    QPointer<QLabel> SerialValue;
    QPointer<QLabel> FirmwareCaption;
    QPointer<QLabel> FirmwareValue;
    QPointer<QLabel> BootCaption;
    QPointer<QLabel> BootValue;
    QPointer<QLabel> StatusLabel;
    QPointer<QPushButton> UpdateButton;
    QPointer<QProgressBar> Progress;

    // The top position the creator asked for (kept for inspection).
    const int RequestedTop;

private:
    Anchors* anchors_ = nullptr;  // child of Box
};

// The destroy function a record's Panel holder calls.
void DestroyDevicePanel(TFWLoaderDevGroup* panel);

// Status colours by log kind: Error red, Success green, anything else the system's text colour.
void SetDeviceStatus(TFWLoaderDevGroup& panel, const QString& text, int kind);

// Geometry, in pixels at 96 dots per inch.
inline constexpr int kDevBoxHeight = 90;
inline constexpr int kDevBoxMargin = 3;       // around each box in the device area
inline constexpr int kDevBoxInset = 2;        // the box's frame, inside which its children align
inline constexpr int kDevProgressMargin = 3;  // around the progress bar
inline constexpr int kDevProgressHeight = 20;
inline constexpr int kBootCaptionRightGap = 235;  // X = device area width - 235 ...
inline constexpr int kBootCaptionMinLeft = 423;   // ... but at least 423
inline constexpr int kBootValueOffset = 146;
