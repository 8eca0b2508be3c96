#pragma once
// The rules of the settings file that need no window: its name, the language value and the
// eight numbers of the MainForm value.

#include <QString>
#include <QStringList>
#include <array>

class IniFile;

inline constexpr const char* kSettingsFileName = "GXFWLoader.ini";

// Its sections and keys.
inline const QString kSettingsCommon = QStringLiteral("COMMON");
inline const QString kSettingsFiles = QStringLiteral("FILES");
inline const QString kSettingsLanguage = QStringLiteral("Language");
inline const QString kSettingsMainForm = QStringLiteral("MainForm");
inline const QString kSettingsLastFile = QStringLiteral("LastFile");

// CurrentLanguage for a Language value: "russian" 0, "english" 1 in any letter case; any other
// value, the empty one included, follows the system's user-interface language (1049 Russian).
int LanguageFromSetting(const QString& value, int systemLanguageId);

// The MainForm value: left, top, width, height, automatic update, log height, log file, start
// application. Positions the text does not fill stay -1; returns how many numbers were read.
using MainFormValues = std::array<int, 8>;
int ScanMainFormValue(const QString& text, MainFormValues& values);
QString FormatMainFormValue(const MainFormValues& values);

// What a settings file gives the window when it is shown, read without the window.
struct SettingsFileValues {
    int language = 0;         // CurrentLanguage; a missing Language key reads as "Russian"
    QStringList recentFiles;  // the values of [FILES] that are not empty, in file order
    QString lastFile;         // [COMMON] LastFile
    MainFormValues placement{};
    int placementNumbers = 0;  // how many numbers of placement the MainForm value gave
};
SettingsFileValues ReadSettingsFile(const IniFile& ini, int systemLanguageId);
