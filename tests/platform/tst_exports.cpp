#include "platform/measurementtable.h"
#include "platform/metafile.h"
#include "platform/numericlocale.h"
#include "platform/workbookexport.h"
#include "support/commalocale.h"
#include "support/exportfiles.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <thread>

namespace {

// Four coloured quarters with a one-pixel black frame: position, orientation and colour order
// all show in a few samples. The odd width needs row padding in the bitmap.
QImage quarters(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h / 2, QColor(255, 0, 0));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, QColor(0, 160, 0));
    p.fillRect(0, h / 2, w / 2, h - h / 2, QColor(0, 0, 255));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, QColor(250, 220, 40));
    p.setPen(Qt::black);
    p.drawRect(0, 0, w - 1, h - 1);
    return image;
}

QByteArray printed(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

} // namespace

// Every export runs as under a Russian desktop, whose numbers have a decimal comma.
class TestExports : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QString why;
        const QString locale = useCommaDecimalLocale(&why);
        QVERIFY2(!locale.isEmpty(), qPrintable(why));
        qInfo("C numeric locale: %s", qPrintable(locale));
    }

    // The writers' guard changes the numbers of its own thread only, and only while it lives.
    void numericLocaleIsScoped()
    {
        QCOMPARE(printed(1.5), QByteArray("1,50"));
        {
            const CNumericLocale guard;
            QCOMPARE(printed(1.5), QByteArray("1.50"));
            QByteArray elsewhere;
            std::thread([&elsewhere] { elsewhere = printed(1.5); }).join();
            QCOMPARE(elsewhere, QByteArray("1,50"));
        }
        QCOMPARE(printed(1.5), QByteArray("1,50"));
    }

    void metafileDrawsTheSamePicture()
    {
        const QImage picture = quarters(301, 157);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("chart.wmf"));
        QString error;
        QVERIFY2(metafile::save(path, picture, &error), qPrintable(error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.read(4) == QByteArray("\xD7\xCD\xC6\x9A", 4)); // placeable, not enhanced

        QString why;
        const QImage drawn = renderWithLibwmf(path, &why);
        QVERIFY2(!drawn.isNull(), qPrintable(why));
        // The reader draws at 72 dots per inch what the header says is 96 to the inch: the
        // screen's size in inches is kept.
        QCOMPARE(drawn.size(), QSize(301 * 72 / 96, 157 * 72 / 96));
        for (const QPoint at :
             {QPoint(70, 40), QPoint(230, 40), QPoint(70, 120), QPoint(230, 120)}) {
            const QPoint there(at.x() * 72 / 96, at.y() * 72 / 96);
            QCOMPARE(QColor(drawn.pixel(there)).name(), QColor(picture.pixel(at)).name());
        }
    }

    void metafileRefusesWhatItCannotHold()
    {
        QVERIFY(metafile::placeable(QImage()).isEmpty());
        QVERIFY(metafile::placeable(QImage(40000, 1, QImage::Format_RGB32)).isEmpty());
    }

    void workbookHoldsTheTableFromTheFirstCell()
    {
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("ArcData1.dbf"));
        const QLocale russian(QLocale::Russian, QLocale::Russia);
        const QDateTime when(QDate(2026, 3, 5), QTime(14, 7, 9));
        AppendMeasurementRow(table, when, {1.5, -2.25, 0, 1000.125}, russian);
        AppendMeasurementRow(table, when.addSecs(30), {2, 3, 4, 5}, russian);
        // A value too wide for its field is kept blank in the table, and so in the sheet.
        AppendMeasurementRow(table, when.addSecs(60), {1e20, 3, 4, 5}, russian);
        MeasurementTable t;
        t.open(table);

        // Written as a workbook whatever the name says.
        const QString path = dir.filePath(QStringLiteral("export.doc"));
        QString error;
        QVERIFY2(workbook::exportTable(t, path, &error), qPrintable(error));
        const QStringList sheet = readWithOpenpyxl(path);
        const QString date = measurementDateText(when, russian);
        QCOMPARE(
            sheet,
            (QStringList{
                QStringLiteral("Лорван"),
                QStringLiteral("3 x 6"),
                QStringLiteral("0;%1;1.5;-2.25;0;1000.125").arg(date),
                QStringLiteral("1;%1;2;3;4;5").arg(measurementDateText(when.addSecs(30), russian)),
                QStringLiteral("2;%1;;3;4;5").arg(measurementDateText(when.addSecs(60), russian)),
            }));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no partial file left
    }

    // The sheet holds the numbers of the table's fields, at the fields' four decimals.
    void workbookHoldsTheFieldsNumbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("field"); // another writer's text in the first field
        QTest::addColumn<QString>("cells");
        QTest::newRow("fraction") << 95.2995 << QByteArray() << "95.2995;-95.2995;0;1";
        QTest::newRow("device float") << double(63.613f) << QByteArray() << "63.613;-63.613;0;1";
        QTest::newRow("large") << 123456789.5 << QByteArray() << "123456789.5;-123456789.5;0;1";
        QTest::newRow("more digits than declared")
            << 1.5 << QByteArray("95.29949951171875") << "95.2995;-1.5;0;1";
    }
    void workbookHoldsTheFieldsNumbers()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, field);
        QFETCH(QString, cells);
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("ArcData1.dbf"));
        AppendMeasurementRow(table, QDateTime::currentDateTime(), {value, -value, 0, 1});
        if (!field.isEmpty()) {
            QFile file(table);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray bytes = file.readAll().replace(
                QByteArray::number(value, 'f', 4).rightJustified(20), field.rightJustified(20));
            QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        }
        MeasurementTable t;
        t.open(table);
        const QString path = dir.filePath(QStringLiteral("export.xlsx"));
        QString error;
        QVERIFY2(workbook::exportTable(t, path, &error), qPrintable(error));
        QCOMPARE(readWithOpenpyxl(path).value(2).section(QLatin1Char(';'), 2), cells);
    }

    void workbookFailureKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("ArcData1.dbf"));
        AppendMeasurementRow(table, QDateTime::currentDateTime(), {1, 2, 3, 4});
        MeasurementTable t;
        t.open(table);
        QString error;
        QVERIFY(!workbook::exportTable(t, dir.filePath(QStringLiteral("no/such/x.xls")), &error));
        QVERIFY(error.contains(QStringLiteral("x.xls")));
    }
};

QTEST_GUILESS_MAIN(TestExports)
#include "tst_exports.moc"
