#include "platform/UiLanguage.h"

#include <QLocale>

int SystemUiLanguageId()
{
    const QLocale system = QLocale::system();
    const QStringList languages = system.uiLanguages();
    const QLocale ui = languages.isEmpty() ? system : QLocale(languages.first());
    switch (ui.language()) {
        case QLocale::Russian:
            return kLanguageIdRussian;
        case QLocale::English:
            return kLanguageIdEnglish;
        default:
            return 0;
    }
}
