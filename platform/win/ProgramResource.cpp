#include "platform/ProgramResource.h"

#include "platform/win/ProgramResourceBytes.h"

#include <QString>

// The resource type is a name ("RC_DATA"), not the predefined numeric RT_RCDATA.
std::optional<QByteArray> OpenProgramResource(const char* name, const char* type)
{
    const std::optional<std::string_view> bytes = ProgramResourceBytes(
        QString::fromLatin1(name).toStdWString(), QString::fromLatin1(type).toStdWString());
    if (!bytes) return std::nullopt;
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}
