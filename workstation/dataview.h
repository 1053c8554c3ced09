#pragma once

class QAction;

#include "platform/measurementmodel.h"
#include "platform/measurementtable.h"

#include <QChartView>
#include <QStringList>

#include <array>
#include <memory>

class QCategoryAxis;
class QFrame;
class QLabel;
class QLineSeries;
class QMenu;
class QTableView;
class QValueAxis;

// The rows of a chart page that carry a date label on the top axis. The axis is axisWidth
// pixels wide for span rows (row r centred at (r + 0.5) of a row's width); labels are
// labelWidth wide and centred on their row. From the first row on every step-th row, the step
// the smallest that keeps neighbouring labels apart, and no label running past the axis' right
// end by more than rightRoom.
QList<int> dateLabelRows(int rows, int span, double axisWidth, double labelWidth,
                         double rightRoom = 0);

// The chart of the selected device's table: four channel lines against the row position, the
// "Date" texts on the top axis, a legend below. A press on a line shows the point's details for
// as long as the button is held; a right press on the legend offers the chart export.
class MeasurementChartView : public QChartView
{
    Q_OBJECT
public:
    static constexpr int kPagePoints = 200;
    // The legend's colour samples: wider than the style's small squares, so a colour can be told.
    static constexpr int kSampleWidth = 20;

    explicit MeasurementChartView(QWidget *parent = nullptr);

    QLineSeries *series(int channel) const { return m_series[channel - 1]; } // 1..4
    QCategoryAxis *dateAxis() const { return m_dateAxis; }
    QValueAxis *valueAxis() const { return m_valueAxis; }
    QFrame *infoPanel() const { return m_infoPanel; }
    QMenu *popupMenu() const { return m_popup; }

    void setChartTitle(const QString &title);
    void setSeriesTitles(const QStringList &titles);
    void setSeriesColours(const std::array<QColor, 4> &colours);
    // The first page of rows; fullPage keeps the scale of a whole page even when fewer rows
    // exist, so that new points enter from the left instead of squeezing the old ones.
    void showRows(const QList<MeasurementRow> &rows, bool fullPage);
    void clearRows();
    // Back to the scale the rows call for, undoing the user's zoom and scroll.
    void autoScale();
    // Shows the details of one point at a chart position (the press handler's work).
    void showPointInfo(int channel, int pointIndex, const QPoint &at);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void drawForeground(QPainter *painter, const QRectF &rect) override;

private:
    bool pointAt(const QPoint &pos, int *channel, int *index) const;
    void applyRanges();
    // The date labels that fit the axis' width now.
    void layoutDateLabels();
    // Legend entries leave room for the samples that drawForeground paints.
    void updateLegendLabels();

    std::array<QLineSeries *, 4> m_series{};
    QCategoryAxis *m_dateAxis = nullptr;
    QValueAxis *m_valueAxis = nullptr;
    QFrame *m_infoPanel = nullptr;
    QFrame *m_colourSquare = nullptr;
    std::array<QLabel *, 3> m_infoLines{};
    QMenu *m_popup = nullptr;
    QStringList m_dates;
    QString m_hint;
    bool m_fullPage = false;
    double m_labelledWidth = 0;
    bool m_dragging = false;
    QPoint m_dragFrom;
};

// The selected device's table as the main window shows it: the display table kept open while
// the device is selected, the grid's model over it and the chart.
class DataView
{
public:
    DataView(QTableView *grid, MeasurementChartView *chart);

    MeasurementTable &table() { return *m_table; }
    MeasurementTableModel *model() const { return m_model; }
    MeasurementChartView *chart() const { return m_chart; }
    QTableView *grid() const { return m_grid; }

    // Opens the table for display; on failure the previous table stays shown. Throws TableError
    // "Ошибка открытия базы данных: " + path.
    void open(const QString &path);
    bool isOpen() const { return m_table->isOpen(); }
    // Shows no table: an empty grid and an empty chart.
    void close();
    // Keeps the view on the file that appends to path write: reopens it when the open file was
    // deleted or replaced, and shows no rows while there is no measurement table there.
    void follow(const QString &path);
    // Rows appended since the last look appear in the grid, which moves to the newest row.
    void showNewestRow();
    // The popup entries that export the table and the chart; whoever assembles the window
    // connects them to the exports.
    QAction *tableExportAction() const { return m_tableExport; }
    QAction *chartExportAction() const { return m_chartExport; }
    // Redraws the chart's page from the table.
    void refreshChart(bool fullPage);

private:
    void fitColumns();

    std::unique_ptr<MeasurementTable> m_table;
    QTableView *m_grid;
    MeasurementChartView *m_chart;
    QAction *m_tableExport = nullptr;
    QAction *m_chartExport = nullptr;
    MeasurementTableModel *m_model;
};

// A device's 0x00BBGGRR channel colour.
QColor colourFromDeviceValue(std::uint32_t value);
