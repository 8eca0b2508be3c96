#include "app/Settings.h"

#include "app/IniFile.h"
#include "app/Language.h"
#include "app/LogFormat.h"
#include "devices/ScanInts.h"
#include "platform/UiLanguage.h"

namespace {
constexpr const char* kMainFormFormat = "%d,%d,%d,%d,%d,%d,%d,%d";
}

int LanguageFromSetting(const QString& value, int systemLanguageId)
{
    // Unicode case folding rather than a locale's own rules: under a Turkish locale "ENGLISH"
    // would lower-case to a dotless i and no longer read as English.
    if (value.compare(QLatin1String("russian"), Qt::CaseInsensitive) == 0) return kLanguageRussian;
    if (value.compare(QLatin1String("english"), Qt::CaseInsensitive) == 0) return kLanguageEnglish;
    return systemLanguageId == kLanguageIdRussian ? kLanguageRussian : kLanguageEnglish;
}

int ScanMainFormValue(const QString& text, MainFormValues& values)
{
    values.fill(-1);
    const QByteArray bytes = text.toUtf8();
    return ScanInts(std::string_view(bytes.constData(), bytes.size()), kMainFormFormat,
                    values.data(), static_cast<int>(values.size()));
}

QString FormatMainFormValue(const MainFormValues& v)
{
    return FormatLogText(QString::fromLatin1(kMainFormFormat),
                         {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
}

SettingsFileValues ReadSettingsFile(const IniFile& ini, int systemLanguageId)
{
    SettingsFileValues values;
    values.language = LanguageFromSetting(
        ini.ReadString(kSettingsCommon, kSettingsLanguage, QStringLiteral("Russian")),
        systemLanguageId);
    for (const QString& key : ini.KeyNames(kSettingsFiles)) {
        const QString file = ini.ReadString(kSettingsFiles, key, QString());
        if (!file.isEmpty()) values.recentFiles << file;
    }
    values.lastFile = ini.ReadString(kSettingsCommon, kSettingsLastFile, QString());
    values.placementNumbers = ScanMainFormValue(
        ini.ReadString(kSettingsCommon, kSettingsMainForm, QString()), values.placement);
    return values;
}
