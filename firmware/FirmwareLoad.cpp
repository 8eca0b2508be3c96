#include "firmware/FirmwareLoad.h"

#include "app/Language.h"
#include "app/LogFormat.h"
#include "platform/ProgramResource.h"

#include <QFile>
#include <QFileInfo>

bool LoadFirmwareImageFile(const QString& path, const FirmwareLogFunction& log,
                           TFirmwareVersion& version, TFirmwareBlockList& blocks)
{
    const QFileInfo info(path);  // follows links
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        if (log) log(Error, FormatLogTextInto(Msg(31).size() + kLogBufferExtra, Msg(31), {path}));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    // The container states its size in 31 bits; a larger file can never pass the size check,
    // so it is not read into memory at all.
    const qint64 size = file.size();
    if (size < 0 || size > static_cast<qint64>(kImageSizeMask)) return false;
    const QByteArray bytes = file.read(size);
    file.close();
    if (bytes.size() < size) return false;
    return ParseFirmwareImage(log, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<uint32_t>(size), version, blocks);
}

bool LoadEmbeddedFirmwareImage(const FirmwareLogFunction& log, TFirmwareVersion& version,
                               TFirmwareBlockList& blocks)
{
    const std::optional<QByteArray> image = OpenProgramResource("FRMV", "RC_DATA");
    if (!image || image->isEmpty()) return false;
    return ParseFirmwareImage(log, reinterpret_cast<const uint8_t*>(image->constData()),
                              static_cast<uint32_t>(image->size()), version, blocks);
}
