#include "workstation/dataview.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QMenu>
#include <QValueAxis>
#include <QtTest>

// The chart's reactions to the mouse and its paging, on a chart with known rows.
class TestChartView : public QObject
{
    Q_OBJECT

    static QList<MeasurementRow> rows(int n)
    {
        QList<MeasurementRow> out;
        for (int i = 0; i < n; ++i) {
            MeasurementRow r;
            r.num = QString::number(i);
            r.date = QStringLiteral("10:00:%1 01.02.2026").arg(i % 60, 2, 10, QLatin1Char('0'));
            r.channels = {10.0 + i, 20.0 + i, 30.0, 40.25 + i};
            out.append(r);
        }
        return out;
    }

    QPoint pointOnScreen(MeasurementChartView &view, int channel, int row)
    {
        QLineSeries *s = view.series(channel);
        const QPointF scene = view.chart()->mapToPosition(s->at(row), s);
        return view.mapFromScene(scene);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void pagingAndScale_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("fullPage");
        QTest::addColumn<int>("points");
        QTest::addColumn<double>("right");
        QTest::newRow("few rows stretched") << 12 << false << 12 << 11.5;
        QTest::newRow("few rows on a whole page") << 12 << true << 12 << 199.5;
        QTest::newRow("first page only") << 450 << false << 200 << 199.5;
    }
    void pagingAndScale()
    {
        QFETCH(int, rows);
        QFETCH(bool, fullPage);
        QFETCH(int, points);
        QFETCH(double, right);
        MeasurementChartView view;
        view.showRows(TestChartView::rows(rows), fullPage);
        for (int c = 1; c <= 4; ++c)
            QCOMPARE(view.series(c)->count(), points);
        QCOMPARE(view.dateAxis()->max(), right);
        QVERIFY(view.valueAxis()->min() <= 10.0);
        QVERIFY(view.valueAxis()->max() >= 40.25 + points - 1);
    }

    // The date labels on the top axis stand whole, broken into lines, never cut short.
    void dateLabelsAreWhole_data()
    {
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<bool>("fullPage");
        QTest::newRow("ten rows") << 10 << false;
        QTest::newRow("a page") << 200 << true;
    }
    void dateLabelsAreWhole()
    {
        QFETCH(int, rowCount);
        QFETCH(bool, fullPage);
        MeasurementChartView view;
        view.resize(300, 220); // narrow: the room between two labels is less than a date
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.showRows(rows(rowCount), fullPage);
        QTest::qWait(50);
        QVERIFY(!view.dateAxis()->categoriesLabels().isEmpty());
        QVERIFY(!view.dateAxis()->labelsTruncated());
    }

    // Which rows get a date label: as many as fit apart, none past the axis' right end.
    void dateLabelRowsFit_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("span");
        QTest::addColumn<double>("axisWidth");
        QTest::addColumn<QList<int>>("expected");
        // Labels 60 px wide, 12 px apart at least.
        QTest::newRow("2 rows stretched") << 2 << 2 << 480.0 << QList<int>{0, 1};
        QTest::newRow("2 rows, narrow axis") << 2 << 2 << 100.0 << QList<int>{0};
        QTest::newRow("2 rows on a page") << 2 << 200 << 480.0 << QList<int>{0};
        QTest::newRow("10 rows stretched") << 10 << 10 << 480.0 << QList<int>{0, 2, 4, 6, 8};
        QTest::newRow("10 rows, last cut") << 10 << 10 << 300.0 << QList<int>{0, 3, 6};
        QTest::newRow("a full page")
            << 200 << 200 << 480.0 << QList<int>{0, 30, 60, 90, 120, 150, 180};
        QTest::newRow("no axis yet") << 10 << 10 << 0.0 << QList<int>{};
    }
    void dateLabelRowsFit()
    {
        QFETCH(int, rows);
        QFETCH(int, span);
        QFETCH(double, axisWidth);
        QFETCH(QList<int>, expected);
        QCOMPARE(dateLabelRows(rows, span, axisWidth, 60.0), expected);
    }

    // Each legend entry shows a colour sample 20 pixels wide.
    void legendSamplesAreWide()
    {
        MeasurementChartView view;
        view.resize(460, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setSeriesColours(
            {QColor(200, 10, 10), QColor(10, 160, 10), QColor(10, 10, 200), QColor(150, 0, 150)});
        view.setSeriesTitles({"А", "Б", "В", "Г"});
        QTest::qWait(50);
        const QImage shot = view.grab().toImage();
        const QRect legend =
            view.mapFromScene(view.chart()->legend()->sceneBoundingRect()).boundingRect();
        for (int c = 1; c <= 4; ++c) {
            const QRgb colour = view.series(c)->color().rgb();
            int widest = 0;
            int pixels = 0;
            for (int y = std::max(0, legend.top());
                 y <= std::min(shot.height() - 1, legend.bottom()); ++y) {
                int run = 0;
                for (int x = std::max(0, legend.left());
                     x <= std::min(shot.width() - 1, legend.right()); ++x) {
                    const bool same = (shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
                    run = same ? run + 1 : 0;
                    pixels += same;
                    widest = std::max(widest, run);
                }
            }
            QVERIFY2(widest >= MeasurementChartView::kSampleWidth &&
                         widest <= MeasurementChartView::kSampleWidth + 1,
                     qPrintable(QString::number(widest)));
            QCOMPARE(pixels, MeasurementChartView::kSampleWidth * 8); // and nothing else
        }
    }

    void noDeviceNoPoints()
    {
        MeasurementChartView view;
        QCOMPARE(view.chart()->title(), QStringLiteral("Устройство не выбрано"));
        for (int c = 1; c <= 4; ++c) {
            QCOMPARE(view.series(c)->count(), 0);
            QCOMPARE(view.series(c)->name(), QStringLiteral("Канал-%1").arg(c));
        }
        QCOMPARE(view.chart()->legend()->alignment(), Qt::AlignBottom);
    }

    // Left press on a point shows its details while the button is held; other buttons do not.
    void pointDetailsWhilePressed_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("shown");
        QTest::newRow("left") << Qt::LeftButton << true;
        QTest::newRow("right") << Qt::RightButton << false;
    }
    void pointDetailsWhilePressed()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, shown);
        MeasurementChartView view;
        view.resize(500, 320);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.showRows(rows(10), false);
        view.series(4)->setName(QStringLiteral("Цех"));
        QTest::qWait(50);

        const QPoint at = pointOnScreen(view, 4, 3);
        QTest::mousePress(view.viewport(), button, {}, at);
        QCOMPARE(view.infoPanel()->isVisible(), shown);
        if (shown) {
            auto line = [&](int i) {
                return view.infoPanel()
                    ->findChild<QLabel *>(QStringLiteral("StaticChart%1").arg(i))
                    ->text();
            };
            QCOMPARE(line(1), QStringLiteral("Описание: Цех"));
            QCOMPARE(line(2), QStringLiteral("Дата: 10:00:03 01.02.2026"));
            QCOMPARE(line(3), QStringLiteral("Значение: 43,2500"));
            // The whole date can be read: its line is as wide as its text, inside the panel.
            auto *date = view.infoPanel()->findChild<QLabel *>(QStringLiteral("StaticChart2"));
            QVERIFY(date->width() >= date->fontMetrics().horizontalAdvance(date->text()));
            QVERIFY(date->geometry().right() < view.infoPanel()->width());
            QVERIFY((view.infoPanel()->pos() - at).manhattanLength() <= 2);
            QVERIFY(view.toolTip().isEmpty());
        }
        QTest::mouseRelease(view.viewport(), button, {}, at);
        QVERIFY(!view.infoPanel()->isVisible());
        QCOMPARE(view.toolTip(), QStringLiteral("Графическое представление таблицы"));
    }

    void legendRightPressOffersExport()
    {
        MeasurementChartView view;
        view.resize(500, 320);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.showRows(rows(10), false);
        QTest::qWait(50);
        const QPoint legend =
            view.mapFromScene(view.chart()->legend()->sceneBoundingRect().center());
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, legend);
        QVERIFY(!view.popupMenu()->isVisible());
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, legend);
        QTest::mousePress(view.viewport(), Qt::RightButton, {}, legend);
        QTRY_VERIFY(view.popupMenu()->isVisible());
        QCOMPARE(view.popupMenu()->actions().value(0)->text(),
                 QStringLiteral("Экспорт графика в файл..."));
        view.popupMenu()->hide();
    }

    // Zooming in and back: a device click restores the scale the rows call for.
    void autoScaleUndoesZoom()
    {
        MeasurementChartView view;
        view.resize(500, 320);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.showRows(rows(50), false);
        view.chart()->zoom(3);
        QVERIFY(view.dateAxis()->max() < 40);
        view.autoScale();
        QCOMPARE(view.dateAxis()->min(), -0.5);
        QCOMPARE(view.dateAxis()->max(), 49.5);
    }
};

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"
