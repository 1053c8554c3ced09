#pragma once

#include <QString>

// Dates and times as the device's clock, its programs and its archive are shown: two digits a
// field, the year within the century.
inline QString clockDateText(int day, int month, int year)
{
    return QString::asprintf("%.2d.%.2d.%.2d", day, month, year);
}

inline QString clockTimeText(int hours, int minutes, int seconds)
{
    return QString::asprintf("%.2d:%.2d:%.2d", hours, minutes, seconds);
}

// A program's start: date, then hours and minutes.
inline QString startText(int day, int month, int year, int hours, int minutes)
{
    return clockDateText(day, month, year) + QString::asprintf(" %.2d:%.2d", hours, minutes);
}
