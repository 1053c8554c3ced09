#pragma once

#include "link/commport.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <optional>

// What the test tool reads from and writes to a device's first ten registers, and its speed
// tables, as pure functions of their inputs.

struct ToolSpeed
{
    Baudrate rate;
    QString text;   // the speed list's item
    int chosenWait; // ResponseWait after choosing the speed in the list
    int searchWait; // ResponseWait while the search tries it
};

// The eight speeds in list (and search) order.
const std::array<ToolSpeed, 8> &toolSpeeds();
// The list entry for a rate; nothing for a rate not in the list.
std::optional<ToolSpeed> toolSpeedFor(Baudrate rate);
std::optional<ToolSpeed> toolSpeedForText(const QString &text);

// The texts shown for registers 0..8 (values are first byte * 256 + second byte).
struct ToolIdentityTexts
{
    QString type;    // " Лорван", " Дулан", " Неизвестный"
    QString version; // " 1.05"
    QString release; // " 05:03"
    QString serial;  // " 00AB", as the configurator reads it
    int address = 0; // register 3, high byte
    QString date;    // " dd.mm.yy"
    QString time;    // " hh:mm:ss"
};

ToolIdentityTexts describeRegisters(const std::uint16_t *registers);

// The device address typed into the address field: decimal, 1 when not a number, 8 bits kept.
std::uint8_t parseDeviceAddress(const QString &text);

// The clock fields as the masked edits hold them (" dd.mm.yy", " hh:mm:ss"); nothing when the
// text is not a real date or time.
std::optional<QDate> parseClockDate(const QString &text);
std::optional<QTime> parseClockTime(const QString &text);
// The PC's date and time in the fields' layout, for the double-click defaults.
QString clockDateText(const QDate &date);
QString clockTimeText(const QTime &time);

// Registers 6, 7 and 8 for a clock setting.
std::array<std::uint16_t, 3> clockRegisters(const QDate &date, const QTime &time);

// A time in a locale's long format, without the time zone that some long formats carry: the
// status bar's clock panel is narrow.
QString longTimeText(const QLocale &locale, const QTime &time);
