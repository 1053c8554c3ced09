#pragma once

#include <QString>

class MeasurementTable;

// A measurement table as a spreadsheet workbook: one sheet "Лорван", one table row per sheet
// row from the first cell on, the six columns in the table's order, no title row. Written under
// the given name whatever its extension.
namespace workbook {

// False with the reason in error; a half-written file is not left under the name.
bool exportTable(MeasurementTable &table, const QString &path, QString *error);

} // namespace workbook
