#include "sessions/DevicePanel.h"

#include "app/Language.h"
#include "app/LogFormat.h"
#include "platform/Anchors.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {
// The device area stacks its boxes top-down in the order they were added, each with its margins,
// and closes the gap when one goes. The stretch at the end keeps the boxes at the top.
QVBoxLayout* DeviceStack(QWidget* devPanel)
{
    if (auto* stack = qobject_cast<QVBoxLayout*>(devPanel->layout())) return stack;
    auto* stack = new QVBoxLayout(devPanel);
    stack->setContentsMargins(kDevBoxMargin, kDevBoxMargin, kDevBoxMargin, kDevBoxMargin);
    stack->setSpacing(2 * kDevBoxMargin);
    stack->addStretch(1);
    return stack;
}

QLabel* MakeLabel(QWidget* box, const QString& text, int left, int top, int height, int points,
                  bool bold)
{
    auto* label = new QLabel(text, box);
    QFont font = box->font();
    font.setPointSize(points);
    font.setBold(bold);
    label->setFont(font);
    // Sized to its text, like every label of the window.
    label->setGeometry(left, top, label->sizeHint().width(), height);
    return label;
}
}  // namespace

TFWLoaderDevGroup::TFWLoaderDevGroup(QWidget* devPanel, int top, const QString& serialText,
                                     const QString& bootloaderText, const QString& firmwareText)
    : RequestedTop(top)
{
    QVBoxLayout* stack = DeviceStack(devPanel);
    const int index = stack->count() - 1;  // boxes already stacked, before the stretch

    // The box is placed at once, as the stack will place it, so that its children can be laid
    // out from its width before the device area is next laid out (or while it is hidden).
    const int boxWidth = devPanel->width() - 2 * kDevBoxMargin;
    const int stackedTop = kDevBoxMargin + index * (kDevBoxHeight + 2 * kDevBoxMargin);
    Box = new QGroupBox(devPanel);
    Box->setTitle(Msg(44) + serialText);
    Box->setFixedHeight(kDevBoxHeight);
    stack->insertWidget(index, Box);
    Box->setGeometry(kDevBoxMargin, stackedTop, boxWidth, kDevBoxHeight);
    anchors_ = new Anchors(Box, boxWidth);

    // Places the control and keeps it anchored when the box is resized.
    const auto place = [this](QWidget* control, const QRect& design, int edges) {
        anchors_->Add(control, edges);
        anchors_->SetDesign(control, design);
    };

    // The progress bar is aligned to the bottom of the box's client area, with margins.
    const int inner = kDevBoxInset + kDevProgressMargin;
    const QRect progress(inner, kDevBoxHeight - inner - kDevProgressHeight, boxWidth - 2 * inner,
                         kDevProgressHeight);

    SerialCaption = MakeLabel(Box, Msg(45), 4, 16, 19, 12, false);
    SerialValue = MakeLabel(Box, serialText, 138, 19, 16, 10, true);
    FirmwareCaption = MakeLabel(Box, Msg(46), 209, 16, 19, 12, false);
    FirmwareValue = MakeLabel(Box, firmwareText, 347, 19, 16, 10, true);
    const int x = std::max(devPanel->width() - kBootCaptionRightGap, kBootCaptionMinLeft);
    BootCaption = MakeLabel(Box, Msg(47), x, 16, 19, 12, false);
    BootValue = MakeLabel(Box, bootloaderText, x + kBootValueOffset, 19, 16, 10, true);
    place(BootCaption, BootCaption->geometry(), Anchors::Right);
    place(BootValue, BootValue->geometry(), Anchors::Right);

    StatusLabel = new QLabel(Msg(7), Box);
    UpdateButton = new QPushButton(Msg(48), Box);
    Progress = new QProgressBar(Box);
    Progress->setRange(0, 100);
    Progress->setValue(0);
    Progress->setTextVisible(false);
    place(Progress, progress, Anchors::Left | Anchors::Right);

    // The button ends one pixel right of the progress bar; the status line runs from the
    // progress bar's left end to just before the button.
    const QRect button(progress.left() + progress.width() - 99, 37, 100, 25);
    place(UpdateButton, button, Anchors::Right);
    UpdateButton->setEnabled(false);

    const QRect status(progress.left(), 38, button.left() - 4 - progress.left(), 20);
    place(StatusLabel, status, Anchors::Left | Anchors::Right);
    StatusLabel->setAlignment(Qt::AlignCenter);
    QFont statusFont = Box->font();
    statusFont.setPointSize(12);
    statusFont.setBold(true);
    StatusLabel->setFont(statusFont);
    SetDeviceStatus(*this, StatusLabel->text(), 0);
}

TFWLoaderDevGroup::~TFWLoaderDevGroup()
{
    if (Box) Box->setParent(nullptr);
    const QPointer<QLabel> labels[] = {SerialCaption, SerialValue, FirmwareCaption,
                                       FirmwareValue, BootCaption, BootValue};
    for (const QPointer<QLabel>& label : labels)
        if (label) label->setParent(nullptr);
    for (const QPointer<QLabel>& label : labels) delete label.data();
    delete Progress.data();
    delete UpdateButton.data();
    delete Box.data();  // the status line goes with it
}

void DestroyDevicePanel(TFWLoaderDevGroup* panel)
{
    delete panel;
}

void SetDeviceStatus(TFWLoaderDevGroup& panel, const QString& text, int kind)
{
    if (!panel.StatusLabel) return;
    const QPalette system = QApplication::palette();
    QPalette palette = panel.StatusLabel->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        // Error and Success in the log's colours; any other kind in the system's text colour.
        const QColor colour = kind == Error || kind == Success
                                  ? QColor::fromRgb(LogKindRgb(kind))
                                  : system.color(group, QPalette::WindowText);
        palette.setColor(group, QPalette::WindowText, colour);
    }
    panel.StatusLabel->setPalette(palette);
    panel.StatusLabel->setText(text);
}
