#include "platform/workbookexport.h"

#include "platform/atomicfile.h"
#include "platform/measurementtable.h"
#include "platform/numericlocale.h"

#include <QFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <functional>

namespace {

constexpr qint64 kBlockRows = 500;
const char *const kSheetName = "Лорван";

// The number the table's field holds at its decimals, not a binary neighbour of it that a field
// with more digits than declared would give.
double atDecimals(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    // Beyond 2^52 a double has no fraction left to round.
    if (!std::isfinite(scaled) || std::abs(scaled) >= 4503599627370496.0)
        return value;
    return std::round(scaled) / scale;
}

// Writes one sheet of a workbook through fill(sheet), which returns the library's status. The
// library's own temporary files go to a folder of ours; the workbook goes to a temporary file
// beside the target that replaces it only when complete. The library prints the sheet's numbers
// with the C library's printf, hence the numeric locale.
bool writeWorkbook(const QString &path, QString *error,
                   const std::function<lxw_error(lxw_worksheet *)> &fill)
{
    AtomicFile file(path);
    if (!file.open()) {
        *error = file.error().message();
        return false;
    }
    QTemporaryDir scratch;
    const CNumericLocale numbers;
    const QByteArray partialName = QFile::encodeName(file.temporaryPath());
    const QByteArray scratchName = QFile::encodeName(scratch.path());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go out in order; a long table needs no memory
    options.tmpdir = const_cast<char *>(scratchName.constData());
    // The library keeps the system's reason for a failed file write in errno.
    errno = 0;
    lxw_workbook *book = workbook_new_opt(partialName.constData(), &options);
    lxw_worksheet *sheet = book ? workbook_add_worksheet(book, kSheetName) : nullptr;
    lxw_error status = sheet ? fill(sheet) : LXW_ERROR_MEMORY_MALLOC_FAILED;
    const lxw_error closed = book ? workbook_close(book) : LXW_NO_ERROR;
    if (status == LXW_NO_ERROR)
        status = closed;
    if (status != LXW_NO_ERROR) {
        const QString reason =
            errno ? systemReason(errno) : QString::fromUtf8(lxw_strerror(status));
        *error = FileWriteError{path, reason}.message();
        return false;
    }
    if (!file.commit()) {
        *error = file.error().message();
        return false;
    }
    return true;
}

} // namespace

namespace workbook {

bool exportTable(MeasurementTable &table, const QString &path, QString *error)
{
    return writeWorkbook(path, error, [&table](lxw_worksheet *sheet) {
        lxw_error status = LXW_NO_ERROR;
        const qint64 rows = table.rowCount();
        for (qint64 first = 0; status == LXW_NO_ERROR && first < rows; first += kBlockRows) {
            const QList<MeasurementRow> block = table.rows(first, kBlockRows);
            if (block.isEmpty())
                break; // the file shrank under us: what was read is what there is
            for (qsizetype i = 0; i < block.size() && status == LXW_NO_ERROR; ++i) {
                const MeasurementRow &r = block[i];
                const lxw_row_t row = lxw_row_t(first + i);
                if (row >= LXW_ROW_MAX)
                    return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
                status = worksheet_write_string(sheet, row, 0, r.num.toUtf8().constData(), nullptr);
                if (status == LXW_NO_ERROR)
                    status =
                        worksheet_write_string(sheet, row, 1, r.date.toUtf8().constData(), nullptr);
                for (int c = 0; c < 4 && status == LXW_NO_ERROR; ++c) {
                    if (r.channels[size_t(c)])
                        status = worksheet_write_number(
                            sheet, row, lxw_col_t(2 + c),
                            atDecimals(*r.channels[size_t(c)], table.channelDecimals(c)), nullptr);
                }
            }
        }
        return status;
    });
}

bool exportCells(const QList<QStringList> &cells, const QString &path, QString *error,
                 const std::function<void(int rowsDone)> &progress)
{
    return writeWorkbook(path, error, [&](lxw_worksheet *sheet) {
        lxw_error status = LXW_NO_ERROR;
        for (qsizetype r = 0; r < cells.size() && status == LXW_NO_ERROR; ++r) {
            if (r >= qsizetype(LXW_ROW_MAX))
                return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
            const QStringList &row = cells[r];
            for (qsizetype c = 0; c < row.size() && status == LXW_NO_ERROR; ++c) {
                if (!row[c].isEmpty())
                    status = worksheet_write_string(sheet, lxw_row_t(r), lxw_col_t(c),
                                                    row[c].toUtf8().constData(), nullptr);
            }
            if (progress && (r + 1) % kBlockRows == 0)
                progress(int(r + 1));
        }
        return status;
    });
}

} // namespace workbook
