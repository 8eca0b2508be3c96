#pragma once
// The rules of the settings file that need no window: its name, the language value and the
// eight numbers of the MainForm value.

#include <QString>
#include <array>

inline constexpr const char* kSettingsFileName = "GXFWLoader.ini";

// CurrentLanguage for a Language value: "russian" 0, "english" 1 in any letter case; any other
// value, the empty one included, follows the system's user-interface language (1049 Russian).
int LanguageFromSetting(const QString& value, int systemLanguageId);

// The MainForm value: left, top, width, height, automatic update, log height, log file, start
// application. Positions the text does not fill stay -1; returns how many numbers were read.
using MainFormValues = std::array<int, 8>;
int ScanMainFormValue(const QString& text, MainFormValues& values);
QString FormatMainFormValue(const MainFormValues& values);
