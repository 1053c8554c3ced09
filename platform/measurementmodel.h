#pragma once

#include "platform/measurementtable.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QLocale>
#include <QStringList>

// The grid's view of a measurement table: read-only, six columns in field order, rows fetched
// from the file in blocks as the grid scrolls to them, so a table of any length shows at once.
class MeasurementTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kBlockRows = 128;

    explicit MeasurementTableModel(QObject *parent = nullptr);

    // The table to show (not owned; nullptr shows nothing). Resets the model.
    void setTable(MeasurementTable *table);
    MeasurementTable *table() const { return m_table; }
    // Counts the table's rows again: rows appended since appear, a shrunk table is re-read.
    void refresh();

    void setLocale(const QLocale &locale);
    QStringList titles() const { return m_titles; }
    void setTitles(const QStringList &titles);
    static QStringList defaultTitles();

    // A channel value as the grid shows it: "###0.000" in the locale's decimal separator.
    static QString formatValue(double value, const QLocale &locale);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const MeasurementRow *cachedRow(qint64 row) const;

    MeasurementTable *m_table = nullptr;
    qint64 m_rows = 0;
    QLocale m_locale;
    QStringList m_titles;
    mutable QCache<qint64, QList<MeasurementRow>> m_blocks;
};
