#include "devices/DateValue.h"

#include <QDate>
#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       double& out)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    const QDate date(year, month, day);
    if (!date.isValid()) return false;
    const double days = static_cast<double>(kEpoch.daysTo(date));
    const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsPerDay;
    // Before the epoch the time of day still counts away from zero.
    out = days < 0 ? days - time : days + time;
    return true;
}

QString FormatDateValue(double value)
{
    const double whole = std::trunc(value);
    const QDate date = kEpoch.addDays(static_cast<qint64>(whole));
    qint64 ms = std::llround(std::fabs(value - whole) * kMsPerDay);
    if (ms >= 86400000) ms = 86399999;
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
