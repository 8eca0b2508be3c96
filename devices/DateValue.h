#pragma once
// Date-time values as the loader stores them: whole days since 30 December 1899 plus the time of
// day as a fraction; 0 means unknown.

#include <QString>

// False when the parts do not form a valid date-time (year 1..9999, month 1..12, day within the
// month, hour 0..23, minute and second 0..59, millisecond 0..999).
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       double& out);

// "DD-MM-YYYY HH:NN:SS".
QString FormatDateValue(double value);
