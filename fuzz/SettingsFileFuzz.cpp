// The settings file, as the window reads it when it is shown and rewrites it when it closes: a
// file any editor or an older copy may have left, in UTF-8, Windows-1251 or UTF-16. The input is
// the file's bytes.
//
// Checks: the load gives one of the two languages, only non-empty recent files, and placement
// numbers only where the MainForm value gave them; a key written into the file reads back as
// written, and the keys the load reads are still there.

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"

#include "app/IniFile.h"
#include "app/Language.h"
#include "app/LoaderError.h"
#include "app/Settings.h"
#include "platform/UiLanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
// Every input writes the file three times: in memory where the system has such a folder, since
// the rewrite syncs the file to its disk.
QString FolderTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return base + QStringLiteral("/gx-settings-fuzz-XXXXXX");
}

void CheckLoad(const SettingsFileValues& values)
{
    GX_FUZZ_CHECK(values.language == kLanguageRussian || values.language == kLanguageEnglish);
    for (const QString& file : values.recentFiles) GX_FUZZ_CHECK(!file.isEmpty());
    GX_FUZZ_CHECK(values.placementNumbers >= 0 && values.placementNumbers <= 8);
    for (int i = values.placementNumbers; i < 8; ++i)
        GX_FUZZ_CHECK(values.placement[static_cast<size_t>(i)] == -1);
}
}  // namespace

void FuzzSettingsFile(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder(FolderTemplate());
    GX_FUZZ_CHECK(folder.isValid());
    const QString path = folder.filePath(QString::fromLatin1(kSettingsFileName));
    {
        QFile file(path);
        GX_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        GX_FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                      static_cast<qint64>(size));
    }

    const IniFile before(path);
    const SettingsFileValues loaded = ReadSettingsFile(before, kLanguageIdEnglish);
    CheckLoad(loaded);

    // What the close writes: the window's placement, then the last file.
    const QString placement = FormatMainFormValue({10, 20, 800, 600, 1, 150, 0, 1});
    const QString lastFile = QStringLiteral("C:\\Firmware\\GX \"new\".eraw");
    try {
        IniFile ini(path);
        ini.WriteString(kSettingsCommon, kSettingsMainForm, placement);
        ini.WriteString(kSettingsCommon, kSettingsLastFile, lastFile);
    } catch (const LoaderError&) {
        FuzzCheckFailed("a settings file in a private folder is written", __FILE__, __LINE__);
    }

    const IniFile after(path);
    GX_FUZZ_CHECK(after.ReadString(kSettingsCommon, kSettingsMainForm, QString()) == placement);
    GX_FUZZ_CHECK(after.ReadString(kSettingsCommon, kSettingsLastFile, QString()) == lastFile);
    const SettingsFileValues reloaded = ReadSettingsFile(after, kLanguageIdEnglish);
    CheckLoad(reloaded);
    GX_FUZZ_CHECK(reloaded.placementNumbers == 8);
    GX_FUZZ_CHECK(reloaded.placement == MainFormValues({10, 20, 800, 600, 1, 150, 0, 1}));
    // Writing [COMMON] leaves the other keys the load reads where they were.
    GX_FUZZ_CHECK(reloaded.language == loaded.language);
    GX_FUZZ_CHECK(after.KeyNames(kSettingsFiles) == before.KeyNames(kSettingsFiles));
}
