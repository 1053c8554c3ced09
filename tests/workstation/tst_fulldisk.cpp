#include "tests/support/configuratortestenv.h"
#include "tests/support/pollingtestenv.h"

#include "support/fulldisk.h"
#include "workstation/dataview.h"
#include "workstation/exportcommands.h"
#include "workstation/messagelog.h"
#include "workstation/networkfilecommands.h"

#include <QDesktopServices>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

namespace {

// The configurator with a device, its table and chart, and the command-line tool, as the
// writers need them; error: the failure as the user or the caller gets it.
struct Bench
{
    QString path;
    QString error;
    ScopedRecordingMessages messages;
    Configurator conf{systemClock()};
    QTableView grid;
    MeasurementChartView chart;
    DataView view{&grid, &chart};
    QProcess cli;

    void click(QWidget *window, const char *name)
    {
        window->findChild<QPushButton *>(name)->click();
    }
    void run(QStringList args)
    {
        const QString port = QDir(qEnvironmentVariable("LORVAN_PORT_DIR")).filePath("COM1");
        cli.start(LORVAN_CLI_PATH, args << "--port" << port << "--addr"
                                        << "1"
                                        << "--baud"
                                        << "9600");
        while (cli.state() != QProcess::NotRunning)
            QTest::qWait(5);
        error = cli.readAllStandardError().trimmed() + " " + QString::number(cli.exitCode());
    }
    // The folder the data and the temporary files go to while a command runs.
    void inFolder(const char *variable, const std::function<void()> &command)
    {
        const QByteArray was = qgetenv(variable);
        qputenv(variable, QFileInfo(path).path().toLocal8Bit());
        command();
        qputenv(variable, was);
    }
};

enum Old { Text, Table, None };
const char *const kPlain = "Не удалось записать файл %1: %2";
const char *const kHeading = "Ошибка записи файла %1\r\n%2";
const char *const kTable = "Ошибка записи в базу данных: %1 (%2)";

const struct
{
    const char *name;
    const char *file;
    Old old;
    QString message; // %1 the path, %2 the reason
    void (*write)(Bench &);
} kWriters[] = {
    {"table append", "ArcData1.dbf", Table, kTable,
     [](Bench &b) {
         AppendMeasurementRow(b.path, {}, {9, 9, 9, 9});
     }},
    {"table creation", "ArcData1.dbf", None, kTable,
     [](Bench &b) {
         AppendMeasurementRow(b.path, {}, {9, 9, 9, 9});
     }},
    {"Сохранить отчет в файл", "saved.log", Text, kHeading,
     [](Bench &b) { b.conf.main->messageLog()->mnuSaveLogClick(); }},
    {"report.log at the close", "report.log", Text, kHeading,
     [](Bench &b) { b.inFolder("LORVAN_HOME", [&] { b.conf.main->close(); }); }},
    {"Сохранить настройки сети", "plant.ini", Text, kPlain,
     [](Bench &b) { b.conf.main->findChild<NetworkFileCommands *>()->saveTreeCommand(); }},
    {"chart as a metafile", "chart.wmf", Text, kPlain,
     [](Bench &b) { ExportChartClick(&b.chart); }},
    {"chart as a bitmap", "chart.bmp", Text, kPlain, [](Bench &b) { ExportChartClick(&b.chart); }},
    {"table workbook", "table.xls", Text, kPlain, [](Bench &b) { Excel1Click(b.view.table()); }},
    {"program file", "programs.kpg", Text, kHeading,
     [](Bench &b) { b.click(b.conf.main->settingsWindow(FeatureCode::Programs), "ProgSaveFile"); }},
    {"archive workbook", "LorvanArchiv.xlsx", Text,
     QString("Ошибка передачи в Excel!\r\n") + kPlain,
     [](Bench &b) {
         b.inFolder("TMPDIR", [&] {
             b.click(b.conf.main->settingsWindow(FeatureCode::Archive), "BtnExportExcel");
         });
         b.error = b.messages.shown.value(0).text.replace(QRegularExpression("-\\w+\\.x"), ".x");
     }},
    {"lorvan-cli snapshot", "snapshot.txt", Text, "lorvan-cli snapshot: %1: %2 66",
     [](Bench &b) {
         b.run({"snapshot", "-o", b.path});
     }},
    {"lorvan-cli programs", "programs.kpg", Text, "lorvan-cli programs: %1: %2 66",
     [](Bench &b) {
         b.run({"programs", "-o", b.path});
     }},
    {"lorvan-cli poll", "ArcData1.dbf", Table, QString("lorvan-cli poll: ") + kTable + " 66",
     [](Bench &b) {
         b.run({"poll", "--count", "1", "--table", b.path});
     }},
};

} // namespace

// Every file saved over an older one on a full disk: the older file stays byte for byte, nothing
// else is left in the folder, and the failure names the path and the reason. A table takes rows
// again once there is room.
class TestFullDisk : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    devsim::DeviceSimulator m_sim;
    QList<QUrl> m_opened;

public slots:
    void openUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        isolateWorkstationTest(m_dir);
        devsim::Scenario plant = pollingScenario({{1, 0, 30}});
        plant.lines[0].devices[0].archive.prefill = 3;
        m_sim.load(plant);
        QVERIFY(m_sim.start(m_dir.filePath("ports")));
        AppendMeasurementRow(m_dir.filePath("ArcData1.dbf"), {}, {1, 2, 3, 4});
        QDesktopServices::setUrlHandler("file", this, "openUrl");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void oldFileStays_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("writer");
        for (FullDisk::Kind kind : FullDisk::kinds()) {
            for (int w = 0; w < int(std::size(kWriters)); ++w)
                QTest::addRow("%s, %s", FullDisk::name(kind), kWriters[w].name) << int(kind) << w;
        }
    }
    void oldFileStays()
    {
        QFETCH(int, kind);
        QFETCH(int, writer);
        const auto &w = kWriters[writer];
        FullDisk disk(FullDisk::Kind(kind), m_dir.filePath(QTest::currentDataTag()));
        const QString path = disk.folder + '/' + w.file;
        const auto bytes = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        if (w.old == Table) { // its last row ends just short of a page: the next needs a new one
            AppendMeasurementRow(path, {}, {1, 2, 3, 4});
            QVERIFY(repeatFirstRow(path, 35));
        } else if (w.old == Text) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("the older file") == 14);
        }
        const QByteArray before = bytes();

        Bench bench;
        bench.path = path;
        bench.messages.fileAnswers = {path};
        addPolledDevices(*bench.conf.main, {{1, 0, 30}}, m_dir.path());
        bench.conf.main->messageLog()->appendLine("Чтение", false);
        bench.view.open(bench.conf.session.network().device(0)->tablePath());
        // A table may still take its header back in place.
        disk.fill(w.old == Table ? before.size() : 1);
        try {
            w.write(bench);
        } catch (const std::exception &e) {
            bench.error = QString::fromUtf8(e.what());
        }
        disk.release();
        const QString shown =
            bench.messages.shown.isEmpty() ? "" : bench.messages.shown.last().text;
        QCOMPARE(bench.error.isEmpty() ? shown : bench.error, w.message.arg(path, disk.reason()));
        QCOMPARE(bytes(), before);
        QCOMPARE(QDir(disk.folder).entryList(QDir::Files | QDir::Hidden),
                 w.old == None ? QStringList() : QStringList{w.file});
        QVERIFY(m_opened.isEmpty());
        if (w.old != Text) {
            AppendMeasurementRow(path, {}, {9, 9, 9, 9});
            QCOMPARE(readWithDbfread(path).size(), 1 + (w.old == Table ? 37 : 1));
        }
    }
};

QTEST_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
