#include "pollingtestenv.h"

#include "platform/measurementmodel.h"
#include "platform/settings.h"
#include "workstation/dataview.h"
#include "workstation/images.h"
#include "workstation/program.h"
#include "workstation/statefulwindow.h"

#include <QAction>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineSeries>
#include <QTableView>
#include <QValueAxis>

// The polling cycle against the simulated plant: who is polled when, what lands in the tables,
// what a silent or garbled device does, and the selected device's view.
class TestPollingCycle : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    SimTraffic m_traffic;
    std::unique_ptr<MainWindow> m_main;
    QString m_tables;

    void startPlant(const QList<PolledDevice> &devices)
    {
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &line) { m_traffic.append(line); });
        m_sim->load(pollingScenario(devices));
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        addPolledDevices(*m_main, devices, m_tables);
    }

    QAction *pollingButton() { return m_main->command(QStringLiteral("butEnableCycleReqDev")); }

    void pollFor(int ms)
    {
        pollingButton()->trigger();
        QVERIFY(pollingButton()->isChecked());
        QTest::qWait(ms);
        pollingButton()->trigger();
        QVERIFY(!pollingButton()->isChecked());
        QVERIFY(!m_main->VrTimer1()->isActive());
    }

    QString table(int address) const
    {
        return m_tables + QStringLiteral("/ArcData%1.dbf").arg(address);
    }

    DeviceTreeItem *device(int i) { return m_main->tree()->deviceItems().value(i); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void init()
    {
        static int run = 0;
        m_tables = m_dir.filePath(QStringLiteral("tables%1").arg(++run));
        m_traffic.clear();
        openSettings()->clear();
        m_main = createConfiguratorWindows();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QTRY_VERIFY(m_main->isActivated());
    }

    void cleanup()
    {
        m_main.reset();
        m_sim.reset();
    }

    void dueTimes_data()
    {
        QTest::addColumn<quint32>("now");
        QTest::addColumn<quint32>("next");
        QTest::addColumn<bool>("due");
        QTest::newRow("never polled") << 5000u << 0u << true;
        QTest::newRow("more than a second ahead") << 5000u << 6001u << false;
        QTest::newRow("exactly a second ahead") << 5000u << 6000u << false;
        QTest::newRow("less than a second ahead") << 5000u << 5999u << true;
        QTest::newRow("past") << 5000u << 100u << true;
        QTest::newRow("ahead across the wrap") << 0xFFFFFF00u << 0x00000F00u << false;
        QTest::newRow("past across the wrap") << 0x00000100u << 0xFFFFFF00u << true;
    }
    void dueTimes()
    {
        QFETCH(quint32, now);
        QFETCH(quint32, next);
        QFETCH(bool, due);
        QCOMPARE(MainWindow::isPollDue(now, next), due);
    }

    // Devices at absolute indices 0, 5 (four and six entries below) and 12.
    void turnsInTreeOrder_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("next");
        QTest::newRow("first to second") << 0 << 5;
        QTest::newRow("from a settings entry") << 3 << 5;
        QTest::newRow("second to third") << 5 << 12;
        QTest::newRow("last wraps") << 12 << 0;
        QTest::newRow("beyond the tree") << 40 << 0;
    }
    void turnsInTreeOrder()
    {
        QFETCH(int, from);
        QFETCH(int, next);
        addPolledDevices(*m_main, {{1, 0, 30}, {2, 0, 30}, {5, 0, 30}}, m_tables);
        m_main->tree()->topLevelItem(1)->addChild(new DeviceTreeItem); // six entries below
        m_main->tree()->topLevelItem(1)->addChild(new DeviceTreeItem);
        QCOMPARE(m_main->tree()->absoluteIndex(m_main->NextDeviceNode(from)), next);
    }

    void emptyTreeTicksDoNothing()
    {
        m_main->EnableDeviceCommands();
        pollFor(1200);
        QCOMPARE(m_main->lastPolledIndex(), 0);
    }

    // Three devices at their own speeds, periods of one and two seconds, one with polling off:
    // one device per tick, nobody before its time, every row the values the device sent.
    void pollsInTurnAndLogsWhatWasSent()
    {
        startPlant({{1, 4, 1}, {2, 1, 2}, {5, 0, 1, false}});
        const QDateTime started = QDateTime::currentDateTime();
        pollFor(7000);

        QCOMPARE(m_traffic.requests(4, 5).size(), 0);
        const QList<QDateTime> a = m_traffic.requests(4, 1);
        const QList<QDateTime> b = m_traffic.requests(4, 2);
        QVERIFY2(a.size() >= 3, qPrintable(QString::number(a.size())));
        QVERIFY2(b.size() >= 2, qPrintable(QString::number(b.size())));
        // A period of two seconds is due one second early at the soonest; the first tick
        // comes 500 ms after the start.
        QVERIFY(started.msecsTo(a.first()) >= 450);
        QVERIFY(started.msecsTo(b.first()) >= 950);
        // One device per tick, and a tick 500 ms after the previous one ended.
        const QList<QDateTime> all = m_traffic.requests(4);
        for (int i = 1; i < all.size(); ++i)
            QVERIFY2(all[i - 1].msecsTo(all[i]) >= 480,
                     qPrintable(QStringLiteral("%1 ms").arg(all[i - 1].msecsTo(all[i]))));
        // The device with polling off still takes its turn: three devices make a turn of
        // three ticks, so nobody is polled twice within 1.4 s.
        for (const QList<QDateTime> &times : {a, b})
            for (int i = 1; i < times.size(); ++i)
                QVERIFY(times[i - 1].msecsTo(times[i]) >= 1400);

        for (int address : {1, 2}) {
            const QList<SimTraffic::Reply> replies = m_traffic.liveReplies(address);
            const QStringList rows = readPolledRows(table(address));
            QCOMPARE(rows.value(0), QStringLiteral("Num,C;Date,C;Chan1,N;Chan2,N;Chan3,N;Chan4,N"));
            QCOMPARE(rows.mid(1), expectedRows(replies));
        }
        QVERIFY(!QFileInfo::exists(table(5)) || tableRows(table(5)) == 0);
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);
        QCOMPARE(DeviceTree::nodeImage(device(1)), images::kDeviceAnswers);
    }

    // A device that is silent or answers with garbage gets the failure picture and no row;
    // the others go on being polled.
    void badRepliesGiveNoRow_data()
    {
        QTest::addColumn<devsim::FaultSettings>("faults");
        devsim::FaultSettings f;
        f.drop = 1;
        QTest::newRow("silent") << f;
        f = {};
        f.corruptLrc = 1;
        QTest::newRow("wrong LRC") << f;
        f = {};
        f.noise = 1;
        QTest::newRow("noise") << f;
        f = {};
        f.noCrLf = 1;
        QTest::newRow("no line end") << f;
        f = {};
        f.exception = 1;
        f.exceptionCode = 2;
        QTest::newRow("exception") << f;
    }
    void badRepliesGiveNoRow()
    {
        QFETCH(devsim::FaultSettings, faults);
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}, {2, 4, 1, true, faults}});
        pollFor(3500);
        QVERIFY(!m_traffic.requests(4, 2).isEmpty());
        QCOMPARE(tableRows(table(2)), 0);
        QCOMPARE(DeviceTree::nodeImage(device(1)), images::kDeviceFailed);
        QVERIFY(tableRows(table(1)) >= 2);
        QCOMPARE(tableRows(table(1)), qint64(m_traffic.liveReplies(1).size()));
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);
        QVERIFY(messages.shown.isEmpty());
    }

    // The line goes away in the middle of polling: the picture changes, no row, no message,
    // and the cycle keeps running.
    void deviceStopsAnswering()
    {
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}});
        pollingButton()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(tableRows(table(1)) >= 2, 5000);
        m_sim->stop();
        const qint64 rows = tableRows(table(1));
        QTRY_COMPARE_WITH_TIMEOUT(DeviceTree::nodeImage(device(0)), images::kDeviceFailed, 5000);
        QTest::qWait(1500);
        QVERIFY(pollingButton()->isChecked());
        QVERIFY(m_main->VrTimer1()->isActive() || !m_main->pollIdleEvent().isSet());
        pollingButton()->trigger();
        QCOMPARE(tableRows(table(1)), rows);
        QVERIFY(messages.shown.isEmpty());
    }

    // A table folder that cannot be made is reported after the tick; the next poll tries
    // again and succeeds once the folder can be made.
    void tableFolderThatCannotBeMade()
    {
        WatchingMessages messages;
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString folder = m_dir.filePath("blocker/sub");
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->load(pollingScenario({{1, 4, 1}}));
        QVERIFY(m_sim->start(m_dir.filePath("ports")));
        addPolledDevices(*m_main, {{1, 4, 1}}, m_tables);
        device(0)->device->setTablePath(folder + QStringLiteral("/ArcData1.dbf"));
        bool idleWhileShown = false;
        messages.onShow = [&](const MessageRequest &) {
            idleWhileShown = m_main->pollIdleEvent().isSet();
        };

        pollingButton()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(messages.shown.size() >= 2, 6000);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Невозможно создать: ") + folder + "/");
        QCOMPARE(messages.shown[0].icon, MessageIcon::Error);
        QVERIFY(idleWhileShown);
        QVERIFY(pollingButton()->isChecked());

        QVERIFY(QFile::remove(m_dir.filePath("blocker")));
        QTRY_VERIFY_WITH_TIMEOUT(tableRows(folder + QStringLiteral("/ArcData1.dbf")) >= 1, 6000);
        pollingButton()->trigger();
    }

    // A file at the table path that is not a measurement table (damaged, cut short, foreign)
    // is reported and never written into; the grid keeps what it showed.
    void foreignFileAtTablePath_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("not a table at all\n");
        QTest::newRow("cut header") << QByteArray("\x03\x7a\x0c\x09\x05\x00", 6);
    }
    void foreignFileAtTablePath()
    {
        QFETCH(QByteArray, content);
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}, {2, 4, 1}});
        QFile file(table(2));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();

        pollFor(2500);
        QVERIFY(!messages.shown.isEmpty());
        QCOMPARE(messages.shown.first().text,
                 QStringLiteral("Ошибка открытия базы данных: ") + table(2));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        file.close();
        QVERIFY(tableRows(table(1)) >= 1);

        const int shown = m_main->dataView()->model()->rowCount();
        QVERIFY_THROWS_EXCEPTION(TableError, m_main->SelectDevice(device(1)));
        QCOMPARE(m_main->dataView()->model()->rowCount(), shown);
        QCOMPARE(m_main->dataView()->table().path(), table(1));
    }

    // The grid follows the file that the polls write, also after the table was deleted or
    // a foreign file took its place while polling ran.
    void gridFollowsAReplacedTable_data()
    {
        QTest::addColumn<bool>("foreignFirst");
        QTest::newRow("deleted") << false;
        QTest::newRow("foreign file, then deleted") << true;
    }
    void gridFollowsAReplacedTable()
    {
        QFETCH(bool, foreignFirst);
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}});
        pollFor(3500);
        QVERIFY(tableRows(table(1)) >= 3);
        QCOMPARE(qint64(m_main->dataView()->model()->rowCount()), tableRows(table(1)));
        if (foreignFirst) {
            QFile file(table(1));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("not a table\n");
            file.close();
            pollFor(1500);
        }
        QVERIFY(QFile::remove(table(1)));
        pollFor(1500);
        const qint64 rows = tableRows(table(1));
        QVERIFY(rows >= 1 && rows < 3);
        QCOMPARE(qint64(m_main->dataView()->model()->rowCount()), rows);
        QCOMPARE(m_main->dataView()->model()->data(m_main->dataView()->model()->index(0, 0)),
                 QVariant(QStringLiteral("0")));
    }

    // The selected device's grid follows its polls, the chart's titles come from the device,
    // the channel window shows the latest values, and the chart redraws on the timer.
    void selectedDeviceView()
    {
        startPlant({{1, 4, 1}, {2, 4, 1}});
        auto *update = m_main->windows().networkConfig->findChild<QCheckBox *>("CheckUpdateGraph");
        QVERIFY(update && update->isChecked());
        m_main->windows().channelConfig->show();
        pollingButton()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(tableRows(table(1)) >= 3, 8000);
        QTRY_VERIFY(m_main->pollIdleEvent().isSet());
        pollingButton()->trigger();

        DataView *view = m_main->dataView();
        const int rows = view->model()->rowCount();
        QCOMPARE(qint64(rows), tableRows(table(1)));
        QCOMPARE(view->grid()->currentIndex().row(), rows - 1);
        QCOMPARE(view->model()->titles(), MeasurementTableModel::defaultTitles());

        const SimTraffic::Reply last = m_traffic.liveReplies(1).last();
        for (int c = 0; c < 4; ++c) {
            auto *field = m_main->windows().channelConfig->findChild<QDoubleSpinBox *>(
                QStringLiteral("EditValX%1").arg(c + 1));
            QCOMPARE(field->value(), std::round(double(last.values[c]) * 1000) / 1000);
        }
        // The channel descriptions, read once after the selection, title the chart's lines.
        for (int c = 1; c <= 4; ++c)
            QCOMPARE(m_main->chartView()->series(c)->name(), QStringLiteral("Вход 1.%1").arg(c));
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);

        QVERIFY(m_main->chartRefreshDue());
        m_main->TimerUpdateDataTimer();
        QVERIFY(!m_main->chartRefreshDue());
        QCOMPARE(m_main->chartView()->series(1)->count(), rows);
        QCOMPARE(m_main->chartView()->series(4)->points().last().y(),
                 std::round(double(last.values[3]) * 10000) / 10000);
        // From the first timed redraw on, the page keeps the scale of 200 points; selecting the
        // device again stretches its few points across the width.
        QCOMPARE(m_main->chartView()->dateAxis()->max(), MeasurementChartView::kPagePoints - 0.5);
        m_main->SelectDevice(device(0));
        QCOMPARE(m_main->chartView()->dateAxis()->max(), rows - 0.5);
    }

    // With the check box clear, polls of the selected device never ask for a redraw.
    void chartStaysWithoutUpdateMark()
    {
        startPlant({{1, 4, 1}});
        m_main->windows()
            .networkConfig->findChild<QCheckBox *>("CheckUpdateGraph")
            ->setChecked(false);
        pollFor(2200);
        QVERIFY(tableRows(table(1)) >= 1);
        QVERIFY(!m_main->chartRefreshDue());
        QCOMPARE(m_main->chartView()->series(1)->count(), 0);
    }

    void stoppingForAnEditor()
    {
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}});
        QCOMPARE(m_main->ConfirmStopPolling(), 1);
        QVERIFY(messages.shown.isEmpty());

        pollingButton()->trigger();
        QVERIFY(!m_main->command("butShowFormConfig")->isEnabled());
        auto *group = m_main->windows().networkConfig->findChild<QGroupBox *>("GroupBox2");
        QVERIFY(!group->isEnabled());

        messages.answers = {MessageButton::No};
        QCOMPARE(m_main->ConfirmStopPolling(), 0);
        QVERIFY(pollingButton()->isChecked());
        QCOMPARE(messages.shown.last().caption, QStringLiteral("Останов опроса"));
        QCOMPARE(
            messages.shown.last().text,
            QStringLiteral("Активен режим сбора данных архива\r\n     Прервать чтение данных ?"));

        messages.answers = {MessageButton::Yes};
        QCOMPARE(m_main->ConfirmStopPolling(), 2);
        QVERIFY(!pollingButton()->isChecked());
        QVERIFY(!m_main->VrTimer1()->isActive());
        QVERIFY(m_main->pollIdleEvent().isSet());
        // The editor buttons stay as the cycle's start left them.
        QVERIFY(!m_main->command("butShowFormConfig")->isEnabled());

        m_main->SetEditorPanelsEnabled(true);
        QVERIFY(group->isEnabled());
    }

    // A long table opens at once and the grid reads only the rows it shows.
    void gridOnAHundredThousandRows()
    {
        startPlant({{1, 4, 1}});
        const QString path = table(1);
        AppendMeasurementRow(path, QDateTime::currentDateTime(), {1, 2, 3, 4});
        QVERIFY(repeatFirstRow(path, 99999));

        QElapsedTimer clock;
        clock.start();
        m_main->SelectDevice(device(0));
        QCOMPARE(m_main->dataView()->model()->rowCount(), 100000);
        m_main->dataView()->showNewestRow();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_main->chartView()->series(1)->count(), 200);

        pollFor(1300);
        const int polled = int(m_traffic.liveReplies(1).size());
        QVERIFY(polled >= 1);
        QCOMPARE(m_main->dataView()->model()->rowCount(), 100000 + polled);
        QCOMPARE(m_main->dataView()->model()->index(100000, 0).data().toString().trimmed(),
                 QStringLiteral("10000"));
        QCOMPARE(m_main->dataView()->grid()->currentIndex().row(), 100000 + polled - 1);
    }
};

QTEST_MAIN(TestPollingCycle)
#include "tst_pollingcycle.moc"
