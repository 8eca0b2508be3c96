#include "platform/Platform.h"

#include <QStandardPaths>

PathRule CommandLinePathRule() { return PathRule::AsWritten; }

QString RuntimeDirectory()
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) return QString::fromLocal8Bit(xdg);
    // A folder of the user's own with mode 0700; never a name that every user shares.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}
