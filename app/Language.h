#pragma once
// The message catalogue: every text the loader shows or logs, in Russian (0) and English (1).

#include <QString>

inline constexpr int kMessageCount = 74;
inline constexpr int kLanguageRussian = 0;
inline constexpr int kLanguageEnglish = 1;

// Set once by the settings load before any worker thread exists; read-only afterwards.
extern int CurrentLanguage;

// The catalogue is constant data, so this only exists for the show sequence's order.
void InitMessageCatalogue();

// Never fails: an unknown language or message number yields a fallback text.
QString MessageText(int language, int n);

// Message n in CurrentLanguage: the catalogue text as every caller shows or logs it.
inline QString Msg(int n)
{
    return MessageText(CurrentLanguage, n);
}

// The window title by language; outside the catalogue.
QString WindowTitle(int language);

// Caption of the one message box the loader shows, the same in both languages.
inline constexpr const char16_t* kMessageBoxCaption = u"Geotrovix Firmware Loader";
