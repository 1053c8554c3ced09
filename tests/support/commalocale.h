#pragma once

#include <QString>

// Numbers as a Russian desktop writes them, in this process: Qt's default locale becomes Russian
// and the C library's LC_NUMERIC one with a decimal comma: ru_RU.UTF-8 where the machine has it
// generated, else a numeric category of our own with a comma, built into a temporary folder (a
// fresh Debian root has no generated locales, and building one needs the locales package).
// Returns the C locale's name, or an empty string with the reason in why when no locale with a
// decimal comma could be had.
QString useCommaDecimalLocale(QString *why);
