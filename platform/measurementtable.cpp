#include "platform/measurementtable.h"

#include "platform/atomicfile.h"
#include "platform/cp1251.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <shapefil.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
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
// every open to one path and keep it away from anything else in the folder. The library also
// ignores what its writes, seeks and flushes return: the hooks keep the first failure and
// refuse every write after it, since after a failed seek the library re-reads the header from
// the wrong place and would write what it got over the real one.
thread_local QByteArray t_path;
thread_local QString t_error;
thread_local int t_failure = 0;

FILE *stream(SAFile file)
{
    return reinterpret_cast<FILE *>(file);
}

void noteFailure()
{
    if (!t_failure)
        t_failure = errno ? errno : EIO;
}

SAFile hookOpen(const char *name, const char *access)
{
    const QByteArray requested(name);
    if (!requested.toLower().endsWith(".dbf"))
        return nullptr;
    return reinterpret_cast<SAFile>(std::fopen(t_path.constData(), access));
}

SAOffset hookWrite(void *data, SAOffset size, SAOffset count, SAFile file)
{
    if (t_failure)
        return 0;
    const size_t written = std::fwrite(data, size, count, stream(file));
    if (written < count)
        noteFailure();
    return written;
}

// A seek first writes out what was buffered: that is where a full disk shows.
SAOffset hookSeek(SAFile file, SAOffset offset, int whence)
{
    if (std::fseek(stream(file), long(offset), whence) == 0)
        return 0;
    noteFailure();
    return SAOffset(-1);
}

int hookFlush(SAFile file)
{
    if (std::fflush(stream(file)) == 0)
        return 0;
    noteFailure();
    return -1;
}

int hookClose(SAFile file)
{
    FILE *fp = stream(file);
    // Rows must survive a power loss once appended.
    if (std::fflush(fp) != 0 || ::fsync(fileno(fp)) != 0)
        noteFailure();
    if (std::fclose(fp) != 0)
        noteFailure();
    return t_failure ? -1 : 0;
}

int hookRemove(const char *)
{
    return 0;
}

void hookError(const char *message)
{
    t_error = QString::fromLocal8Bit(message);
}

SAHooks tableHooks(const QString &file)
{
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.FOpen = hookOpen;
    hooks.FWrite = hookWrite;
    hooks.FSeek = hookSeek;
    hooks.FFlush = hookFlush;
    hooks.FClose = hookClose;
    hooks.Remove = hookRemove;
    hooks.Error = hookError;
    t_path = QFile::encodeName(file);
    t_error.clear();
    t_failure = 0;
    return hooks;
}

QString writeError(const QString &path, const QString &reason)
{
    return QStringLiteral("Ошибка записи в базу данных: ") + path +
           (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + ')');
}

bool writeAllAt(int fd, const QByteArray &bytes, qint64 offset)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done),
                                   off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// What an append may change: the header, and everything from the new row's place on (the end
// mark, or the part of a row that a crash left).
struct TableBytes
{
    qint64 length = 0;
    QByteArray header;
    qint64 tailOffset = 0;
    QByteArray tail;
};

// 0, or the errno of the write that failed. Opened without truncation: the count is the only
// thing changed.
int writeCount(const QString &path, quint32 count)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const char bytes[4] = {char(count & 0xFF), char((count >> 8) & 0xFF),
                           char((count >> 16) & 0xFF), char(count >> 24)};
    const int failure = writeAllAt(fd, QByteArray(bytes, 4), 4) ? 0 : errno;
    return ::close(fd) == 0 || failure ? failure : errno;
}

// Puts the saved bytes back; 0, or the errno of what failed.
int restore(const QString &path, const TableBytes &saved)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Cut first: that gives back whatever the failed append took, for the writes below.
    const bool restored = ::ftruncate(fd, off_t(saved.length)) == 0 &&
                          writeAllAt(fd, saved.header, 0) &&
                          writeAllAt(fd, saved.tail, saved.tailOffset) && ::fsync(fd) == 0;
    const int failure = restored ? 0 : errno;
    ::close(fd);
    return failure;
}

std::optional<DbfLayout> readLayout(QFile &file, QString *why)
{
    const qint64 size = file.size();
    file.seek(0);
    const QByteArray head = file.read(std::min(size, kMaxHeader));
    return parseDbfHeader(head, size, why);
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
    // Made under another name and put in place whole: a full disk leaves no broken table.
    AtomicFile file(path);
    if (!file.open())
        throw TableError(writeError(path, file.error().reason));
    SAHooks hooks = tableHooks(file.temporaryPath());
    // Text fields are Windows-1251: the language driver mark 201 tells dBase readers so.
    DBFHandle dbf = DBFCreateLL(QFile::encodeName(path).constData(), "LDID/201", &hooks);
    if (!dbf)
        throw TableError(t_failure ? writeError(path, systemReason(t_failure)) : openError(path));
    stampLastUpdate(dbf, QDate::currentDate());
    bool ok = DBFAddField(dbf, kFieldNames[0], FTString, kNumWidth, 0) >= 0 &&
              DBFAddField(dbf, kFieldNames[1], FTString, kDateWidth, 0) >= 0;
    for (int i = 2; i < 6; ++i)
        ok = ok && DBFAddField(dbf, kFieldNames[i], FTDouble, kChannelWidth, kChannelDecimals) >= 0;
    DBFClose(dbf);
    if (t_failure)
        throw TableError(writeError(path, systemReason(t_failure)));
    if (!ok)
        throw TableError(openError(path));
    // Another writer may have made the table meanwhile: its rows stay.
    if (!file.commit(true))
        throw TableError(writeError(path, file.error().reason));
}

qint64 AppendMeasurementRow(const QString &path, const QDateTime &when,
                            const std::array<double, 4> &values, const QLocale &locale,
                            MeasurementRow *rowOut)
{
    EnsureMeasurementTable(path);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TableError(openError(path));
    const auto layout = readLayout(file, nullptr);
    if (!layout || !isMeasurementLayout(*layout))
        throw TableError(openError(path));
    // The file's length, not the header, says how many whole rows there are: a row written
    // just before a crash counts, a partial one is written over.
    TableBytes saved;
    saved.length = file.size();
    const qint64 rows = layout->rowsByLength(saved.length);
    file.seek(0);
    saved.header = file.read(layout->headerLength);
    saved.tailOffset = layout->headerLength + rows * layout->recordLength;
    if (file.seek(saved.tailOffset))
        saved.tail = file.readAll();
    if (saved.header.size() != layout->headerLength ||
        saved.tailOffset + saved.tail.size() != saved.length)
        throw TableError(openError(path));
    file.close();

    QByteArray record(" ");
    MeasurementRow row;
    row.num = measurementNumText(rows);
    row.date = measurementDateText(when, locale);
    record += fitted(cp1251::encode(row.num), layout->fields[0].width, false);
    record += fitted(cp1251::encode(row.date), layout->fields[1].width, false);
    for (int i = 0; i < 4; ++i) {
        const QByteArray field = numberField(values[size_t(i)], layout->fields[2 + i]);
        record += field;
        if (const QByteArray text = field.trimmed(); !text.isEmpty())
            row.channels[size_t(i)] = text.toDouble();
    }

    // All or nothing: whatever fails, the table gets its old bytes back.
    int failure = rows == qint64(layout->headerCount) ? 0 : writeCount(path, quint32(rows));
    bool written = false;
    if (!failure) {
        SAHooks hooks = tableHooks(path);
        if (DBFHandle dbf = DBFOpenLL(t_path.constData(), "rb+", &hooks)) {
            written =
                DBFGetRecordCount(dbf) == rows && DBFWriteTuple(dbf, int(rows), record.data()) != 0;
            stampLastUpdate(dbf, when.date());
            DBFClose(dbf);
        }
        failure = t_failure;
    }
    if (written && !failure) {
        if (rowOut)
            *rowOut = row;
        return rows;
    }
    QString text = writeError(path, failure ? systemReason(failure) : t_error);
    if (const int lost = restore(path, saved))
        text += QStringLiteral("; прежнее содержимое не восстановлено: ") + systemReason(lost);
    throw TableError(text);
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
