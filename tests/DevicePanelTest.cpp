#include "app/Language.h"
#include "app/MainForm.h"
#include "sessions/DevicePanel.h"
#include "tests/TestSupport.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
class DevicePanel : public testing::Test {
protected:
    TMainForm form{{}};

    // The device area as designed; a hidden window has not laid it out yet. The devices here are
    // made by hand: no scan may reconcile them away (it would find none).
    void SetUp() override
    {
        form.DevTimer->stop();
        form.DevPanel->resize(kDesignClientWidth, 300);
    }
    void TearDown() override { CurrentLanguage = kLanguageRussian; }

    // A device as a scan hands it over: joins DeviceList, then gets its panel.
    TDevEntry& AddDevice(const char* serial, bool inBootloader, const char* firmware = "GXST-1.44",
                         const char* bootloader = "GXBL-2.05b")
    {
        auto record = std::make_unique<TDevEntry>(serial, 0xFFFF, FtdiDriver);
        record->InBootloader = inBootloader;
        ParseVersion(record->FirmwareVersion, firmware);
        ParseVersion(record->BootloaderVersion, bootloader);
        form.DeviceList.push_back(std::move(record));
        TDevEntry& added = *form.DeviceList.back();
        form.CreateDevicePanel(added);
        return added;
    }

    static QColor TextColour(const TFWLoaderDevGroup& panel)
    {
        return panel.StatusLabel->palette().color(QPalette::WindowText);
    }
    static QColor SystemTextColour() { return QApplication::palette().color(QPalette::WindowText); }
};

class DevicePanelLanguage : public DevicePanel, public testing::WithParamInterface<int> {};

TEST_P(DevicePanelLanguage, ShowsTheDeviceValuesUnderCatalogueCaptions)
{
    CurrentLanguage = GetParam();
    const auto text = [](int n) { return MessageText(CurrentLanguage, n); };
    TDevEntry& device = AddDevice("42", true);
    ASSERT_TRUE(device.Panel);
    const TFWLoaderDevGroup& panel = *device.Panel;

    // "Device" and the serial with nothing between them.
    EXPECT_EQ(panel.Box->title(), GetParam() == kLanguageRussian ? QString::fromUtf16(u"Прибор42")
                                                                 : QStringLiteral("Device42"));
    EXPECT_EQ(panel.SerialCaption->text(), text(45));
    EXPECT_EQ(panel.SerialValue->text(), QStringLiteral("42"));
    EXPECT_EQ(panel.FirmwareCaption->text(), text(46));
    EXPECT_EQ(panel.FirmwareValue->text(), QStringLiteral("GXST-1.44"));
    EXPECT_EQ(panel.BootCaption->text(), text(47));
    EXPECT_EQ(panel.BootValue->text(), QStringLiteral("GXBL-2.05b"));
    EXPECT_EQ(panel.StatusLabel->text(), text(7));
    EXPECT_EQ(panel.UpdateButton->text(), text(48));
    // The button waits for the scan to decide whether the device can be written.
    EXPECT_FALSE(panel.UpdateButton->isEnabled());
    EXPECT_EQ(panel.Progress->minimum(), 0);
    EXPECT_EQ(panel.Progress->maximum(), 100);
    EXPECT_EQ(panel.Progress->value(), 0);

    EXPECT_EQ(panel.Box->parentWidget(), form.DevPanel);
    QWidget* const children[] = {panel.SerialCaption, panel.BootValue, panel.StatusLabel,
                                 panel.UpdateButton, panel.Progress};
    for (QWidget* child : children) EXPECT_EQ(child->parentWidget(), panel.Box.data());
}

TEST_P(DevicePanelLanguage, CaptionsEndBeforeTheirValues)
{
    // The values sit at fixed places: a face wider than the design's runs the captions into them.
    CurrentLanguage = GetParam();
    TDevEntry& device = AddDevice("2147483647", true);
    ASSERT_TRUE(device.Panel);
    const TFWLoaderDevGroup& panel = *device.Panel;
    const std::pair<QLabel*, QLabel*> pairs[] = {{panel.SerialCaption, panel.SerialValue},
                                                 {panel.FirmwareCaption, panel.FirmwareValue},
                                                 {panel.BootCaption, panel.BootValue}};
    for (const auto& [caption, value] : pairs) {
        const int textEnd =
            caption->x() + caption->fontMetrics().horizontalAdvance(caption->text());
        EXPECT_LE(textEnd, value->x()) << caption->text().toStdString() << " (font "
                                       << caption->fontInfo().family().toStdString() << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, DevicePanelLanguage,
                         testing::Values(kLanguageRussian, kLanguageEnglish));

TEST_F(DevicePanel, ApplicationModeDeviceHasNoBootloaderValueAndADisabledButton)
{
    TDevEntry& device = AddDevice("007", false, "Unknown");
    EXPECT_EQ(device.Panel->Box->title(), MessageText(CurrentLanguage, 44) + QStringLiteral("7"));
    EXPECT_EQ(device.Panel->FirmwareValue->text(), QStringLiteral("Empty"));
    EXPECT_TRUE(device.Panel->BootValue->text().isEmpty());
    EXPECT_FALSE(device.Panel->UpdateButton->isEnabled());
}

TEST_F(DevicePanel, NewPanelSaysConnectedInBoldTwelvePointInTheUsualColour)
{
    const TFWLoaderDevGroup& panel = *AddDevice("1", true).Panel;
    EXPECT_EQ(panel.StatusLabel->text(), MessageText(CurrentLanguage, 7));
    EXPECT_TRUE(panel.StatusLabel->font().bold());
    EXPECT_EQ(panel.StatusLabel->font().pointSize(), 12);
    EXPECT_EQ(panel.StatusLabel->alignment(), Qt::AlignCenter);
    EXPECT_EQ(TextColour(panel), SystemTextColour());
}

TEST_F(DevicePanel, ControlsSitWhereTheDesignPutsThem)
{
    const TFWLoaderDevGroup& panel = *AddDevice("1", true).Panel;
    EXPECT_EQ(panel.Box->geometry(), QRect(3, 3, 658, 90));
    EXPECT_EQ(panel.Progress->geometry(), QRect(5, 65, 648, 20));
    EXPECT_EQ(panel.UpdateButton->geometry(), QRect(554, 37, 100, 25));
    // The button ends one pixel right of the progress bar; the status line ends before it.
    EXPECT_EQ(panel.UpdateButton->geometry().right(), panel.Progress->geometry().right() + 1);
    EXPECT_EQ(panel.StatusLabel->geometry(), QRect(5, 38, 554 - 4 - 5, 20));

    const struct {
        const QLabel* label;
        QPoint pos;
        int height, points;
        bool bold;
    } labels[] = {{panel.SerialCaption, {4, 16}, 19, 12, false},
                  {panel.SerialValue, {138, 19}, 16, 10, true},
                  {panel.FirmwareCaption, {209, 16}, 19, 12, false},
                  {panel.FirmwareValue, {347, 19}, 16, 10, true},
                  {panel.BootCaption, {429, 16}, 19, 12, false},
                  {panel.BootValue, {429 + 146, 19}, 16, 10, true}};
    for (const auto& l : labels) {
        EXPECT_EQ(l.label->pos(), l.pos) << l.label->text().toStdString();
        EXPECT_EQ(l.label->height(), l.height);
        EXPECT_EQ(l.label->font().pointSize(), l.points);
        EXPECT_EQ(l.label->font().bold(), l.bold);
        EXPECT_EQ(l.label->font().family(), form.font().family());
        EXPECT_GE(l.label->width(), l.label->sizeHint().width());  // sized to its text
    }
    EXPECT_EQ(panel.UpdateButton->font().pixelSize(), 11);  // the window's font
}

struct BootColumn {
    int devPanelWidth, caption, value;
};
class BootloaderColumn : public DevicePanel, public testing::WithParamInterface<BootColumn> {};

// The bootloader captions start 235 pixels left of the device area's right edge, but never
// over the firmware captions.
TEST_P(BootloaderColumn, FollowsTheDeviceAreaWidthWithAFloor)
{
    form.DevPanel->resize(GetParam().devPanelWidth, 300);
    const TFWLoaderDevGroup& panel = *AddDevice("1", true).Panel;
    EXPECT_EQ(panel.BootCaption->x(), GetParam().caption);
    EXPECT_EQ(panel.BootValue->x(), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Widths, BootloaderColumn,
                         testing::Values(BootColumn{600, 423, 569}, BootColumn{657, 423, 569},
                                         BootColumn{658, 423, 569}, BootColumn{664, 429, 575},
                                         BootColumn{800, 565, 711}));

TEST_F(DevicePanel, WideningTheWindowKeepsTheRightHandControlsAnchored)
{
    form.show();
    ASSERT_TRUE(WaitFor([&] { return form.DevPanel->width() > 0; }));
    const int before = form.DevPanel->width();
    const TFWLoaderDevGroup& panel = *AddDevice("1", true).Panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Box->width() == before - 6; }));
    const QRect caption = panel.BootCaption->geometry();
    const QRect button = panel.UpdateButton->geometry();
    const QRect status = panel.StatusLabel->geometry();
    const QRect serial = panel.SerialValue->geometry();

    form.resize(form.width() + 100, form.height());
    ASSERT_TRUE(WaitFor([&] { return panel.Box->width() == before + 100 - 6; }));
    EXPECT_EQ(panel.BootCaption->geometry(), caption.translated(100, 0));
    EXPECT_EQ(panel.UpdateButton->geometry(), button.translated(100, 0));
    EXPECT_EQ(panel.StatusLabel->geometry(), status.adjusted(0, 0, 100, 0));
    EXPECT_EQ(panel.SerialValue->geometry(), serial);
    EXPECT_EQ(panel.Progress->width(), panel.Box->width() - 10);
    EXPECT_EQ(panel.Progress->y(), 90 - 5 - 20);
    EXPECT_EQ(panel.UpdateButton->geometry().right(), panel.Progress->geometry().right() + 1);
}

TEST_F(DevicePanel, PanelsStackInCreationOrder)
{
    TDevEntry* devices[] = {&AddDevice("11", true), &AddDevice("22", false),
                            &AddDevice("33", true)};
    const auto expectStack = [&](const char* when) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(devices[i]->Panel->RequestedTop, 80 * (i + 1)) << when;
            EXPECT_EQ(devices[i]->Panel->Box->geometry(),
                      QRect(3, 3 + 96 * i, form.DevPanel->width() - 6, 90))
                << when;
        }
    };
    expectStack("as built");
    form.show();
    form.resize(kDesignClientWidth, 800);  // room for three boxes
    ASSERT_TRUE(WaitFor([&] { return form.DevPanel->height() >= 3 * 96; }));
    expectStack("once laid out");

    // A box that goes leaves no gap.
    form.DeviceList.erase(form.DeviceList.begin());
    EXPECT_TRUE(WaitFor([&] {
        return form.DeviceList[0]->Panel->Box->y() == 3 &&
               form.DeviceList[1]->Panel->Box->y() == 99;
    }));
    // A new one goes below the remaining ones, whatever its top.
    TDevEntry& added = AddDevice("44", true);
    EXPECT_EQ(added.Panel->RequestedTop, 240);
    EXPECT_TRUE(WaitFor([&] { return added.Panel->Box->y() == 195; }));
}

struct StatusCase {
    int kind;
    QColor colour;  // invalid: the system's text colour
};
class StatusColour : public DevicePanel, public testing::WithParamInterface<StatusCase> {};

TEST_P(StatusColour, FollowsTheKind)
{
    TDevEntry& device = AddDevice("5", true);
    // From a coloured status back to the kind's own colour.
    form.ShowDeviceStatus(device, QStringLiteral("first"), GetParam().kind == 1 ? 2 : 1);
    form.ShowDeviceStatus(device, QStringLiteral("status text"), GetParam().kind);
    EXPECT_EQ(device.Panel->StatusLabel->text(), QStringLiteral("status text"));
    const QColor expected = GetParam().colour.isValid() ? GetParam().colour : SystemTextColour();
    EXPECT_EQ(TextColour(*device.Panel), expected);
    EXPECT_EQ(device.Panel->StatusLabel->palette().color(QPalette::Inactive, QPalette::WindowText),
              expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, StatusColour,
                         testing::Values(StatusCase{0, QColor()}, StatusCase{1, QColor(255, 0, 0)},
                                         StatusCase{2, QColor(0, 128, 0)}, StatusCase{3, QColor()},
                                         StatusCase{-1, QColor()}));

TEST_F(DevicePanel, StatusOfADeviceWithoutPanelChangesNothing)
{
    TDevEntry& shown = AddDevice("1", true);
    TDevEntry bare("2", 0xFFFF, FtdiDriver);
    form.ShowDeviceStatus(bare, QStringLiteral("lost"), 1);
    EXPECT_FALSE(bare.Panel);
    EXPECT_EQ(shown.Panel->StatusLabel->text(), MessageText(CurrentLanguage, 7));
    EXPECT_EQ(TextColour(*shown.Panel), SystemTextColour());
    EXPECT_TRUE(form.reLog->toPlainText().isEmpty());
}

TEST_F(DevicePanel, DestroyingTheRecordDestroysEveryControlInOrder)
{
    TDevEntry& device = AddDevice("1", true);
    TFWLoaderDevGroup& panel = *device.Panel;
    QWidget* const built[] = {panel.SerialCaption, panel.SerialValue,  panel.FirmwareCaption,
                              panel.FirmwareValue, panel.BootCaption,  panel.BootValue,
                              panel.Progress,      panel.UpdateButton, panel.Box,
                              panel.StatusLabel};
    std::vector<QPointer<QWidget>> controls(std::begin(built), std::end(built));
    const char* names[] = {"SerialCaption", "SerialValue", "FirmwareCaption", "FirmwareValue",
                           "BootCaption",   "BootValue",   "Progress",        "UpdateButton",
                           "Box",           "StatusLabel"};
    // Record each control's name and whether it still had a parent as it went.
    std::vector<std::pair<QString, bool>> gone;
    for (int i = 0; i < 10; ++i) {
        controls[i]->setObjectName(QString::fromLatin1(names[i]));
        QObject::connect(controls[i], &QObject::destroyed, [&gone](QObject* o) {
            gone.emplace_back(o->objectName(), o->parent() != nullptr);
        });
    }

    form.DeviceList.clear();
    for (const QPointer<QWidget>& control : controls) EXPECT_TRUE(control.isNull());
    EXPECT_TRUE(form.DevPanel->findChildren<QGroupBox*>().isEmpty());

    ASSERT_EQ(gone.size(), 10u);
    // The box and the six labels were taken out of their parents first; then the labels, the
    // progress bar, the button and the box go, the status line with the box.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(gone[i].first, QString::fromLatin1(names[i]));
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(gone[i].second) << names[i];
    EXPECT_TRUE(gone[6].second && gone[7].second);  // still in the box
    const std::pair<QString, bool> box{QStringLiteral("Box"), false};
    const std::pair<QString, bool> status{QStringLiteral("StatusLabel"), true};
    EXPECT_TRUE((gone[8] == box && gone[9] == status) || (gone[8] == status && gone[9] == box));
}

TEST(DevicePanelLifetime, ARecordOutlivingTheWindowDoesNotDestroyItsControlsTwice)
{
    auto record = std::make_unique<TDevEntry>("9", 0xFFFF, FtdiDriver);
    QPointer<QGroupBox> box;
    {
        TMainForm form({});
        box = form.CreateDevicePanel(*record).Box;
        ASSERT_FALSE(box.isNull());
    }
    EXPECT_TRUE(box.isNull());
    ASSERT_TRUE(record->Panel);
    EXPECT_TRUE(record->Panel->StatusLabel.isNull());
    // Neither a status nor the record's end touches the window's destroyed controls.
    SetDeviceStatus(*record->Panel, QStringLiteral("late"), 1);
    record.reset();
}
}  // namespace
