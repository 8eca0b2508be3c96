// The two display texts of a version value: the only part of the records that needs Qt, kept
// apart so that the records, the channel and the protocol build without it.

#include "devices/Structs.h"

#include "app/Language.h"
#include "devices/DateValue.h"
#include "devices/Text8.h"

#include <QString>

#include <cmath>
#include <cstdio>

QString FormatVersion(const TFirmwareVersion& version)
{
    if (version.Name == "unk") return QStringLiteral("Empty");
    if (version.Number == 0) return QStringLiteral("?????");
    char digits[16];
    std::snprintf(digits, sizeof digits, "-%d.%02d", version.Number / 100, version.Number % 100);
    return DecodeText8(version.Name + digits + version.Suffix);
}

QString FormatVersionDate(const TFirmwareVersion& version)
{
    if (std::trunc(version.Date) == 0) return Msg(49);
    return FormatDateValue(version.Date);
}
