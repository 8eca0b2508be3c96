#include "app/Language.h"

namespace {
#include "app/MessageCatalogue.inc"
}  // namespace

int CurrentLanguage = kLanguageRussian;

void InitMessageCatalogue() {}

QString MessageText(int language, int n)
{
    if (language < 0 || language > 1) return QStringLiteral("Language is not defined");
    // A negative number is treated like one past the end.
    if (n < 0 || n >= kMessageCount)
        return language == kLanguageEnglish ? QStringLiteral("Message is not defined")
                                            : QString::fromUtf16(u"Сообщение не определено");
    const char16_t* const* row = language == kLanguageEnglish ? kEnglish : kRussian;
    return QString::fromUtf16(row[n]);
}

QString WindowTitle(int language)
{
    return language == kLanguageRussian ? QString::fromUtf16(u"Обновление прошивки Геотровикс")
                                        : QStringLiteral("Geotrovix Firmware Loader");
}
