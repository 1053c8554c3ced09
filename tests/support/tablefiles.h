#pragma once

#include <QString>
#include <QStringList>

// Helpers for tests of measurement tables.

// Appends `copies` copies of the table's first row straight into the file, header untouched:
// a long table made in a moment (its row count is then taken from the file's length).
bool repeatFirstRow(const QString &path, int copies);

// The table as dbfread, an independent reader, sees it: first the fields as
// "name,type,length,decimals" joined by ';', then one line per row with its values joined by ';'
// (texts stripped, numbers to four decimals, blanks empty). One line "dbfread failed: ..." when
// the reader refuses the file.
QStringList readWithDbfread(const QString &path);
