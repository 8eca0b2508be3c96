// The settings file: read once when the window is shown, written once when it is destroyed.

#include "app/IniFile.h"
#include "app/Language.h"
#include "app/MainForm.h"
#include "app/Settings.h"
#include "platform/UiLanguage.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

namespace {
QRect VirtualDesktop()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->virtualGeometry() : QRect();
}
}  // namespace

QString TMainForm::SettingsFolder() const
{
    return SettingsDirectory.isEmpty() ? LoaderDirectory() : SettingsDirectory;
}

QString TMainForm::SettingsFilePath() const
{
    return SettingsFolder() + QString::fromLatin1(kSettingsFileName);
}

void TMainForm::LayOutWhileHidden()
{
    // A window that was never shown lays out its children only when it first appears: until then
    // the splitter reports the sizes of a default geometry. Lay it out for the size it has now.
    if (isVisible()) return;
    for (QWidget* w : {static_cast<QWidget*>(this), Panel1}) {
        w->layout()->invalidate();
        w->layout()->activate();
    }
    Splitter1->refresh();
}

int TMainForm::LogHeight()
{
    LayOutWhileHidden();
    const QList<int> sizes = Splitter1->sizes();
    return sizes.size() > 1 ? sizes[1] : reLog->height();
}

void TMainForm::SetLogHeight(int height)
{
    LayOutWhileHidden();
    // The device area stretches and the log does not, so the log gets exactly its size (as far
    // as the splitter has room) and the device area the rest.
    QList<int> sizes = Splitter1->sizes();
    if (sizes.size() < 2) return;
    const int total = sizes[0] + sizes[1];
    sizes[0] = std::max(0, total - height);
    sizes[1] = height;
    Splitter1->setSizes(sizes);
}

void TMainForm::PrepareSettings()
{
    // The user's own settings folder may not exist yet; a folder that cannot be made shows as the
    // file's write error below.
    QDir().mkpath(SettingsFolder());
    IniFile ini(SettingsFilePath());
    if (!ini.HasKey(kSettingsCommon, kSettingsLanguage))
        ini.WriteString(kSettingsCommon, kSettingsLanguage, QString());
}

void TMainForm::LoadSettings()
{
    const SettingsFileValues values =
        ReadSettingsFile(IniFile(SettingsFilePath()), SystemUiLanguageId());
    CurrentLanguage = values.language;

    // Adding the first item to an empty list would make it the box's text: the text stays what it
    // was, and only an empty one takes the last used file.
    const QString text = edFWFile->currentText();
    for (const QString& file : values.recentFiles) edFWFile->addItem(file);
    edFWFile->setCurrentIndex(-1);
    edFWFile->setEditText(text);
    if (text.isEmpty()) edFWFile->setEditText(values.lastFile);

    if (values.placementNumbers < 4) return;
    const MainFormValues& v = values.placement;
    const QRect desktop = VirtualDesktop();
    QPoint position = pos();
    if (v[0] >= 0 && v[0] < desktop.width() - 100) position.setX(v[0]);
    if (v[1] >= 0 && v[1] < desktop.height() - 100) position.setY(v[1]);
    move(position);
    // A size from a damaged file is held to the desktop: a window of millions of pixels would
    // only exhaust memory for its backing store.
    QSize size = this->size();
    if (v[2] >= 0) size.setWidth(desktop.isEmpty() ? v[2] : std::min(v[2], desktop.width()));
    if (v[3] >= 0) size.setHeight(desktop.isEmpty() ? v[3] : std::min(v[3], desktop.height()));
    resize(size);  // the minimum width still applies
    if (v[4] >= 0) cbAutoWrite->setChecked(v[4] != 0);
    if (v[5] >= 0) SetLogHeight(v[5]);
    if (v[6] >= 0) cbWritelogToFile->setChecked(v[6] != 0);
    if (v[7] >= 0) cbStartApp->setChecked(v[7] != 0);
}

void TMainForm::SaveSettings()
{
    IniFile ini(SettingsFilePath());
    const QPoint position = pos();
    ini.WriteString(
        kSettingsCommon, kSettingsMainForm,
        FormatMainFormValue(
            {position.x(), position.y(), width(), height(), cbAutoWrite->isChecked() ? 1 : 0,
             LogHeight(), cbWritelogToFile->isChecked() ? 1 : 0, cbStartApp->isChecked() ? 1 : 0}));
    ini.WriteString(kSettingsCommon, kSettingsLastFile, edFWFile->currentText());
    // The section is not cleared: entries beyond the current count stay in the file.
    for (int i = 0; i < edFWFile->count(); ++i)
        ini.WriteString(kSettingsFiles, QString::number(i), edFWFile->itemText(i));
}
