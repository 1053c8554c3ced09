// The measurement table reader on any file found at a table's path.
#include "platform/measurementtable.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ArcData1.dbf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    MeasurementTable table;
    try {
        table.open(path);
    } catch (const TableError &) {
        return 0;
    }
    const qint64 rows = table.rowCount();
    (void)table.rows(0, 50);
    (void)table.row(rows - 1);
    (void)table.row(rows);
    (void)table.refresh();
    (void)table.isCurrent();
    return 0;
}
