#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class MeasurementTable;

// A measurement table as a spreadsheet workbook: one sheet "Лорван", one table row per sheet
// row from the first cell on, the six columns in the table's order, no title row. Written under
// the given name whatever its extension.
namespace workbook {

// False with "Не удалось записать файл <path>: <reason>" in error; an older file under the name
// stays as it was.
bool exportTable(MeasurementTable &table, const QString &path, QString *error);

// Rows of texts on one sheet from its first cell on, each text a text cell as given. progress
// hears the rows written so far now and then.
bool exportCells(const QList<QStringList> &cells, const QString &path, QString *error,
                 const std::function<void(int rowsDone)> &progress = {});

} // namespace workbook
