#pragma once

#include <QString>

class MeasurementTable;
class QWidget;

// The main window's exports: the chart as a picture file, the selected device's table as a
// spreadsheet workbook.

enum class ChartFileFormat { None, Bitmap, Metafile };

// Decided by the name alone, exactly ".bmp" or ".wmf": the filter chosen in the dialog plays no
// part, and any other ending (upper case included) writes nothing.
ChartFileFormat chartFileFormat(const QString &fileName);

// "Экспорт графика в файл...": the dialog, the overwrite question and the file. A file that
// cannot be written throws std::runtime_error for the global error display.
void ExportChartClick(QWidget *chart);

// "Экспорт в Microsoft Excel": the display table as a workbook under the chosen name. True when
// the workbook was written (the grid then goes to the last row). Write errors throw
// std::runtime_error.
bool Excel1Click(MeasurementTable &table);
