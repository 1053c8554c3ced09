#include "support/fulldisk.h"
#include "tests/support/configuratortestenv.h"
#include "tests/support/pollingtestenv.h"

#include "platform/measurementmodel.h"
#include "platform/portpath.h"
#include "platform/settings.h"
#include "windowkit/editorwindow.h"
#include "windowkit/images.h"
#include "workstation/dataview.h"

#include <QAccessible>
#include <QAction>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineSeries>
#include <QTableView>
#include <QToolButton>
#include <QValueAxis>

// A settings window with one read command, as every editor builds its commands.
class ReadingEditor : public EditorWindow
{
public:
    ReadingEditor(Session &session, WindowHost &host)
        : EditorWindow(session, host, QStringLiteral("frmReading"), QStringLiteral("Чтение"),
                       host.mainWidget())
    {
        panel = new QGroupBox(this);
        panel->setObjectName(QStringLiteral("Panel1"));
        declareCommandPanels({panel});
    }

    ExchangeOutcome ButtonReadClick()
    {
        return runExchange({}, [this](ExchangeRun &run) {
            ++reads;
            panelEnabledWhenRead = panel->isEnabled();
            result = run.check(session().line().access.ReadSettings(0, 18));
            portWhenRead = session().line().port.PortNum();
        });
    }

    QGroupBox *panel;
    int reads = 0;
    int result = -1;
    int portWhenRead = 0;
    bool panelEnabledWhenRead = true;
};

// The polling cycle against the simulated plant: who is polled when, what lands in the tables,
// what a silent or garbled device does, and the selected device's view. The cycle runs on a
// virtual clock: the gaps between ticks take no time, the exchanges take their real time.
class TestPollingCycle : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    SimTraffic m_traffic;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    QString m_tables;

    // One tick as the cycle ran it: its start on the virtual clock and the address it polled
    // (0 for none).
    struct Tick
    {
        qint64 at;
        int address;
    };
    QList<Tick> m_ticks;
    QList<int> m_addresses;

    void startWindows(Clock &clock)
    {
        m_conf.reset();
        m_conf = std::make_unique<Configurator>(clock);
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_main->isActivated());
        auto counts = std::make_shared<QList<int>>();
        connect(&m_session->polling(), &PollingCycle::tickStarted, this, [this, counts] {
            *counts = requestCounts();
            m_ticks.append({m_clock ? m_clock->elapsed() : 0, 0});
        });
        connect(&m_session->polling(), &PollingCycle::tickEnded, this, [this, counts] {
            const QList<int> now = requestCounts();
            for (int i = 0; i < m_addresses.size(); ++i) {
                if (now[i] > counts->value(i))
                    m_ticks.last().address = m_addresses[i];
            }
        });
    }

    QList<int> requestCounts()
    {
        QList<int> counts;
        for (int address : std::as_const(m_addresses))
            counts.append(int(m_traffic.requests(4, address).size()));
        return counts;
    }

    QList<qint64> ticksPolling(int address) const
    {
        QList<qint64> times;
        for (const Tick &t : m_ticks) {
            if (t.address == address)
                times.append(t.at);
        }
        return times;
    }

    // Moves the virtual clock on in small steps until the condition holds; false when it
    // still does not after virtualMs.
    bool advanceUntil(const std::function<bool()> &condition, int virtualMs)
    {
        for (int waited = 0; !condition(); waited += 100) {
            if (waited >= virtualMs)
                return false;
            m_clock->advance(100);
        }
        return true;
    }

    void startPlant(const QList<PolledDevice> &devices)
    {
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &line) { m_traffic.append(line); });
        m_sim->load(pollingScenario(devices));
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        for (const PolledDevice &d : devices)
            m_addresses.append(d.address);
        addPolledDevices(*m_main, devices, m_tables);
    }

    QAction *pollingButton() { return m_main->command(QStringLiteral("butEnableCycleReqDev")); }

    void pollFor(int ms)
    {
        pollingButton()->trigger();
        QVERIFY(pollingButton()->isChecked());
        m_clock->advance(ms);
        pollingButton()->trigger();
        QVERIFY(!pollingButton()->isChecked());
        QVERIFY(!m_session->polling().VrTimer1()->isActive());
    }

    QString table(int address) const
    {
        return m_tables + QStringLiteral("/ArcData%1.dbf").arg(address);
    }

    QTreeWidgetItem *device(int i) { return m_main->tree()->topLevelItem(i); }

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
        m_ticks.clear();
        m_addresses.clear();
        openSettings()->clear();
        m_clock = std::make_unique<VirtualClock>();
        startWindows(*m_clock);
    }

    void cleanup()
    {
        m_conf.reset();
        m_main = nullptr;
        m_sim.reset();
        m_clock.reset();
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
        QCOMPARE(PollingCycle::isPollDue(now, next), due);
    }

    // Any period a network file holds: a long one waits, it never comes round at once.
    void nextPollTimes_data()
    {
        QTest::addColumn<quint32>("now");
        QTest::addColumn<qint32>("period");
        QTest::addColumn<quint32>("wait"); // ms
        QTest::newRow("default") << 5000u << 30 << 30000u;
        QTest::newRow("longest the due test tells") << 5000u << 2147482 << 2147482000u;
        QTest::newRow("milliseconds past the signed range") << 5000u << 3000000 << 2147482647u;
        QTest::newRow("largest across the wrap")
            << 0xFFFFFF00u << std::numeric_limits<qint32>::max() << 2147482647u;
    }
    void nextPollTimes()
    {
        QFETCH(quint32, now);
        QFETCH(qint32, period);
        QFETCH(quint32, wait);
        const std::uint32_t next = PollingCycle::nextPollTime(now, period);
        QCOMPARE(next - now, wait);
        QVERIFY(!PollingCycle::isPollDue(now + wait - 1000, next));
        QVERIFY(PollingCycle::isPollDue(now + wait - 999, next));
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
        DeviceNetwork &network = m_session->network();
        network.addChild(5, NetworkEntry{}); // six entries below
        network.addChild(5, NetworkEntry{});
        QCOMPARE(network.nextDevice(from), next);
        QCOMPARE(m_main->tree()->absoluteIndex(m_main->tree()->topLevelItem(2)), 12);
    }

    void emptyTreeTicksDoNothing()
    {
        m_main->EnableDeviceCommands();
        pollFor(1200);
        QCOMPARE(m_session->polling().lastPolledIndex(), 0);
        QVERIFY(m_ticks.size() >= 2);
    }

    // Three devices at their own speeds, periods of one and two seconds, one with polling off:
    // one device per tick, nobody before its time, every row the values the device sent.
    void pollsInTurnAndLogsWhatWasSent()
    {
        startPlant({{1, 4, 1}, {2, 1, 2}, {5, 0, 1, false}});
        const qint64 started = m_clock->elapsed();
        pollFor(7000);

        QCOMPARE(m_traffic.requests(4, 5).size(), 0);
        QCOMPARE(ticksPolling(5).size(), 0);
        const QList<qint64> a = ticksPolling(1);
        const QList<qint64> b = ticksPolling(2);
        QVERIFY2(a.size() >= 3, qPrintable(QString::number(a.size())));
        QVERIFY2(b.size() >= 2, qPrintable(QString::number(b.size())));
        // A period of two seconds is due one second early at the soonest; the first tick
        // comes 500 ms after the start.
        QCOMPARE(m_ticks.first().at - started, PollingCycle::kTickGapMs);
        QVERIFY(b.first() - started >= 1000);
        // A tick 500 ms after the previous one ended, one device at most per tick.
        for (int i = 1; i < m_ticks.size(); ++i)
            QCOMPARE(m_ticks[i].at - m_ticks[i - 1].at, PollingCycle::kTickGapMs);
        QCOMPARE(qsizetype(a.size() + b.size()), m_traffic.requests(4).size());
        // The device with polling off still takes its turn: three devices make a turn of
        // three ticks, so nobody is polled twice within 1.5 s.
        for (const QList<qint64> &times : {a, b})
            for (int i = 1; i < times.size(); ++i)
                QVERIFY(times[i] - times[i - 1] >= 1500);

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

    // The line goes away in the middle of polling (the simulator stopped, its port path gone,
    // as when a USB adapter is pulled): the picture changes, no row, no message, and the cycle
    // keeps running; once the line is back, polling started again writes rows again.
    void deviceStopsAnswering()
    {
        ScopedRecordingMessages messages;
        startPlant({{1, 4, 1}});
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return tableRows(table(1)) >= 2; }, 5000));
        m_sim->stop();
        const qint64 rows = tableRows(table(1));
        QVERIFY(advanceUntil(
            [&] { return DeviceTree::nodeImage(device(0)) == images::kDeviceFailed; }, 5000));
        m_clock->advance(1500);
        QVERIFY(pollingButton()->isChecked());
        QVERIFY(m_session->polling().VrTimer1()->isActive());
        pollingButton()->trigger();
        QCOMPARE(tableRows(table(1)), rows);
        QVERIFY(messages.shown.isEmpty());

        // The adapter is back under the same path: polling started again writes rows again.
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->load(pollingScenario({{1, 4, 1}}));
        QVERIFY(m_sim->start(m_dir.filePath("ports")));
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return tableRows(table(1)) > rows; }, 5000));
        pollingButton()->trigger();
        QVERIFY(messages.shown.isEmpty());
    }

    // A USB converter assigned to COM3 by its stable name is pulled out and comes back as
    // another device node: the name's link goes, then leads to a new pseudo-terminal.
    void converterReplugged()
    {
        ScopedRecordingMessages messages;
        QStringList told;
        connect(m_session, &Session::logLine, this, [&](const QString &line, bool failed) {
            if (failed && line.startsWith(QStringLiteral("Порт COM3")))
                told.append(line);
        });
        startPlant({{1, 4, 2}, {2, 4, 2}});
        const QString stable = m_dir.filePath("by-id/usb-Acme_RS485_A1-if00-port0");
        QVERIFY(QDir().mkpath(QFileInfo(stable).path()));
        QFile::remove(stable);
        QVERIFY(QFile::link(m_sim->published().first().pty, stable));
        setAssignedPort(3, stable);
        for (int index : m_session->network().deviceIndices())
            m_session->network().device(index)->setPortNumber(3);
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return tableRows(table(1)) >= 2 && tableRows(table(2)) >= 2; },
                             6000));

        QVERIFY(QFile::remove(stable));
        QVERIFY(advanceUntil(
            [&] {
                return DeviceTree::nodeImage(device(0)) == images::kDeviceFailed &&
                       DeviceTree::nodeImage(device(1)) == images::kDeviceFailed;
            },
            5000));
        m_clock->advance(6000);
        // Once per device, not once per tick; and no box.
        QCOMPARE(told.size(), 2);
        QVERIFY2(told[0].contains(QStringLiteral("(%1) отсутствует.").arg(stable)),
                 qPrintable(told[0]));
        QVERIFY(messages.shown.isEmpty());

        devsim::DeviceSimulator renumbered;
        renumbered.load(pollingScenario({{1, 4, 2}, {2, 4, 2}}));
        QVERIFY(renumbered.start(m_dir.filePath("ports-again")));
        QVERIFY(renumbered.published().first().pty != m_sim->published().first().pty);
        QVERIFY(QFile::link(renumbered.published().first().pty, stable));
        const qint64 rows1 = tableRows(table(1));
        const qint64 rows2 = tableRows(table(2));
        const qint64 back = m_clock->elapsed();
        QVERIFY(advanceUntil(
            [&] { return tableRows(table(1)) > rows1 && tableRows(table(2)) > rows2; }, 4000));
        // Within one poll period (2 s) and the tick that carries it.
        QVERIFY2(m_clock->elapsed() - back <= 2000 + PollingCycle::kTickGapMs,
                 qPrintable(QString::number(m_clock->elapsed() - back)));
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);
        pollingButton()->trigger();
        QCOMPARE(told.size(), 2);
        QVERIFY(messages.shown.isEmpty());
        setAssignedPort(3, QString());
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
        m_session->network().device(0)->setTablePath(folder + QStringLiteral("/ArcData1.dbf"));
        bool idleWhileShown = false;
        messages.onShow = [&](const MessageRequest &) {
            idleWhileShown = m_session->line().pollIdle.isSet();
        };

        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return messages.shown.size() >= 2; }, 6000));
        QCOMPARE(messages.shown[0].text, QStringLiteral("Невозможно создать: ") + folder + "/");
        QCOMPARE(messages.shown[0].icon, MessageIcon::Error);
        QVERIFY(idleWhileShown);
        QVERIFY(pollingButton()->isChecked());

        QVERIFY(QFile::remove(m_dir.filePath("blocker")));
        QVERIFY(advanceUntil(
            [&] { return tableRows(folder + QStringLiteral("/ArcData1.dbf")) >= 1; }, 6000));
        pollingButton()->trigger();
    }

    // A full disk: each failed row is said, with no tick while the box is open; the table keeps
    // its bytes and the device is not marked as answering.
    void tableOnAFullDisk_data()
    {
        QTest::addColumn<int>("kind");
        for (FullDisk::Kind kind : FullDisk::kinds())
            QTest::newRow(FullDisk::name(kind)) << int(kind);
    }
    void tableOnAFullDisk()
    {
        QFETCH(int, kind);
        FullDisk disk(FullDisk::Kind(kind), m_tables);
        AppendMeasurementRow(table(1), m_clock->currentDateTime(), {1, 2, 3, 4});
        QVERIFY(repeatFirstRow(table(1), 35)); // the last row ends just short of a page
        QFile file(table(1));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        WatchingMessages messages;
        qsizetype ticksDuringBoxes = 0;
        messages.onShow = [&](const MessageRequest &) {
            const qsizetype ticks = m_ticks.size();
            m_clock->delay(3000); // the user reads the box
            ticksDuringBoxes += m_ticks.size() - ticks;
        };
        startPlant({{1, 4, 1}});
        m_session->network().setImage(0, DeviceNetwork::kImageFailed);
        disk.fill(before.size());
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return messages.shown.size() >= 2; }, 10000));
        pollingButton()->trigger();
        disk.release();
        QCOMPARE(messages.shown[1].text,
                 "Ошибка записи в базу данных: " + table(1) + " (" + disk.reason() + ")");
        QCOMPARE(ticksDuringBoxes, 0);
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceFailed);
        QVERIFY(file.seek(0));
        QCOMPARE(file.readAll(), before);
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
        QVERIFY_THROWS_EXCEPTION(TableError, m_main->SelectDevice(5));
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
        pollFor(1000); // two ticks
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
        m_main->settingsWindow(FeatureCode::Channels)->show();
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return tableRows(table(1)) >= 3; }, 8000));
        QVERIFY(m_session->line().pollIdle.isSet());
        pollingButton()->trigger();

        DataView *view = m_main->dataView();
        const int rows = view->model()->rowCount();
        QCOMPARE(qint64(rows), tableRows(table(1)));
        QCOMPARE(view->grid()->currentIndex().row(), rows - 1);
        QCOMPARE(view->model()->titles(), MeasurementTableModel::defaultTitles());

        const SimTraffic::Reply last = m_traffic.liveReplies(1).last();
        for (int c = 0; c < 4; ++c) {
            auto *field = m_main->settingsWindow(FeatureCode::Channels)
                              ->findChild<QWidget *>(QStringLiteral("EditValX%1").arg(c + 1));
            QVERIFY(field);
            QCOMPARE(field->property("value").toDouble(), double(last.values[c]));
        }
        // The channel descriptions, read once after the selection, title the chart's lines.
        for (int c = 1; c <= 4; ++c)
            QCOMPARE(m_main->chartView()->series(c)->name(), QStringLiteral("Вход 1.%1").arg(c));
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);

        QVERIFY(m_session->polling().chartRefreshDue());
        m_session->polling().TimerUpdateDataTimer();
        QVERIFY(!m_session->polling().chartRefreshDue());
        QCOMPARE(m_main->chartView()->series(1)->count(), rows);
        QCOMPARE(m_main->chartView()->series(4)->points().last().y(),
                 std::round(double(last.values[3]) * 10000) / 10000);
        // From the first timed redraw on, the page keeps the scale of 200 points; selecting the
        // device again stretches its few points across the width.
        QCOMPARE(m_main->chartView()->dateAxis()->max(), MeasurementChartView::kPagePoints - 0.5);
        m_main->SelectDevice(0);
        QCOMPARE(m_main->chartView()->dateAxis()->max(), rows - 0.5);
        // Another device: its lines go back to numbers until its own names are read.
        m_main->SelectDevice(m_session->network().deviceIndices()[1]);
        for (int c = 1; c <= 4; ++c)
            QCOMPARE(m_main->chartView()->series(c)->name(), QStringLiteral("Канал-%1").arg(c));
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
        QVERIFY(!m_session->polling().chartRefreshDue());
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
        QVERIFY(!m_session->polling().VrTimer1()->isActive());
        QVERIFY(m_session->line().pollIdle.isSet());
        // The editor buttons stay as the cycle's start left them.
        QVERIFY(!m_main->command("butShowFormConfig")->isEnabled());

        m_main->session().SetEditorPanelsEnabled(true);
        QVERIFY(group->isEnabled());
    }

    // The polling button starts and stops the cycle however it is worked: mouse, keyboard, or an
    // assistive tool's toggle, which flips the button without going through its action.
    void buttonWorkedEveryWay_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("mouse") << 0;
        QTest::newRow("space key") << 1;
        QTest::newRow("accessibility toggle") << 2;
    }
    void buttonWorkedEveryWay()
    {
        QFETCH(int, way);
        startPlant({{1, 4, 1}});
        auto *button = m_main->findChild<QToolButton *>(QStringLiteral("butEnableCycleReqDev"));
        QVERIFY(button);
        const auto work = [&] {
            if (way == 0)
                QTest::mouseClick(button, Qt::LeftButton);
            else if (way == 1)
                QTest::keyClick(button, Qt::Key_Space);
            else
                QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
                    QAccessibleActionInterface::toggleAction());
        };
        for (const bool on : {true, false}) {
            work();
            QCOMPARE(pollingButton()->isChecked(), on);
            QCOMPARE(button->isChecked(), on);
            QCOMPARE(m_session->polling().VrTimer1()->isActive(), on);
            QCOMPARE(m_main->command("butShowFormConfig")->isEnabled(), !on);
            if (on)
                QVERIFY(advanceUntil([&] { return tableRows(table(1)) >= 1; }, 5000));
        }
        QVERIFY(m_session->line().pollIdle.isSet());
    }

    // The same cycle on the wall clock: ticks really come 500 ms apart, and the rows are what
    // the devices sent.
    void realTimeCycle()
    {
        m_conf.reset();
        m_clock.reset();
        startWindows(systemClock());
        startPlant({{1, 4, 1}, {2, 1, 1}});
        pollingButton()->trigger();
        QTest::qWait(2300);
        pollingButton()->trigger();
        const QList<QDateTime> all = m_traffic.requests(4);
        QVERIFY2(all.size() >= 3, qPrintable(QString::number(all.size())));
        for (int i = 1; i < all.size(); ++i)
            QVERIFY2(all[i - 1].msecsTo(all[i]) >= 480,
                     qPrintable(QStringLiteral("%1 ms").arg(all[i - 1].msecsTo(all[i]))));
        for (int address : {1, 2})
            QCOMPARE(readPolledRows(table(address)).mid(1),
                     expectedRows(m_traffic.liveReplies(address)));
    }

    // A settings read clicked while a poll tick waits for its reply (the port open on the
    // polled device's line): it asks to stop polling, then waits for the tick and runs after it
    // on the selected device's own line. Device access called inside the tick leaves the
    // tick's port alone.
    void settingsReadClickedDuringATick()
    {
        devsim::Scenario plant = pollingScenario({{1, 4, 1}});
        plant.lines[0].turnaroundMs = 60; // a tick that waits long enough to be clicked into
        devsim::LineSetup second = pollingScenario({{2, 1, 1}}).lines[0];
        second.port = 2;
        plant.lines.append(second);
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &line) { m_traffic.append(line); });
        m_sim->load(plant);
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        m_addresses = {1, 2};
        addPolledDevices(*m_main, {{1, 4, 1}, {2, 1, 1, false}}, m_tables);
        DeviceNetwork &network = m_session->network();
        network.device(5)->setPortNumber(2);
        m_main->SelectDevice(5);
        QCOMPARE(m_session->selected().CurrentDevice().portNumber(), 2);
        // The selected device is not polled and its chart titles are not read: the only
        // exchange of a tick is the poll of device 1 on the first line.
        m_session->polling().setTitlesRefreshDue(false);
        auto *editor = new ReadingEditor(*m_session, *m_main);

        ScopedRecordingMessages messages;
        messages.answers = {MessageButton::Yes};
        struct InTick
        {
            bool clicked = false;
            ExchangeOutcome outcome = ExchangeOutcome::Done;
            int directResult = 0;
            bool portKept = false;
        } inTick;
        CommPort &port = m_session->line().port;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (inTick.clicked || m_session->line().pollIdle.isSet() || !port.IsOpen())
                return;
            inTick.clicked = true;
            inTick.outcome = editor->ButtonReadClick();
            inTick.directResult = m_session->line().access.ReadSettings(0, 18);
            inTick.portKept =
                port.IsOpen() && port.PortNum() == 1 && port.baudrate() == Baudrate::br115200;
        });
        watch.start(1);
        pollingButton()->trigger();
        QVERIFY(advanceUntil([&] { return inTick.clicked; }, 3000));
        watch.stop();

        QCOMPARE(inTick.outcome, ExchangeOutcome::Deferred);
        QCOMPARE(inTick.directResult, 999);
        QVERIFY(inTick.portKept);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].caption, QStringLiteral("Останов опроса"));
        QVERIFY(!pollingButton()->isChecked());
        // The tick itself got its reply and wrote its row.
        QCOMPARE(m_ticks.last().address, 1);
        QCOMPARE(tableRows(table(1)), 1);
        QCOMPARE(DeviceTree::nodeImage(device(0)), images::kDeviceAnswers);

        // The read runs once the tick has ended, on the selected device's line.
        QTRY_COMPARE(editor->reads, 1);
        QCOMPARE(editor->result, 0);
        QCOMPARE(editor->portWhenRead, 2);
        QVERIFY(!editor->panelEnabledWhenRead);
        QVERIFY(editor->panel->isEnabled());
        QCOMPARE(messages.shown.size(), 1); // no failure box
        QCOMPARE(m_traffic.requests(3, 2).size(), 1);
        const qsizetype ticks = m_ticks.size();
        m_clock->advance(2000);
        QCOMPARE(editor->reads, 1);
        QCOMPARE(m_ticks.size(), ticks);
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
        m_main->SelectDevice(0);
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
