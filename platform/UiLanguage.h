#pragma once
// The system's default user-interface language as a Windows language identifier.

inline constexpr int kLanguageIdRussian = 0x0419;  // 1049
inline constexpr int kLanguageIdEnglish = 0x0409;  // 1033

// Windows: the user's default user-interface language. Linux: the first user-interface language
// of the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): 1049 for Russian, 1033 for English, 0 for
// any other language.
int SystemUiLanguageId();
