#include "platform/measurementmodel.h"

#include <limits>

MeasurementTableModel::MeasurementTableModel(QObject *parent)
    : QAbstractTableModel(parent), m_titles(defaultTitles()), m_blocks(64)
{
}

QStringList MeasurementTableModel::defaultTitles()
{
    return {QStringLiteral("Номер "),  QStringLiteral("Дата"),    QStringLiteral("Канал-1"),
            QStringLiteral("Канал-2"), QStringLiteral("Канал-3"), QStringLiteral("Канал-4")};
}

QString MeasurementTableModel::formatValue(double value, const QLocale &locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(value, 'f', 3);
}

void MeasurementTableModel::setTable(MeasurementTable *table)
{
    beginResetModel();
    m_table = table;
    m_blocks.clear();
    m_rows = table ? table->rowCount() : 0;
    endResetModel();
}

void MeasurementTableModel::refresh()
{
    const qint64 rows = m_table ? m_table->refresh() : 0;
    if (rows == m_rows)
        return;
    if (rows < m_rows) {
        setTable(m_table);
        return;
    }
    // The block that held the old last rows may have been cached short.
    m_blocks.remove(m_rows / kBlockRows);
    beginInsertRows({}, int(m_rows), int(rows - 1));
    m_rows = rows;
    endInsertRows();
}

void MeasurementTableModel::setLocale(const QLocale &locale)
{
    m_locale = locale;
    if (m_rows > 0)
        emit dataChanged(index(0, 2), index(rowCount() - 1, 5));
}

void MeasurementTableModel::setTitles(const QStringList &titles)
{
    m_titles = titles;
    while (m_titles.size() < 6)
        m_titles.append(QString());
    emit headerDataChanged(Qt::Horizontal, 0, 5);
}

int MeasurementTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qint64>(m_rows, std::numeric_limits<int>::max()));
}

int MeasurementTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 6;
}

const MeasurementRow *MeasurementTableModel::cachedRow(qint64 row) const
{
    if (!m_table || row < 0 || row >= m_rows)
        return nullptr;
    const qint64 block = row / kBlockRows;
    QList<MeasurementRow> *rows = m_blocks.object(block);
    if (!rows) {
        rows = new QList<MeasurementRow>(m_table->rows(block * kBlockRows, kBlockRows));
        m_blocks.insert(block, rows);
    }
    const qint64 at = row - block * kBlockRows;
    return at < rows->size() ? &rows->at(at) : nullptr;
}

QVariant MeasurementTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() >= 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    const MeasurementRow *row = cachedRow(index.row());
    if (!row)
        return {};
    switch (index.column()) {
    case 0:
        return row->num;
    case 1:
        return row->date;
    default: {
        const auto &value = row->channels[size_t(index.column() - 2)];
        return value ? formatValue(*value, m_locale) : QString();
    }
    }
}

QVariant MeasurementTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return {};
    return m_titles.value(section);
}
