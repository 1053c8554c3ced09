#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "support/commalocale.h"
#include "support/exportfiles.h"
#include "workstation/dataview.h"
#include "workstation/exportcommands.h"

#include <QImageReader>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

// Run as under a Russian desktop, whose numbers have a decimal comma.
class TestExportCommands : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(!useCommaDecimalLocale(&why).isEmpty(), qPrintable(why));
    }

    void chartFileByItsExactEnding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("written"); // image format as Qt names it, empty for none
        QTest::newRow("metafile") << "chart.wmf" << QByteArray("wmf");
        QTest::newRow("bitmap") << "chart.bmp" << QByteArray("bmp");
        QTest::newRow("no extension") << "chart" << QByteArray();
        QTest::newRow("upper-case BMP") << "chart.BMP" << QByteArray();
        QTest::newRow("other") << "chart.png" << QByteArray();
        QTest::newRow("dotted folder, no extension") << "v.bmp/chart" << QByteArray();
    }

    void chartFileByItsExactEnding()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, written);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("v.bmp")));
        MeasurementChartView chart;
        chart.resize(420, 260);
        ScopedRecordingMessages messages;
        const QString path = dir.filePath(name);
        messages.fileAnswers = {path};
        ExportChartClick(&chart);

        QCOMPARE(messages.dialogs.size(), 1);
        QCOMPARE(messages.dialogs[0].filter,
                 QStringLiteral("Графические файлы (*.wmf);;Графические файлы (*.bmp)"));
        QVERIFY(messages.shown.isEmpty());
        if (written.isEmpty()) {
            QVERIFY(!QFileInfo(path).isFile());
            return;
        }
        QVERIFY(QFileInfo(path).isFile());
        if (written == "bmp") {
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("bmp"));
            QCOMPARE(reader.size(), QSize(420, 260));
        } else {
            QString why;
            const QImage drawn = renderWithLibwmf(path, &why);
            QVERIFY2(!drawn.isNull(), qPrintable(why));
            QCOMPARE(drawn.size(), QSize(420 * 72 / 96, 260 * 72 / 96));
        }
    }

    void existingChartFileIsReplacedOnlyOnYes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("chart.bmp"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        MeasurementChartView chart;
        chart.resize(300, 200);
        ScopedRecordingMessages messages;
        messages.fileAnswers = {path, path};
        messages.answers = {MessageButton::No, MessageButton::Yes};
        ExportChartClick(&chart);
        QCOMPARE(QFileInfo(path).size(), 3);
        ExportChartClick(&chart);
        QCOMPARE(QImageReader(path).size(), QSize(300, 200));
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Файл ") + path +
                                             QStringLiteral(" существует\r\nПерезаписать его? "));
        QCOMPARE(messages.shown[0].caption, QStringLiteral("Сохранение графика"));
        QCOMPARE(messages.shown[0].icon, MessageIcon::Information);
    }

    void tableExport()
    {
        QTemporaryDir dir;
        QTableView grid;
        MeasurementChartView chart;
        DataView view(&grid, &chart);
        ScopedRecordingMessages messages;

        QVERIFY(!Excel1Click(view.table()));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Нет доступа к таблице."));
        QCOMPARE(messages.shown[0].caption, QStringLiteral("Экспорт таблицы"));
        QCOMPARE(messages.shown[0].icon, MessageIcon::Exclamation);
        QVERIFY(messages.dialogs.isEmpty());

        const QString table = dir.filePath(QStringLiteral("ArcData1.dbf"));
        EnsureMeasurementTable(table);
        view.open(table);
        const QString target = dir.filePath(QStringLiteral("plant.doc"));
        messages.fileAnswers = {target};
        QVERIFY(!Excel1Click(view.table()));
        QCOMPARE(messages.dialogs.last().filter,
                 QStringLiteral("Файлы таблиц (*.xls);;Файлы Word (*.doc)"));
        QCOMPARE(messages.shown.last().text, QStringLiteral("Архив данных пуст."));
        QVERIFY(!QFileInfo::exists(target));

        // Rows written after the table was opened count too.
        const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5));
        for (int i = 0; i < 3; ++i)
            AppendMeasurementRow(table, when.addSecs(i), {i + 0.25, 63.613, -95.2995, 3});
        messages.fileAnswers = {target};
        QVERIFY(Excel1Click(view.table()));
        const QStringList sheet = readWithOpenpyxl(target);
        QCOMPARE(sheet.value(0), QStringLiteral("Лорван"));
        QCOMPARE(sheet.value(1), QStringLiteral("3 x 6"));
        QVERIFY(sheet.value(4).startsWith(QStringLiteral("2;")));
        QVERIFY(sheet.value(4).endsWith(QStringLiteral(";2.25;63.613;-95.2995;3")));
    }
};

QTEST_MAIN(TestExportCommands)
#include "tst_exportcommands.moc"
