#include "workstation/dataview.h"

#include <QCategoryAxis>
#include <QChart>
#include <QFrame>
#include <QGraphicsLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QTextDocument>
#include <QValueAxis>

#include <cmath>
#include <limits>

QColor colourFromDeviceValue(std::uint32_t value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

MeasurementChartView::MeasurementChartView(QWidget *parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("DBChart1"));
    m_hint = QStringLiteral("Графическое представление таблицы");
    setToolTip(m_hint);
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::RectangleRubberBand);

    // The view's own chart: a chart set in its place would leave this one to nobody.
    QChart *chart = this->chart();
    chart->setTitle(QStringLiteral("Устройство не выбрано"));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setMargins(QMargins(4, 2, 4, 2));
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeRectangle);
    QFont small = chart->legend()->font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
    chart->legend()->setFont(small);

    m_dateAxis = new QCategoryAxis;
    m_dateAxis->setObjectName(QStringLiteral("TopAxis"));
    m_dateAxis->setTitleText(QStringLiteral("Дата"));
    m_dateAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    // A date is wider than the room between two labels; cut, it would say nothing.
    m_dateAxis->setTruncateLabels(false);
    m_dateAxis->setLabelsFont(small);
    m_dateAxis->setTitleFont(small);
    m_valueAxis = new QValueAxis;
    m_valueAxis->setObjectName(QStringLiteral("LeftAxis"));
    m_valueAxis->setTitleText(QStringLiteral("Значения"));
    m_valueAxis->setLabelsFont(small);
    m_valueAxis->setTitleFont(small);
    chart->addAxis(m_dateAxis, Qt::AlignTop);
    chart->addAxis(m_valueAxis, Qt::AlignLeft);

    const QColor defaults[] = {Qt::red, Qt::cyan, Qt::green, Qt::yellow};
    for (int i = 0; i < 4; ++i) {
        auto *s = new QLineSeries;
        s->setObjectName(QStringLiteral("Series%1").arg(i + 1));
        s->setName(QStringLiteral("Канал-%1").arg(i + 1));
        s->setColor(defaults[i]);
        s->setPointsVisible(false);
        chart->addSeries(s);
        s->attachAxis(m_dateAxis);
        s->attachAxis(m_valueAxis);
        m_series[i] = s;
    }
    updateLegendLabels();
    clearRows();
    // The labels that fit depend on the axis' width, known only once the chart is laid out.
    connect(chart, &QChart::plotAreaChanged, this, [this](const QRectF &area) {
        if (std::abs(area.width() - m_labelledWidth) >= 1)
            layoutDateLabels();
    });

    m_infoPanel = new QFrame(this);
    m_infoPanel->setObjectName(QStringLiteral("PanelChart"));
    m_infoPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_infoPanel->setAutoFillBackground(true);
    m_infoPanel->setFixedSize(145, 61);
    m_infoPanel->setFocusPolicy(Qt::StrongFocus);
    m_colourSquare = new QFrame(m_infoPanel);
    m_colourSquare->setObjectName(QStringLiteral("PanelSeriesColor"));
    m_colourSquare->setGeometry(4, 4, 13, 13);
    m_colourSquare->setAutoFillBackground(true);
    for (int i = 0; i < 3; ++i) {
        auto *line = new QLabel(m_infoPanel);
        line->setObjectName(QStringLiteral("StaticChart%1").arg(i + 1));
        line->setGeometry(i == 0 ? 20 : 4, 3 + 19 * i, i == 0 ? 122 : 138, 17);
        line->setFont(small);
        m_infoLines[i] = line;
    }
    m_infoPanel->hide();

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenuChart"));
    m_popup->addAction(QStringLiteral("Экспорт графика в файл..."))
        ->setObjectName(QStringLiteral("mnuExportChart"));
}

void MeasurementChartView::setChartTitle(const QString &title)
{
    chart()->setTitle(title);
}

void MeasurementChartView::setSeriesTitles(const QStringList &titles)
{
    for (int i = 0; i < 4 && i < titles.size(); ++i)
        m_series[i]->setName(titles[i]);
    updateLegendLabels();
}

void MeasurementChartView::updateLegendLabels()
{
    QLegend *legend = chart()->legend();
    const QFontMetricsF metrics(legend->font());
    const int pads =
        int(std::ceil((kSampleWidth + 3) / std::max(1.0, metrics.horizontalAdvance(QChar(0xA0)))));
    for (QLegendMarker *marker : legend->markers()) {
        // The style's own sample stays invisible; the label starts with room for ours.
        marker->setPen(QPen(Qt::transparent));
        marker->setBrush(QBrush(Qt::transparent));
        marker->setLabel(QString(pads, QChar(0xA0)) + marker->series()->name());
    }
}

void MeasurementChartView::drawForeground(QPainter *painter, const QRectF &rect)
{
    QChartView::drawForeground(painter, rect);
    QLegend *legend = chart()->legend();
    if (!legend->isVisible())
        return;
    QList<QGraphicsTextItem *> labels;
    QList<QGraphicsItem *> pending = legend->childItems();
    while (!pending.isEmpty()) {
        QGraphicsItem *item = pending.takeLast();
        if (auto *text = qgraphicsitem_cast<QGraphicsTextItem *>(item))
            labels.append(text);
        pending.append(item->childItems());
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (QLegendMarker *marker : legend->markers()) {
        const auto *series = qobject_cast<QLineSeries *>(marker->series());
        if (!series || !marker->isVisible())
            continue;
        // The shown text has plain blanks where the label has non-breaking ones.
        QString text = marker->label();
        text.replace(QChar(0xA0), QLatin1Char(' '));
        for (const QGraphicsTextItem *label : std::as_const(labels)) {
            if (!label->isVisible() || label->toPlainText() != text)
                continue;
            const QRectF box = label->sceneBoundingRect();
            const qreal left = box.left() + label->document()->documentMargin();
            const QRectF sample(std::round(left), std::round(box.center().y()) - 4, kSampleWidth,
                                8);
            painter->setPen(Qt::NoPen);
            painter->setBrush(series->color());
            painter->drawRect(sample);
            break;
        }
    }
    painter->restore();
}

void MeasurementChartView::setSeriesColours(const std::array<QColor, 4> &colours)
{
    for (int i = 0; i < 4; ++i)
        m_series[i]->setColor(colours[i]);
    // A colour change gives the markers the series' colours back.
    updateLegendLabels();
}

void MeasurementChartView::clearRows()
{
    m_dates.clear();
    for (QLineSeries *s : m_series)
        s->clear();
    for (const QString &label : m_dateAxis->categoriesLabels())
        m_dateAxis->remove(label);
    m_fullPage = false;
    applyRanges();
}

void MeasurementChartView::showRows(const QList<MeasurementRow> &rows, bool fullPage)
{
    m_fullPage = fullPage;
    m_dates.clear();
    std::array<QList<QPointF>, 4> points;
    const qsizetype n = std::min<qsizetype>(rows.size(), kPagePoints);
    for (qsizetype r = 0; r < n; ++r) {
        m_dates.append(rows[r].date);
        for (int c = 0; c < 4; ++c) {
            if (rows[r].channels[c])
                points[c].append(QPointF(double(r), *rows[r].channels[c]));
        }
    }
    for (int c = 0; c < 4; ++c)
        m_series[c]->replace(points[c]);

    applyRanges();
    layoutDateLabels();
}

QList<int> dateLabelRows(int rows, int span, double axisWidth, double labelWidth, double rightRoom)
{
    // Room between two labels, so that they read as two.
    constexpr double kGap = 12;
    QList<int> result;
    if (rows <= 0 || span <= 0 || axisWidth <= 0)
        return result;
    const double rowWidth = axisWidth / span;
    const int step = std::max(1, int(std::ceil((labelWidth + kGap) / rowWidth)));
    for (int r = 0; r < rows; r += step) {
        // The first label may reach into the value axis' room; any other stays on the axis.
        if (r > 0 && (r + 0.5) * rowWidth + labelWidth / 2 > axisWidth + rightRoom)
            break;
        result.append(r);
    }
    return result;
}

void MeasurementChartView::layoutDateLabels()
{
    for (const QString &label : m_dateAxis->categoriesLabels())
        m_dateAxis->remove(label);
    const int n = int(m_dates.size());
    if (n == 0)
        return;
    // A date stands in lines broken at its blanks; the widest line is the label's width.
    const QFontMetricsF metrics(m_dateAxis->labelsFont());
    double labelWidth = 0;
    for (const QString &date : std::as_const(m_dates)) {
        for (const QString &part : date.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            labelWidth = std::max(labelWidth, metrics.horizontalAdvance(part));
    }
    double axisWidth = chart()->plotArea().width();
    if (axisWidth <= 1)
        axisWidth = std::max(1, width() - 80);
    m_labelledWidth = axisWidth;
    const int span = m_fullPage ? kPagePoints : n;
    for (int r : dateLabelRows(n, span, axisWidth, labelWidth, chart()->margins().right())) {
        // Labels must differ: a repeated date text gets an invisible suffix.
        QString label = m_dates[r];
        label.replace(QLatin1Char(' '), QStringLiteral("<br>"));
        while (m_dateAxis->categoriesLabels().contains(label))
            label += QChar(0x200B);
        m_dateAxis->append(label, double(r));
    }
}

void MeasurementChartView::applyRanges()
{
    const int n = int(m_dates.size());
    const double right = m_fullPage ? kPagePoints - 1 : std::max(1, n - 1);
    // Categories end where their label stands; the first one, at row 0, needs room before it.
    m_dateAxis->setStartValue(-1);
    m_dateAxis->setRange(-0.5, right + 0.5);
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (QLineSeries *s : m_series) {
        for (const QPointF &p : s->points()) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
    }
    if (low > high) {
        low = 0;
        high = 100;
    } else if (high - low < 1e-9) {
        low -= 1;
        high += 1;
    } else {
        const double pad = (high - low) * 0.05;
        low -= pad;
        high += pad;
    }
    m_valueAxis->setRange(low, high);
}

void MeasurementChartView::autoScale()
{
    chart()->zoomReset();
    applyRanges();
}

bool MeasurementChartView::pointAt(const QPoint &pos, int *channel, int *index) const
{
    // The point nearest to the pointer within a few pixels; lines without marks are hard to
    // hit exactly.
    constexpr double kReach = 5;
    double best = kReach * kReach;
    bool found = false;
    for (int c = 0; c < 4; ++c) {
        const QLineSeries *s = m_series[c];
        if (!s->isVisible())
            continue;
        const QList<QPointF> points = s->points();
        for (const QPointF &p : points) {
            const QPointF at =
                mapFromScene(chart()->mapToPosition(p, const_cast<QLineSeries *>(s)));
            const double dx = at.x() - pos.x();
            const double dy = at.y() - pos.y();
            if (dx * dx + dy * dy <= best) {
                best = dx * dx + dy * dy;
                *channel = c + 1;
                *index = int(std::lround(p.x()));
                found = true;
            }
        }
    }
    return found;
}

void MeasurementChartView::showPointInfo(int channel, int pointIndex, const QPoint &at)
{
    QLineSeries *s = m_series[channel - 1];
    const QList<QPointF> points = s->points();
    // The line's pressed point lies between two rows; the nearest row is the one meant.
    const QPointF *found = nullptr;
    for (const QPointF &p : points) {
        if (int(std::lround(p.x())) == pointIndex) {
            found = &p;
            break;
        }
    }
    if (!found)
        return;
    setToolTip(QString());
    QPalette pal = m_colourSquare->palette();
    pal.setColor(QPalette::Window, s->color());
    m_colourSquare->setPalette(pal);
    m_infoLines[0]->setText(QStringLiteral("Описание: ") + s->name());
    m_infoLines[1]->setText(QStringLiteral("Дата: ") + m_dates.value(pointIndex));
    m_infoLines[2]->setText(QStringLiteral("Значение: ") + QLocale().toString(found->y(), 'f', 4));
    // The panel keeps its size unless a line needs more, then it grows so the whole date and
    // value can be read; it stays inside the chart.
    int width = 145;
    for (QLabel *line : m_infoLines) {
        const int needed = line->x() + line->fontMetrics().horizontalAdvance(line->text()) + 6;
        width = std::max(width, needed);
    }
    m_infoPanel->setFixedWidth(width);
    for (QLabel *line : m_infoLines)
        line->resize(width - line->x() - 3, line->height());
    m_infoPanel->move(std::max(0, std::min(at.x(), this->width() - width)), at.y());
    m_infoPanel->show();
    m_infoPanel->raise();
    m_infoPanel->setFocus();
}

void MeasurementChartView::mousePressEvent(QMouseEvent *event)
{
    int channel = 0;
    int index = 0;
    if (event->button() == Qt::LeftButton &&
        pointAt(event->position().toPoint(), &channel, &index)) {
        showPointInfo(channel, index, event->position().toPoint());
        event->accept();
        return;
    }
    QLegend *legend = chart()->legend();
    const QPointF scenePos = mapToScene(event->position().toPoint());
    if (legend->isVisible() && legend->sceneBoundingRect().contains(scenePos)) {
        legend->setBackgroundVisible(false);
        if (event->button() == Qt::RightButton)
            m_popup->popup(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        // Dragging with the right button scrolls the chart.
        m_dragging = true;
        m_dragFrom = event->position().toPoint();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void MeasurementChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        const QPoint now = event->position().toPoint();
        const QPoint d = now - m_dragFrom;
        chart()->scroll(-d.x(), d.y());
        m_dragFrom = now;
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void MeasurementChartView::mouseReleaseEvent(QMouseEvent *event)
{
    setToolTip(m_hint);
    m_infoPanel->hide();
    if (m_dragging) {
        m_dragging = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void MeasurementChartView::focusOutEvent(QFocusEvent *event)
{
    if (!m_infoPanel->hasFocus())
        m_infoPanel->hide();
    QChartView::focusOutEvent(event);
}

DataView::DataView(QTableView *grid, MeasurementChartView *chart)
    : m_table(std::make_unique<MeasurementTable>()), m_grid(grid), m_chart(chart),
      m_model(new MeasurementTableModel(grid))
{
    m_grid->setModel(m_model);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 4);
    m_grid->verticalHeader()->hide();
    m_grid->setToolTip(
        QStringLiteral("Таблица данных, полученных\nпри периодическом опросе устройства"));
    fitColumns();

    // The grid's popup and the chart legend's popup offer the exports.
    auto *gridPopup = new QMenu(m_grid);
    gridPopup->setObjectName(QStringLiteral("PopupMenuGrid"));
    QAction *excel = gridPopup->addAction(QStringLiteral("Экспорт в Microsoft Excel"));
    excel->setObjectName(QStringLiteral("Excel1"));
    m_tableExport = excel;
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_grid, &QWidget::customContextMenuRequested, gridPopup,
                     [this, gridPopup](const QPoint &pos) {
                         gridPopup->popup(m_grid->viewport()->mapToGlobal(pos));
                     });
    m_chartExport = m_chart->popupMenu()->findChild<QAction *>(QStringLiteral("mnuExportChart"),
                                                               Qt::FindDirectChildrenOnly);
}

void DataView::fitColumns()
{
    const QFontMetrics metrics(m_grid->font());
    m_grid->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("Номер ")) + 12);
    m_grid->setColumnWidth(1,
                           metrics.horizontalAdvance(QStringLiteral("00:00:00 00.00.0000")) + 12);
    for (int c = 2; c < 6; ++c)
        m_grid->setColumnWidth(c, metrics.horizontalAdvance(QStringLiteral("-0000,000")) + 10);
}

void DataView::open(const QString &path)
{
    auto table = std::make_unique<MeasurementTable>();
    table->open(path);
    m_model->setTable(nullptr);
    m_table = std::move(table);
    m_model->setTable(m_table.get());
    m_model->setTitles(MeasurementTableModel::defaultTitles());
    fitColumns();
}

void DataView::close()
{
    m_model->setTable(nullptr);
    m_table = std::make_unique<MeasurementTable>();
    m_model->setTable(m_table.get());
    m_chart->clearRows();
}

void DataView::follow(const QString &path)
{
    if (m_table->path() == path && m_table->isCurrent())
        return;
    try {
        open(path);
    } catch (const TableError &) {
        m_model->setTable(nullptr);
        m_table = std::make_unique<MeasurementTable>();
        m_model->setTable(m_table.get());
    }
}

void DataView::showNewestRow()
{
    m_model->refresh();
    const int last = m_model->rowCount() - 1;
    if (last < 0)
        return;
    m_grid->setCurrentIndex(m_model->index(last, 0));
    m_grid->scrollToBottom();
}

void DataView::refreshChart(bool fullPage)
{
    if (!m_table->isOpen()) {
        m_chart->clearRows();
        return;
    }
    m_model->refresh();
    m_chart->showRows(
        m_table->rows(0, std::min<qint64>(m_table->rowCount(), MeasurementChartView::kPagePoints)),
        fullPage);
}
