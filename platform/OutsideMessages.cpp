#include "platform/OutsideMessages.h"

#include "platform/Platform.h"

#include <QDir>

namespace {
bool ParseDecimal(QByteArrayView text, quint64 limit, quint64& value)
{
    if (text.isEmpty() || text.size() > 20) return false;
    quint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const quint64 digit = static_cast<quint64>(c - '0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}
}  // namespace

bool ParseOutsideMessageLine(QByteArrayView line, quint32& message, quint64& wParam)
{
    if (line.endsWith('\r')) line.chop(1);
    const qsizetype space = line.indexOf(' ');
    if (space <= 0) return false;
    quint64 msg = 0, param = 0;
    if (!ParseDecimal(line.first(space), 0xFFFFFFFFu, msg)) return false;
    if (!ParseDecimal(line.sliced(space + 1), ~quint64(0), param)) return false;
    message = static_cast<quint32>(msg);
    wParam = param;
    return true;
}

OutsideLineStep TakeOutsideMessage(QByteArray& pending, quint32& message, quint64& wParam)
{
    const qsizetype end = pending.indexOf('\n');
    if (end < 0)
        return pending.size() > kMaxOutsideLine ? OutsideLineStep::Malformed
                                                : OutsideLineStep::NeedMore;
    const QByteArray line = pending.left(end);
    pending.remove(0, end + 1);
    if (line.size() > kMaxOutsideLine || !ParseOutsideMessageLine(line, message, wParam))
        return OutsideLineStep::Malformed;
    return OutsideLineStep::Message;
}

QString OutsideMessageSocketPath(const QString& runtimeDir)
{
    return QDir(runtimeDir).filePath(QString::fromLatin1(kInstanceName) + QStringLiteral(".sock"));
}
