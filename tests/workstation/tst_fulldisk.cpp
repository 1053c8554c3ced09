#include "configuratortestenv.h"
#include "workstationtestenv.h"

#include "device/networkfile.h"
#include "platform/metafile.h"
#include "platform/workbookexport.h"
#include "support/fulldisk.h"
#include "workstation/dataview.h"
#include "workstation/exportcommands.h"
#include "workstation/messagelog.h"
#include "workstation/networkfilecommands.h"

#include <QTableView>
#include <QtTest>

namespace {

enum Writer {
    NetworkFile,
    Log,
    Metafile,
    Workbook,
    SaveLogCommand,
    ReportAtClose,
    SaveTreeCommand,
    ChartBitmap,
    ChartMetafile,
    TableExport
};

const QByteArray kOld = "the file as it was before the save\r\n";

} // namespace

// Every saved file over an older one on a full disk: the older file stays byte for byte, and the
// failure names the path and the reason.
class TestFullDisk : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The failure's text: the shown message, the error thrown, or what the writer returned.
    QString save(Writer writer, const QString &path, FullDisk &disk)
    {
        ScopedRecordingMessages messages;
        messages.fileAnswers = {path};
        Configurator conf(systemClock());
        MeasurementTable table;
        const QString tablePath = m_dir.filePath("ArcData1.dbf");
        AppendMeasurementRow(tablePath, QDateTime::currentDateTime(), {1, 2, 3, 4});
        table.open(tablePath);
        conf.main->messageLog()->appendLine(QStringLiteral("Чтение"), false);
        QTableView grid;
        MeasurementChartView chart;
        DataView view(&grid, &chart);
        view.open(tablePath);
        QString error;
        disk.fill();
        try {
            switch (writer) {
            case NetworkFile:
                networkfile::save(path, SavedNetwork(), &error);
                break;
            case Log:
                error = conf.main->messageLog()->writeTo(path).value().message();
                break;
            case Metafile:
                metafile::save(path, chart.grab().toImage(), &error);
                break;
            case Workbook:
                workbook::exportTable(table, path, &error);
                break;
            case SaveLogCommand:
                conf.main->messageLog()->mnuSaveLogClick();
                break;
            case ReportAtClose:
                qputenv("LORVAN_HOME", QFileInfo(path).path().toLocal8Bit());
                conf.main->close();
                qputenv("LORVAN_HOME", m_dir.filePath("data").toLocal8Bit());
                break;
            case SaveTreeCommand:
                conf.main->findChild<NetworkFileCommands *>()->saveTreeCommand();
                break;
            case ChartBitmap:
            case ChartMetafile:
                ExportChartClick(&chart);
                break;
            case TableExport:
                Excel1Click(view.table());
                break;
            }
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
        disk.release();
        return error.isEmpty() && !messages.shown.isEmpty() ? messages.shown.last().text : error;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void oldFileStays_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("writer");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message"); // %1 the path, %2 the reason
        const QString plain = QStringLiteral("Не удалось записать файл %1: %2");
        const QString heading = QStringLiteral("Ошибка записи файла %1\r\n%2");
        const struct
        {
            const char *name;
            Writer writer;
            const char *file;
            QString message;
        } writers[] = {
            {"network file", NetworkFile, "plant.ini", plain},
            {"log", Log, "saved.log", plain},
            {"metafile", Metafile, "chart.wmf", plain},
            {"workbook", Workbook, "table.xls", plain},
            {"Сохранить отчет в файл", SaveLogCommand, "saved.log", heading},
            {"report.log at the close", ReportAtClose, "report.log", heading},
            {"Сохранить настройки сети", SaveTreeCommand, "plant.ini", plain},
            {"chart as a bitmap", ChartBitmap, "chart.bmp", plain},
            {"chart as a metafile", ChartMetafile, "chart.wmf", plain},
            {"table export", TableExport, "table.xls", plain},
        };
        for (FullDisk::Kind kind : FullDisk::kinds()) {
            for (const auto &w : writers)
                QTest::addRow("%s, %s", qPrintable(FullDisk::name(kind)), w.name)
                    << int(kind) << int(w.writer) << w.file << w.message;
        }
    }
    void oldFileStays()
    {
        QFETCH(int, kind);
        QFETCH(int, writer);
        QFETCH(QString, file);
        QFETCH(QString, message);
        const QString folder = m_dir.filePath(QTest::currentDataTag());
        FullDisk disk(FullDisk::Kind(kind), folder);
        const QString path = folder + '/' + file;
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(kOld) == kOld.size());
        old.close();

        QCOMPARE(save(Writer(writer), path, disk), message.arg(path, disk.reason()));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), kOld);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{file});
    }
};

QTEST_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
