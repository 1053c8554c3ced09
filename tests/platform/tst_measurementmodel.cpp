#include "platform/measurementmodel.h"
#include "support/tablefiles.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QLocale kRussian(QLocale::Russian, QLocale::Russia);
const QDateTime kWhen(QDate(2026, 12, 9), QTime(8, 30, 0));

} // namespace

class TestMeasurementModel : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void formats_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("russian");
        QTest::addColumn<QString>("c");
        QTest::newRow("plain") << 1.5 << "1,500"
                               << "1.500";
        QTest::newRow("below one") << 0.25 << "0,250"
                                   << "0.250";
        QTest::newRow("negative") << -20.1256 << "-20,126"
                                  << "-20.126";
        QTest::newRow("no grouping") << 12345.6 << "12345,600"
                                     << "12345.600";
        QTest::newRow("zero") << 0.0 << "0,000"
                              << "0.000";
    }
    void formats()
    {
        QFETCH(double, value);
        QFETCH(QString, russian);
        QFETCH(QString, c);
        QCOMPARE(MeasurementTableModel::formatValue(value, kRussian), russian);
        QCOMPARE(MeasurementTableModel::formatValue(value, QLocale::c()), c);
    }

    void showsRowsAndGrows()
    {
        const QString path = m_dir.filePath("grid.dbf");
        for (int i = 0; i < 3; ++i)
            AppendMeasurementRow(path, kWhen.addSecs(i), {i + 0.5, -1, qQNaN(), 1000}, kRussian);
        MeasurementTable table;
        table.open(path);
        MeasurementTableModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setLocale(kRussian);
        model.setTable(&table);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Номер "));
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Канал-4"));
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("1"));
        QCOMPARE(model.index(1, 1).data().toString(), QStringLiteral("08:30:01 09.12.2026"));
        QCOMPARE(model.index(1, 2).data().toString(), QStringLiteral("1,500"));
        QCOMPARE(model.index(1, 3).data().toString(), QStringLiteral("-1,000"));
        QCOMPARE(model.index(1, 4).data().toString(), QString());
        QCOMPARE(model.index(1, 5).data().toString(), QStringLiteral("1000,000"));

        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        AppendMeasurementRow(path, kWhen, {7, 7, 7, 7}, kRussian);
        AppendMeasurementRow(path, kWhen, {8, 8, 8, 8}, kRussian);
        model.refresh();
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), 3);
        QCOMPARE(inserted[0][2].toInt(), 4);
        QCOMPARE(model.index(4, 2).data().toString(), QStringLiteral("8,000"));
        model.refresh(); // nothing new: no signal
        QCOMPARE(inserted.size(), 1);

        // A table that shrank (deleted and begun again) is shown anew.
        table.close();
        QFile::remove(path);
        AppendMeasurementRow(path, kWhen, {9, 9, 9, 9}, kRussian);
        table.open(path);
        model.setTable(&table);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("9,000"));

        model.setTable(nullptr);
        QCOMPARE(model.rowCount(), 0);
    }

    void titlesCanBeReplaced()
    {
        MeasurementTableModel model;
        QSignalSpy changed(&model, &QAbstractItemModel::headerDataChanged);
        model.setTitles({"a", "b", "Печь", "Зона 2", "Вода", "Цех"});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Печь"));
        model.setTitles(MeasurementTableModel::defaultTitles());
        QCOMPARE(model.titles(), MeasurementTableModel::defaultTitles());
    }

    // A long table opens at once and its far end reads without loading the rest.
    void longTableIsReadLazily()
    {
        const QString path = m_dir.filePath("long.dbf");
        AppendMeasurementRow(path, kWhen, {1, 2, 3, 4}, kRussian);
        QVERIFY(repeatFirstRow(path, 100000));

        QElapsedTimer clock;
        clock.start();
        MeasurementTable table;
        table.open(path);
        MeasurementTableModel model;
        model.setTable(&table);
        QCOMPARE(model.rowCount(), 100001);
        QCOMPARE(model.index(100000, 2).data().toString(), QStringLiteral("1.000"));
        QCOMPARE(model.index(50000, 5).data().toString(), QStringLiteral("4.000"));
        for (int r = 100000; r > 100000 - 40; --r)
            model.index(r, 1).data();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestMeasurementModel)
#include "tst_measurementmodel.moc"
