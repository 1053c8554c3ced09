#include "platform/measurementtable.h"

#include "platform/cp1251.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <shapefil.h>

#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNumWidth = 5;
constexpr int kDateWidth = 20;
constexpr int kChannelWidth = 20;
constexpr int kChannelDecimals = 4;
constexpr qint64 kMaxHeader = 32 + 32 * 255 + 1;

const char *const kFieldNames[6] = {"Num", "Date", "Chan1", "Chan2", "Chan3", "Chan4"};

QString openError(const QString &path)
{
    return QStringLiteral("Ошибка открытия базы данных: ") + path;
}

// The table library names files after their layer and tries companion files; these hooks pin
// every open to the exact table path and keep it away from anything else in the folder.
thread_local QByteArray t_path;
thread_local QString t_error;

SAFile hookOpen(const char *name, const char *access)
{
    const QByteArray requested(name);
    if (!requested.toLower().endsWith(".dbf"))
        return nullptr;
    return reinterpret_cast<SAFile>(std::fopen(t_path.constData(), access));
}

int hookClose(SAFile file)
{
    auto *fp = reinterpret_cast<FILE *>(file);
    // Rows must survive a power loss once appended.
    std::fflush(fp);
    ::fsync(fileno(fp));
    return std::fclose(fp);
}

int hookRemove(const char *)
{
    return 0;
}

void hookError(const char *message)
{
    t_error = QString::fromLocal8Bit(message);
}

SAHooks tableHooks(const QString &path)
{
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.FOpen = hookOpen;
    hooks.FClose = hookClose;
    hooks.Remove = hookRemove;
    hooks.Error = hookError;
    t_path = QFile::encodeName(path);
    t_error.clear();
    return hooks;
}

std::optional<DbfLayout> readLayout(QFile &file, QString *why)
{
    const qint64 size = file.size();
    file.seek(0);
    const QByteArray head = file.read(std::min(size, kMaxHeader));
    return parseDbfHeader(head, size, why);
}

void writeCount(QFile &file, quint32 count)
{
    const char bytes[4] = {char(count & 0xFF), char((count >> 8) & 0xFF),
                           char((count >> 16) & 0xFF), char(count >> 24)};
    file.seek(4);
    file.write(bytes, 4);
    file.flush();
}

// The header's last-update date, written when the handle is closed after a change.
void stampLastUpdate(DBFHandle dbf, const QDate &date)
{
    if (date.isValid() && date.year() >= 1900 && date.year() < 1900 + 256)
        DBFSetLastModifiedDate(dbf, date.year() - 1900, date.month(), date.day());
}

QByteArray fitted(const QByteArray &text, int width, bool rightAligned)
{
    if (text.size() >= width)
        return text.left(width);
    const QByteArray pad(width - text.size(), ' ');
    return rightAligned ? pad + text : text + pad;
}

// A channel value in the field's own width and decimals, locale-free; blank when the value
// cannot be shown there (not a number, or too wide).
QByteArray numberField(double value, const DbfField &field)
{
    if (std::isfinite(value)) {
        const QByteArray text = QByteArray::number(value, 'f', field.decimals);
        if (text.size() <= field.width)
            return fitted(text, field.width, true);
    }
    return QByteArray(field.width, ' ');
}

} // namespace

QString measurementNumText(qint64 rowsBefore)
{
    return QString::number(rowsBefore).left(kNumWidth);
}

QString measurementDateText(const QDateTime &when, const QLocale &locale)
{
    // The long time format may carry the time zone; the table keeps local wall time only.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    const QString text = locale.toString(when.time(), timeFormat.trimmed()) + QLatin1Char(' ') +
                         locale.toString(when.date(), QLocale::ShortFormat);
    return text.left(kDateWidth);
}

bool isMeasurementLayout(const DbfLayout &layout)
{
    if (layout.fields.size() != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        const DbfField &f = layout.fields[i];
        if (f.name.compare(kFieldNames[i], Qt::CaseInsensitive) != 0)
            return false;
        const bool text = i < 2;
        if (text ? f.type != 'C' : (f.type != 'N' && f.type != 'F'))
            return false;
    }
    return true;
}

void EnsureMeasurementTable(const QString &path)
{
    if (QFileInfo::exists(path))
        return;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw TableError(QStringLiteral("Невозможно создать: ") + folder + QLatin1Char('/'));
    SAHooks hooks = tableHooks(path);
    // Text fields are Windows-1251: the language driver mark 201 tells dBase readers so.
    DBFHandle dbf = DBFCreateLL(t_path.constData(), "LDID/201", &hooks);
    if (!dbf)
        throw TableError(openError(path));
    stampLastUpdate(dbf, QDate::currentDate());
    bool ok = DBFAddField(dbf, kFieldNames[0], FTString, kNumWidth, 0) >= 0 &&
              DBFAddField(dbf, kFieldNames[1], FTString, kDateWidth, 0) >= 0;
    for (int i = 2; i < 6; ++i)
        ok = ok && DBFAddField(dbf, kFieldNames[i], FTDouble, kChannelWidth, kChannelDecimals) >= 0;
    DBFClose(dbf);
    if (!ok) {
        QFile::remove(path);
        throw TableError(openError(path));
    }
}

qint64 AppendMeasurementRow(const QString &path, const QDateTime &when,
                            const std::array<double, 4> &values, const QLocale &locale)
{
    EnsureMeasurementTable(path);

    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw TableError(openError(path));
    const auto layout = readLayout(file, nullptr);
    if (!layout || !isMeasurementLayout(*layout))
        throw TableError(openError(path));
    // The file's length, not the header, says how many whole rows there are: a row written
    // just before a crash counts, a partial one is written over.
    const qint64 rows = layout->rowsByLength(file.size());
    if (rows != qint64(layout->headerCount))
        writeCount(file, quint32(rows));
    file.close();

    QByteArray record(" ");
    record += fitted(cp1251::encode(measurementNumText(rows)), layout->fields[0].width, false);
    record +=
        fitted(cp1251::encode(measurementDateText(when, locale)), layout->fields[1].width, false);
    for (int i = 0; i < 4; ++i)
        record += numberField(values[size_t(i)], layout->fields[2 + i]);

    SAHooks hooks = tableHooks(path);
    DBFHandle dbf = DBFOpenLL(t_path.constData(), "rb+", &hooks);
    if (!dbf)
        throw TableError(openError(path));
    const bool written =
        DBFGetRecordCount(dbf) == rows && DBFWriteTuple(dbf, int(rows), record.data()) != 0;
    stampLastUpdate(dbf, when.date());
    DBFClose(dbf);
    if (!written) {
        throw TableError(QStringLiteral("Ошибка записи в базу данных: ") + path +
                         (t_error.isEmpty() ? QString() : QStringLiteral(" (") + t_error + ')'));
    }
    return rows;
}

void MeasurementTable::open(const QString &path)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        throw TableError(openError(path));
    const auto layout = readLayout(m_file, nullptr);
    if (!layout || !isMeasurementLayout(*layout)) {
        m_file.close();
        throw TableError(openError(path));
    }
    m_layout = *layout;
    m_path = path;
    refresh();
}

void MeasurementTable::close()
{
    m_file.close();
    m_rows = 0;
    m_path.clear();
}

qint64 MeasurementTable::refresh()
{
    m_rows = isOpen() ? m_layout.rowsByLength(m_file.size()) : 0;
    return m_rows;
}

bool MeasurementTable::isCurrent()
{
    if (!isOpen())
        return false;
    struct stat open = {};
    struct stat named = {};
    if (::fstat(m_file.handle(), &open) != 0 || ::stat(QFile::encodeName(m_path), &named) != 0 ||
        open.st_dev != named.st_dev || open.st_ino != named.st_ino)
        return false;
    const auto layout = readLayout(m_file, nullptr);
    return layout && isMeasurementLayout(*layout);
}

std::optional<MeasurementRow> MeasurementTable::row(qint64 index)
{
    const QList<MeasurementRow> one = rows(index, 1);
    if (one.isEmpty())
        return std::nullopt;
    return one.first();
}

QList<MeasurementRow> MeasurementTable::rows(qint64 first, qint64 count)
{
    QList<MeasurementRow> out;
    if (!isOpen() || first < 0 || first >= m_rows || count <= 0)
        return out;
    count = std::min(count, m_rows - first);
    if (!m_file.seek(m_layout.headerLength + first * m_layout.recordLength))
        return out;
    const QByteArray bytes = m_file.read(count * m_layout.recordLength);
    // The file may have shrunk since it was counted: only whole records are rows.
    const qint64 whole = bytes.size() / m_layout.recordLength;
    out.reserve(whole);
    for (qint64 i = 0; i < whole; ++i)
        out.append(decode(bytes.constData() + i * m_layout.recordLength));
    return out;
}

MeasurementRow MeasurementTable::decode(const char *record) const
{
    const auto field = [&](int i) {
        const DbfField &f = m_layout.fields[i];
        return QByteArray(record + f.offset, f.width);
    };
    MeasurementRow row;
    row.num = cp1251::decode(field(0)).trimmed();
    row.date = cp1251::decode(field(1)).trimmed();
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const double v = field(2 + i).trimmed().toDouble(&ok);
        if (ok)
            row.channels[size_t(i)] = v;
    }
    return row;
}
