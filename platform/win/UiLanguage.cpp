#include "platform/UiLanguage.h"

#include <windows.h>

int SystemUiLanguageId()
{
    return GetUserDefaultUILanguage();
}
