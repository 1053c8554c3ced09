#pragma once

#include "platform/dbflayout.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>

#include <array>
#include <optional>
#include <stdexcept>

// The per-device measurement tables: dBase files with the fields Num, Date, Chan1..Chan4, one
// row per successful poll. Rows are appended one at a time with the header's row count brought
// up to date each time, so a crash never leaves rows behind a stale count; a file that is not
// such a table is never written into.

class TableError : public std::runtime_error
{
public:
    explicit TableError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct MeasurementRow
{
    QString num;
    QString date;
    std::array<std::optional<double>, 4> channels; // empty for a blank field
};

// Num: the rows the table held before this one, cut to five characters.
QString measurementNumText(qint64 rowsBefore);
// Date: the long time, a blank and the short date of the locale, cut to twenty characters.
QString measurementDateText(const QDateTime &when, const QLocale &locale);

// True when the layout has the six fields in order with their names and kinds.
bool isMeasurementLayout(const DbfLayout &layout);

// Creates the table (and its folder) when the file is missing; a failed creation leaves no file.
// Throws TableError: "Невозможно создать: " + folder when the folder cannot be made,
// "Ошибка записи в базу данных: " + path + " (" + reason + ")" when the file cannot be written.
void EnsureMeasurementTable(const QString &path);

// Appends one row and returns its number (the rows before it); written, when given, gets the
// row as the table holds it (the values at the table's decimals). All or nothing: when the row
// cannot be written (a full disk, a quota, an I/O error) the file keeps its bytes and
// TableError "Ошибка записи в базу данных: " + path + " (" + reason + ")" is thrown.
qint64 AppendMeasurementRow(const QString &path, const QDateTime &when,
                            const std::array<double, 4> &values,
                            const QLocale &locale = QLocale::system(),
                            MeasurementRow *written = nullptr);

// A read-only view of one table; rows are read from the file when asked for, so a table of any
// length opens at once.
class MeasurementTable
{
public:
    // Throws TableError "Ошибка открытия базы данных: " + path when the file is missing,
    // damaged or not a measurement table.
    void open(const QString &path);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }

    // Rows as of the last open or refresh: whole rows that the file's length holds.
    qint64 rowCount() const { return m_rows; }
    // Counts again after rows were appended; returns the new count.
    qint64 refresh();
    // False once the file at the path is another one than the file open here (deleted and
    // made anew, or replaced), or no longer a measurement table: appends go elsewhere then.
    bool isCurrent();
    // Nothing when the row cannot be read (beyond the end, or the file shrank).
    std::optional<MeasurementRow> row(qint64 index);
    // Up to count rows from first on, read in one go; fewer near the end.
    QList<MeasurementRow> rows(qint64 first, qint64 count);
    // The decimals of channel field 0..3 as the open table declares them.
    int channelDecimals(int channel) const { return m_layout.fields.value(2 + channel).decimals; }

private:
    MeasurementRow decode(const char *record) const;

    QFile m_file;
    QString m_path;
    DbfLayout m_layout;
    qint64 m_rows = 0;
};
