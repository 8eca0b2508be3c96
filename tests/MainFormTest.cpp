#include "app/MainForm.h"
#include "app/OpenDialog.h"
#include "tests/TestSupport.h"

#include <QFileDialog>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
TEST(MainFormLayout, ComponentsCarryTheirNamesAndParents)
{
    TMainForm form({});
    const struct {
        const char* name;
        const char* parent;
    } expected[] = {
        {"gbFile", nullptr},        {"lblFileName", "gbFile"},    {"edFWFile", "gbFile"},
        {"btnFwOpen", "gbFile"},    {"btnFwLoad", "gbFile"},      {"lblFileDate", "gbFile"},
        {"lblFirmwDate", "gbFile"}, {"lblFileVersion", "gbFile"}, {"lblFileVer", "gbFile"},
        {"cbAutoWrite", "gbFile"},  {"cbStartApp", "gbFile"},     {"cbWritelogToFile", "gbFile"},
        {"Panel1", nullptr},        {"ScrollBox1", "Splitter1"},  {"DevPanel", nullptr},
        {"Splitter1", "Panel1"},    {"reLog", "Splitter1"}};
    for (const auto& e : expected) {
        QWidget* w = form.findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        if (e.parent) {
            EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(e.parent)) << e.name;
        }
    }
    EXPECT_EQ(form.DevPanel, form.ScrollBox1->widget());
    ASSERT_NE(form.findChild<QTimer*>(QStringLiteral("DevTimer")), nullptr);
    ASSERT_NE(form.findChild<QTimer*>(QStringLiteral("RescanTimer")), nullptr);
    // The file dialog is made only while "..." shows it: its file-system model runs a thread.
    ASSERT_NE(form.OpenDialog1, nullptr);
    EXPECT_EQ(form.findChild<QFileDialog*>(), nullptr);
}

TEST(MainFormLayout, DesignCaptionsAndState)
{
    TMainForm form({});
    EXPECT_EQ(form.windowTitle(), QString::fromUtf16(u"Обновление прошивки Геотровикс"));
    EXPECT_EQ(form.gbFile->title(), QString::fromUtf16(u"Файл прошивки"));
    EXPECT_EQ(form.lblFileName->text(), QString::fromUtf16(u"Файл:"));
    EXPECT_EQ(form.btnFwLoad->text(), QString::fromUtf16(u"Прочитать"));
    EXPECT_EQ(form.btnFwOpen->text(), QStringLiteral("..."));
    EXPECT_EQ(form.btnFwOpen->toolTip(), QString::fromUtf16(u"Открыть файл прошивки"));
    EXPECT_EQ(form.lblFileDate->text(), QString::fromUtf16(u"Дата создания:"));
    EXPECT_EQ(form.lblFileVersion->text(), QString::fromUtf16(u"Версия прошивки:"));
    EXPECT_EQ(form.lblFirmwDate->text(), QString::fromUtf16(u"Неизвестна"));
    EXPECT_EQ(form.lblFileVer->text(), QString::fromUtf16(u"Неизвестна"));
    EXPECT_EQ(form.cbAutoWrite->text(), QString::fromUtf16(u"Прошивать автоматически"));
    EXPECT_EQ(form.cbStartApp->text(), QString::fromUtf16(u"Запускать приложение"));
    EXPECT_EQ(form.cbWritelogToFile->text(), QString::fromUtf16(u"Записывать лог в файл"));
    EXPECT_FALSE(form.cbAutoWrite->isChecked() || form.cbStartApp->isChecked() ||
                 form.cbWritelogToFile->isChecked());
    EXPECT_TRUE(form.edFWFile->isEditable());
    EXPECT_EQ(form.edFWFile->completer(), nullptr);
    EXPECT_FALSE(form.reLog->isReadOnly());
    EXPECT_EQ(form.lblFileVersion->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);

    EXPECT_EQ(form.DevTimer->interval(), 100);
    EXPECT_TRUE(form.DevTimer->isActive());
    EXPECT_EQ(form.RescanTimer->interval(), 3000);
    EXPECT_FALSE(form.RescanTimer->isActive());
    EXPECT_EQ(
        form.OpenDialog1->nameFilters(),
        QStringList({QStringLiteral("Encode Raw binary (*.eraw)"),
                     QStringLiteral("Raw binary (*.raw)"), QStringLiteral("Any files (*.*)")}));

    EXPECT_TRUE(form.DeviceList.empty());
    EXPECT_TRUE(form.ExeDirectory.isEmpty());
    EXPECT_FALSE(form.ExternalFirmwareAllowed || form.FirmwareFromResource ||
                 form.SkipCompatibilityCheck);
    EXPECT_EQ(form.LoadedFirmware.Number, 0);
}

TEST(MainFormLayout, FontsAreThePixelSizesOfTheDesign)
{
    TMainForm form({});
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(form.lblFileName->font().pixelSize(), 16);
    EXPECT_EQ(form.lblFirmwDate->font().pixelSize(), 13);
    EXPECT_TRUE(form.lblFirmwDate->font().bold());
    EXPECT_TRUE(form.lblFileVer->font().bold());
    EXPECT_EQ(form.cbWritelogToFile->font().pixelSize(), 13);
    EXPECT_EQ(form.reLog->font().pixelSize(), 11);
}

TEST(MainFormLayout, ResizingKeepsTheAnchoringAndTheMinimumWidth)
{
    TMainForm form({});
    form.show();
    form.resize(800, 500);
    ASSERT_TRUE(WaitFor([&] { return form.gbFile->width() == 800 - 6; }));
    const int grow = form.gbFile->width() - 658;
    EXPECT_EQ(form.gbFile->geometry(), QRect(3, 3, 794, 110));
    // Right-anchored controls move with the right edge, the file box stretches.
    EXPECT_EQ(form.btnFwOpen->geometry(), QRect(543 + grow, 34, 25, 25));
    EXPECT_EQ(form.btnFwLoad->geometry(), QRect(573 + grow, 34, 75, 25));
    // Right-aligned labels may have grown to the left to fit their text; their right edge holds.
    EXPECT_EQ(form.lblFileVer->geometry().right(), 571 + 77 - 1 + grow);
    EXPECT_EQ(form.lblFileVersion->geometry().right(), 413 + 134 - 1 + grow);
    EXPECT_EQ(form.lblFileVersion->y(), 63);
    EXPECT_EQ(form.cbWritelogToFile->geometry(), QRect(421 + grow, 88, 219, 17));
    EXPECT_EQ(form.edFWFile->geometry(), QRect(58, 36, 478 + grow, 21));
    // Left-anchored ones stay.
    EXPECT_EQ(form.lblFileName->pos(), QPoint(8, 34));
    EXPECT_GE(form.lblFileName->width(), form.lblFileName->sizeHint().width());
    EXPECT_EQ(form.cbStartApp->geometry(), QRect(208, 87, 207, 17));
    // The device area lies below the group and the log keeps its height.
    EXPECT_EQ(form.Panel1->y(), 116);
    EXPECT_EQ(form.reLog->height(), kDesignLogHeight);

    form.resize(500, 500);
    ASSERT_TRUE(WaitFor([&] { return form.width() == kMinimumWindowWidth; }));
    EXPECT_EQ(form.minimumWidth(), kMinimumWindowWidth);
}

TEST(MainFormLayout, DevPanelScrollsWhenItsMinimumHeightDoesNotFit)
{
    TMainForm form({});
    form.DevTimer->stop();  // a scan finding no device would set the height back to 90
    form.show();
    form.DevPanel->setMinimumHeight(288);  // three device panels
    form.resize(700, 300);
    ASSERT_TRUE(WaitFor([&] { return form.ScrollBox1->viewport()->height() < 288; }));
    ASSERT_TRUE(WaitFor([&] { return form.ScrollBox1->verticalScrollBar()->maximum() > 0; }));
}

TEST(MainFormCommandLine, FlagsAndFileComeFromTheArguments)
{
    TMainForm form({QStringLiteral("/ExternFirmware"), QStringLiteral("-dontcheckcpbl")});
    EXPECT_TRUE(form.ExternalFirmwareAllowed);
    EXPECT_TRUE(form.SkipCompatibilityCheck);
    EXPECT_TRUE(form.edFWFile->currentText().isEmpty());
}
}  // namespace
