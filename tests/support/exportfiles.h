#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Exported files as independent readers see them.

// The metafile drawn by libwmf's wmf2gd into a PNG; a null image with the reason in why when the
// converter refuses the file or is missing.
QImage renderWithLibwmf(const QString &path, QString *why);

// The workbook as openpyxl reads it: first the sheet names joined by ';', then the used range as
// "rows x columns", then one line per row with its cells joined by ';' (empty for a blank cell,
// numbers as Python prints them). One line "openpyxl failed: ..." when the reader refuses it.
QStringList readWithOpenpyxl(const QString &path);
