#include "app/LoaderTexts.h"

#include "app/Language.h"

namespace {
struct Texts {
    const char16_t* Russian;
    const char16_t* English;
};

Texts TextsOf(LoaderTextId id)
{
    switch (id) {
        case LoaderTextId::SerialTextSuffix:
            return {u" (серийный номер \"%s\")", u" (serial number \"%s\")"};
        case LoaderTextId::DuplicateSerial:
            return {
                u"Второй прибор с серийным номером \"%s\" на том же драйвере: не показан и не "
                u"прошивается",
                u"A second device with serial number \"%s\" on the same driver: not shown and "
                u"not updated"};
        case LoaderTextId::LogFileUnwritable:
            return {u"Не удаётся записать файл журнала %s: %s",
                    u"Cannot write the log file %s: %s"};
        case LoaderTextId::SessionRecordUnwritable:
            return {u"Не удаётся записать файл записей сеансов %s: %s",
                    u"Cannot write the session record file %s: %s"};
        case LoaderTextId::SessionException:
            return {u"Исключение \"%s\" при обновлении прошивки",
                    u"Exception \"%s\" of firmware updating"};
    }
    return {u"", u""};
}
}  // namespace

QString LoaderText(int language, LoaderTextId id)
{
    const Texts texts = TextsOf(id);
    return QString::fromUtf16(language == kLanguageRussian ? texts.Russian : texts.English);
}

QString LoaderText(LoaderTextId id)
{
    return LoaderText(CurrentLanguage, id);
}
