// Measurement tables on disk: creation, appends, damaged files, and an independent reader's view
// of what was written.

#include "platform/measurementtable.h"
#include "support/tablefiles.h"

#include <QtTest>

#include <random>

namespace {

const QLocale kRussian(QLocale::Russian, QLocale::Russia);
const QDateTime kWhen(QDate(2005, 3, 21), QTime(14, 5, 33));

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

quint32 headerCount(const QString &path)
{
    const QByteArray b = readAll(path);
    return quint32(quint8(b[4])) | quint32(quint8(b[5])) << 8 | quint32(quint8(b[6])) << 16 |
           quint32(quint8(b[7])) << 24;
}

} // namespace

class TestMeasurementTable : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void texts_data()
    {
        QTest::addColumn<qint64>("rows");
        QTest::addColumn<QString>("num");
        QTest::newRow("first") << qint64(0) << "0";
        QTest::newRow("five digits") << qint64(99999) << "99999";
        QTest::newRow("row 100000") << qint64(100000) << "10000";
        QTest::newRow("row 123456") << qint64(123456) << "12345";
    }
    void texts()
    {
        QFETCH(qint64, rows);
        QFETCH(QString, num);
        QCOMPARE(measurementNumText(rows), num);
        QCOMPARE(measurementDateText(kWhen, kRussian), QStringLiteral("14:05:33 21.03.2005"));
        QVERIFY(measurementDateText(kWhen, QLocale::c()).size() <= 20);
    }

    void firstPollCreatesFolderAndTable()
    {
        const QString path = m_dir.filePath("new/sub/ArcData1.dbf");
        QCOMPARE(AppendMeasurementRow(path, kWhen, {1.5, -20.125, 1234.5678, 0}, kRussian), 0);
        QCOMPARE(AppendMeasurementRow(path, kWhen.addSecs(2), {2, 3, 4, 5}, kRussian), 1);
        QCOMPARE(headerCount(path), 2u);
        // The last append's date and the mark of the Russian Windows code page.
        const QByteArray header = readAll(path);
        QCOMPARE(quint8(header[1]), quint8(kWhen.date().year() - 1900));
        QCOMPARE(quint8(header[2]), quint8(kWhen.date().month()));
        QCOMPARE(quint8(header[3]), quint8(kWhen.date().day()));
        QCOMPARE(quint8(header[29]), quint8(0xC9));

        const QStringList lines = readWithDbfread(path);
        QCOMPARE(lines.value(0), QStringLiteral("Num,C,5,0;Date,C,20,0;Chan1,N,20,4;Chan2,N,20,4;"
                                                "Chan3,N,20,4;Chan4,N,20,4"));
        QCOMPARE(lines.value(1),
                 QStringLiteral("0;14:05:33 21.03.2005;1.5000;-20.1250;1234.5678;0.0000"));
        QCOMPARE(lines.value(2),
                 QStringLiteral("1;14:05:35 21.03.2005;2.0000;3.0000;4.0000;5.0000"));

        MeasurementTable table;
        table.open(path);
        QCOMPARE(table.rowCount(), 2);
        const auto row = table.row(0);
        QVERIFY(row);
        QCOMPARE(row->num, QStringLiteral("0"));
        QCOMPARE(row->date, QStringLiteral("14:05:33 21.03.2005"));
        QCOMPARE(row->channels[1].value_or(0), -20.125);
        QVERIFY(!table.row(2));

        // Appended while open: seen after a refresh.
        AppendMeasurementRow(path, kWhen, {7, 7, 7, 7}, kRussian);
        QCOMPARE(table.rowCount(), 2);
        QCOMPARE(table.refresh(), 3);
        QCOMPARE(table.row(2)->num, QStringLiteral("2"));
    }

    void valuesThatCannotBeShownAreBlank()
    {
        const QString path = m_dir.filePath("blank.dbf");
        AppendMeasurementRow(path, kWhen, {qQNaN(), qInf(), 1e300, 3.25}, kRussian);
        MeasurementTable table;
        table.open(path);
        const auto row = table.row(0);
        QVERIFY(!row->channels[0] && !row->channels[1] && !row->channels[2]);
        QCOMPARE(row->channels[3].value_or(0), 3.25);
        QCOMPARE(readWithDbfread(path).value(1), QStringLiteral("0;14:05:33 21.03.2005;;;;3.2500"));
    }

    void folderThatCannotBeMade()
    {
        writeAll(m_dir.filePath("plainfile"), "x");
        const QString path = m_dir.filePath("plainfile/tables/ArcData1.dbf");
        try {
            AppendMeasurementRow(path, kWhen, {1, 2, 3, 4}, kRussian);
            QFAIL("no error");
        } catch (const TableError &e) {
            QCOMPARE(e.message(), QStringLiteral("Невозможно создать: ") +
                                      m_dir.filePath("plainfile/tables") + '/');
        }
    }

    void foreignFilesAreNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("just some notes\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("twenty bytes") << QByteArray(20, '\x03');
        // A dBase table of another schema: one field "NAME" C10.
        QByteArray other(32 + 32 + 1, '\0');
        other[0] = 0x03;
        other[8] = char(65);
        other[10] = 11;
        other.replace(32, 4, "NAME");
        other[32 + 11] = 'C';
        other[32 + 16] = 10;
        other[64] = 0x0D;
        QTest::newRow("other schema") << other;
        QByteArray hugeHeader = other;
        hugeHeader[8] = char(0xFF);
        hugeHeader[9] = char(0x7F);
        QTest::newRow("header length beyond the file") << hugeHeader;
    }
    void foreignFilesAreNeverWritten()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath("foreign.dbf");
        writeAll(path, content);
        try {
            AppendMeasurementRow(path, kWhen, {1, 2, 3, 4}, kRussian);
            QFAIL("wrote into a foreign file");
        } catch (const TableError &e) {
            QCOMPARE(e.message(), QStringLiteral("Ошибка открытия базы данных: ") + path);
        }
        QCOMPARE(readAll(path), content);
        MeasurementTable table;
        QVERIFY_THROWS_EXCEPTION(TableError, table.open(path));
        QVERIFY(!table.isOpen());
    }

    // A crash may leave a row behind a stale count, or half a row at the end.
    void countFollowsTheFileLength()
    {
        const QString path = m_dir.filePath("crash.dbf");
        for (int i = 0; i < 3; ++i)
            AppendMeasurementRow(path, kWhen, {double(i), 0, 0, 0}, kRussian);
        QByteArray bytes = readAll(path);
        const int recordLength = quint8(bytes[10]) | quint8(bytes[11]) << 8;

        // Header claims one row, the file holds three.
        bytes[4] = 1;
        writeAll(path, bytes);
        MeasurementTable table;
        table.open(path);
        QCOMPARE(table.rowCount(), 3);
        table.close();
        QCOMPARE(AppendMeasurementRow(path, kWhen, {3, 0, 0, 0}, kRussian), 3);
        QCOMPARE(headerCount(path), 4u);

        // Half a row at the end is not a row, and the next row takes its place.
        bytes = readAll(path);
        const int headerLength = quint8(bytes[8]) | quint8(bytes[9]) << 8;
        bytes.truncate(headerLength + 4 * recordLength + recordLength / 2);
        writeAll(path, bytes);
        table.open(path);
        QCOMPARE(table.rowCount(), 4);
        QCOMPARE(table.row(3)->channels[0].value_or(-1), 3.0);
        QVERIFY(!table.row(4));
        table.close();
        QCOMPARE(AppendMeasurementRow(path, kWhen, {4, 0, 0, 0}, kRussian), 4);
        const QStringList lines = readWithDbfread(path);
        QCOMPARE(lines.size(), 1 + 5);
        QCOMPARE(lines.value(5),
                 QStringLiteral("4;14:05:33 21.03.2005;4.0000;0.0000;0.0000;0.0000"));

        // A header that claims more rows than there are.
        bytes = readAll(path);
        bytes[4] = 100;
        writeAll(path, bytes);
        table.open(path);
        QCOMPARE(table.rowCount(), 5);
    }

    void deletedTableStartsAgain()
    {
        const QString path = m_dir.filePath("again.dbf");
        AppendMeasurementRow(path, kWhen, {1, 1, 1, 1}, kRussian);
        AppendMeasurementRow(path, kWhen, {1, 1, 1, 1}, kRussian);
        QVERIFY(QFile::remove(path));
        QCOMPARE(AppendMeasurementRow(path, kWhen, {1, 1, 1, 1}, kRussian), 0);
    }

    void sharedTableTakesRowsInOrder()
    {
        const QString path = m_dir.filePath("shared.dbf");
        for (int i = 0; i < 6; ++i)
            QCOMPARE(AppendMeasurementRow(path, kWhen, {double(i % 2 + 1), 0, 0, 0}, kRussian), i);
        MeasurementTable table;
        table.open(path);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(table.row(i)->channels[0].value_or(0), double(i % 2 + 1));
    }

    void hundredThousandRows()
    {
        const QString path = m_dir.filePath("long.dbf");
        AppendMeasurementRow(path, kWhen, {1, 2, 3, 4}, kRussian);
        QVERIFY(repeatFirstRow(path, 99999));

        QElapsedTimer clock;
        clock.start();
        MeasurementTable table;
        table.open(path);
        QCOMPARE(table.rowCount(), 100000);
        QVERIFY(table.row(99999));
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        table.close();
        QCOMPARE(AppendMeasurementRow(path, kWhen, {9, 9, 9, 9}, kRussian), 100000);
        table.open(path);
        QCOMPARE(table.row(100000)->num, QStringLiteral("10000"));
        QCOMPARE(readWithDbfread(path).size(), 1 + 100001);
    }

    // Mangled headers: every outcome is a refusal or a consistent table, never a crash.
    void mangledHeadersNeverCrash()
    {
        const QString good = m_dir.filePath("seed.dbf");
        for (int i = 0; i < 3; ++i)
            AppendMeasurementRow(good, kWhen, {1, 2, 3, 4}, kRussian);
        const QByteArray seed = readAll(good);
        std::mt19937 rng(12345);
        const QString path = m_dir.filePath("mangled.dbf");
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = seed;
            const int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i)
                bytes[int(rng() % 230)] = char(rng());
            if (rng() % 3 == 0)
                bytes.truncate(int(rng() % bytes.size()));
            writeAll(path, bytes);
            MeasurementTable table;
            try {
                table.open(path);
                for (qint64 r = 0; r < table.rowCount() + 1; ++r)
                    table.row(r);
            } catch (const TableError &) {
            }
            try {
                AppendMeasurementRow(path, kWhen, {1, 2, 3, 4}, kRussian);
            } catch (const TableError &) {
                QCOMPARE(readAll(path), bytes); // refused: untouched
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestMeasurementTable)
#include "tst_measurementtable.moc"
