#include "platform/ProgramResource.h"

#include <QFile>

// Here the embedded data are Qt resources under ":/<type>/<name>", compiled into the executable
// by the build (resources/CMakeLists.txt).
std::optional<QByteArray> OpenProgramResource(const char* name, const char* type)
{
    QFile file(QStringLiteral(":/%1/%2").arg(QString::fromLatin1(type), QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const qint64 size = file.size();
    QByteArray bytes = file.readAll();
    if (bytes.size() != size) return std::nullopt;
    return bytes;
}
