#include "tests/support/configuratortestenv.h"
#include "tests/support/workstationtestenv.h"

#include "devsim/devicesimulator.h"
#include "discovery/finddeviceswindow.h"
#include "platform/busycursor.h"
#include "platform/datafolder.h"
#include "platform/portassignment.h"
#include "platform/settings.h"
#include "session/networkscan.h"
#include "support/ptyresponder.h"
#include "workstation/dataview.h"
#include "workstation/devicetree.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <random>

// The scan window against simulated lines: which devices it finds, at which speeds, with how
// many requests, and the tree it builds from them.
class TestNetworkScan : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    FindDevicesWindow *m_scan = nullptr;
    QMutex m_logLock;
    QStringList m_log;

    void startSimulator(const devsim::Scenario &scenario)
    {
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &line) {
            QMutexLocker lock(&m_logLock);
            m_log.append(line);
        });
        m_sim->load(scenario);
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
    }

    // Requests the simulator received for one address (two hex digits after the colon).
    int requestsTo(int address)
    {
        QMutexLocker lock(&m_logLock);
        const QString marker =
            QStringLiteral(" <- :%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
        int n = 0;
        for (const QString &line : std::as_const(m_log))
            n += line.toUpper().contains(marker) ? 1 : 0;
        return n;
    }
    int requests()
    {
        QMutexLocker lock(&m_logLock);
        return int(std::count_if(m_log.cbegin(), m_log.cend(), [](const QString &l) {
            return l.contains(QLatin1String(" <- "));
        }));
    }

    template <typename T> T *control(const char *name)
    {
        return m_scan->findChild<T *>(QLatin1String(name));
    }

    void setRange(int begin, int end, const QString &speed)
    {
        control<QSpinBox>("EditAdrBeg")->setValue(begin);
        control<QSpinBox>("EditAdrEnd")->setValue(end);
        auto *speeds = control<QComboBox>("ComboBaudrate");
        speeds->setCurrentIndex(speeds->findText(speed));
        emit speeds->activated(speeds->currentIndex());
    }

    QStringList deviceTexts() const
    {
        QStringList texts;
        for (int index : m_session->network().deviceIndices())
            texts.append(m_session->network().entry(index).text);
        return texts;
    }

    static devsim::DeviceSetup device(int address, int speedCode, int variant = 0)
    {
        devsim::DeviceSetup d;
        d.address = quint8(address);
        d.speedCode = quint8(speedCode);
        d.variant = quint8(variant);
        d.serial = quint16(0x2000 + address);
        return d;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void init()
    {
        {
            QMutexLocker lock(&m_logLock);
            m_log.clear();
        }
        openSettings()->clear();
        m_clock = std::make_unique<VirtualClock>();
        m_conf = std::make_unique<Configurator>(*m_clock);
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
        m_scan = qobject_cast<FindDevicesWindow *>(m_main->windows().findDevices);
        QVERIFY(m_scan);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_main->isActivated());
    }

    void cleanup()
    {
        m_conf.reset();
        m_main = nullptr;
        m_clock.reset();
        m_sim.reset();
    }

    void windowAtCreation()
    {
        QCOMPARE(control<QComboBox>("ComboPortNum")->currentText(), QStringLiteral("COM1"));
        QCOMPARE(control<QComboBox>("ComboBaudrate")->currentText(), QStringLiteral("9600"));
        QCOMPARE(control<QComboBox>("ComboBaudrate")->count(), 8);
        QCOMPARE(control<QSpinBox>("EditAdrBeg")->value(), 1);
        QCOMPARE(control<QSpinBox>("EditAdrEnd")->maximum(), 127);
        QCOMPARE(control<QPushButton>("Find")->text(), QStringLiteral("Сканировать"));
        auto *config =
            m_main->settingsWindow(FeatureCode::Config)->findChild<QComboBox *>("ComboBaudrate1");
        QCOMPARE(config->currentText(), QStringLiteral("9600"));

        // The end address follows a begin address set beyond it.
        control<QSpinBox>("EditAdrBeg")->setValue(9);
        QCOMPARE(control<QSpinBox>("EditAdrEnd")->value(), 9);
        // The configuration window has no 4800; its box is left without a choice.
        setRange(9, 9, QStringLiteral("4800"));
        QCOMPARE(config->currentIndex(), -1);
        QCOMPARE(m_session->line().port.baudrate(), Baudrate::br4800);
    }

    // The demo plant: 1 at 115200, 2 at 19200, 5 at 9600; every address starts again at the
    // chosen speed.
    void findsTheDemoPlantAtItsOwnSpeeds()
    {
        startSimulator(devsim::defaultScenario());
        setRange(1, 6, QStringLiteral("9600"));
        QTest::mouseClick(control<QPushButton>("Find"), Qt::LeftButton);

        QCOMPARE(m_session->network().deviceCount(), 3);
        const QList<int> devices = m_session->network().deviceIndices();
        QCOMPARE(devices.size(), 3);
        const int addresses[] = {1, 2, 5};
        const int speeds[] = {4, 1, 0};
        for (int i = 0; i < 3; ++i) {
            const DeviceNode &n = *m_session->network().device(devices[i]);
            QCOMPARE(int(n.address()), addresses[i]);
            QCOMPARE(int(n.speedCode()), speeds[i]);
            QCOMPARE(n.deviceNumber(), i + 1);
            QCOMPARE(n.portNumber(), 1);
            QCOMPARE(n.pollPeriod(), 30);
            QVERIFY(n.cyclicPoll());
            QVERIFY(n.graphRefresh());
            QCOMPARE(n.tablePath(), dataFilePath(QStringLiteral("ArcData%1.dbf").arg(i + 1)));
            QCOMPARE(n.channelColour(1), 0x0000FFu);
            QCOMPARE(n.channelColour(4), 0x00FFFFu);
            QVERIFY(m_session->network().entry(devices[i]).text.size() <=
                    DeviceNetwork::kNameLength);
        }
        // Tries per address: 5 speeds up to 115200 for 1, two for 2, one for 5, all five for
        // the empty addresses 3, 4 and 6.
        QCOMPARE(requestsTo(1), 5);
        QCOMPARE(requestsTo(2), 2);
        QCOMPARE(requestsTo(3), 5);
        // One probe for 5, and the identity read again for the selected device at the end.
        QCOMPARE(requestsTo(5), 2);
        QCOMPARE(requestsTo(6), 5);

        // The last device found is the selected one, its record the working copy, whose graph
        // mark stays clear.
        QCOMPARE(m_session->selected().index(), devices[2]);
        QCOMPARE(int(m_session->selected().CurrentDevice().address()), 5);
        QVERIFY(!m_session->selected().CurrentDevice().graphRefresh());
        QCOMPARE(m_main->chartTitle(), m_session->network().entry(devices[2]).text);
        QCOMPARE(m_main->tree()->currentItem(), m_main->tree()->itemAtAbsoluteIndex(devices[2]));
        QVERIFY(QFileInfo::exists(dataFilePath(QStringLiteral("ArcData3.dbf"))));
        QCOMPARE(control<QComboBox>("ComboBaudrate")->currentText(), QStringLiteral("9600"));
        QCOMPARE(control<QPushButton>("Find")->text(), QStringLiteral("Сканировать"));
        QVERIFY(!m_scan->isScanning());

        // The result stays readable for a while, then the panel goes.
        QWidget *panel = m_main->PanelFind();
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->findChild<QLabel *>("StaticText2")->text(),
                 QStringLiteral("Найдено устройств: 3"));
        m_clock->advance(MainWindow::kScanResultShowMs - 1);
        QVERIFY(panel->isVisible());
        m_clock->advance(1);
        QVERIFY(!panel->isVisible());
    }

    // The scan window shows what is tried, how far the scan has come and what it found, and
    // the busy cursor stands while the scan lasts longer than a moment.
    void scanWindowShowsProgress()
    {
        devsim::Scenario s;
        devsim::LineSetup line;
        line.devices = {device(11, 4)};
        s.lines = {line};
        startSimulator(s);
        setRange(10, 15, QStringLiteral("57600"));
        QList<int> done;
        QStringList probes;
        QStringList found;
        int total = -1;
        bool busy = false;
        QElapsedTimer started;
        started.start();
        connect(&m_session->scan(), &NetworkScan::progressed, this, [&](int d, int t) {
            done.append(d);
            total = t;
            probes.append(control<QLabel>("StaticProbe")->text());
            found.append(control<QLabel>("StaticFound")->text());
            const QCursor *cursor = QGuiApplication::overrideCursor();
            if (started.elapsed() > BusyCursor::kDelayMs + 100)
                busy = busy || (cursor && cursor->shape() == Qt::BusyCursor);
        });
        m_scan->FindClick();
        // Two speeds at six addresses; address 11 answers at the second.
        QCOMPARE(total, 12);
        QCOMPARE(done, (QList<int>{0, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7, 8, 8, 9, 10, 10, 11, 12, 12}));
        QCOMPARE(control<QProgressBar>("ProgressFind")->value(), 12);
        QCOMPARE(probes.value(5), QStringLiteral("Поиск: COM1/011/115200"));
        QCOMPARE(found.value(4), QStringLiteral("Найдено устройств: 0"));
        QCOMPARE(found.value(5), QStringLiteral("Найдено устройств: 1"));
        // Ten silent probes wait out their real reply windows: well over the cursor's delay.
        QVERIFY(started.elapsed() > 2 * BusyCursor::kDelayMs);
        QVERIFY(busy);
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    // Settings entries by the variant byte: bit 2 adds the programs, bit 0 the archive.
    void settingsEntriesByVariant_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QStringList>("entries");
        const QStringList four{"Конфигурация", "Каналы", "Контуры", "Сигнализация"};
        QTest::newRow("0x00") << 0x00 << four;
        QTest::newRow("0x01") << 0x01 << four + QStringList{"Архив данных"};
        QTest::newRow("0x04") << 0x04 << four + QStringList{"Программное управление"};
        QTest::newRow("0x05") << 0x05
                              << four + QStringList{"Программное управление", "Архив данных"};
    }
    void settingsEntriesByVariant()
    {
        QFETCH(int, variant);
        QFETCH(QStringList, entries);
        devsim::Scenario s;
        devsim::LineSetup line;
        line.devices = {device(7, 4, variant)};
        s.lines = {line};
        startSimulator(s);
        setRange(7, 7, QStringLiteral("115200"));
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 1);
        QTreeWidgetItem *item = m_main->tree()->topLevelItem(0);
        QStringList texts;
        for (int i = 0; i < item->childCount(); ++i)
            texts.append(item->child(i)->text(0));
        QCOMPARE(texts, entries);
        QCOMPARE(int(m_session->selected().CurrentDevice().variant()), variant);
    }

    // At the top speed each address gets exactly one request, answered or not.
    void topSpeedMakesOneRequest_data()
    {
        QTest::addColumn<int>("speedCode");
        QTest::addColumn<int>("found");
        QTest::newRow("device at 115200") << 4 << 1;
        QTest::newRow("device at 9600") << 0 << 0;
    }
    void topSpeedMakesOneRequest()
    {
        QFETCH(int, speedCode);
        QFETCH(int, found);
        devsim::Scenario s;
        devsim::LineSetup line;
        line.devices = {device(1, speedCode)};
        s.lines = {line};
        startSimulator(s);
        setRange(1, 1, QStringLiteral("115200"));
        m_scan->FindClick();
        QCOMPARE(requests(), 1);
        QCOMPARE(m_session->network().deviceCount(), found);
        if (!found) {
            QWidget *panel = m_main->PanelFind();
            QCOMPARE(panel->findChild<QLabel *>("StaticText1")->text(),
                     QStringLiteral(" Ошибка обмена: 999"));
            QCOMPARE(panel->findChild<QLabel *>("StaticText2")->text(),
                     QStringLiteral(" Устройства не обнаружены."));
        }
    }

    // A port that cannot be used ends the scan at its first probe, said once with the reason.
    void scanStopsAtAPortThatCannotBeUsed_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << false
                                 << QStringLiteral(" отсутствует. Назначьте порт: Сеть → "
                                                   "Назначение портов.");
        QTest::newRow("held by another program") << true << QStringLiteral(" занят программой ");
    }
    void scanStopsAtAPortThatCannotBeUsed()
    {
        QFETCH(bool, held);
        QFETCH(QString, reason);
        devsim::Scenario s;
        devsim::LineSetup line;
        line.devices = {device(1, 0)};
        s.lines = {line};
        startSimulator(s);
        CommPort holder;
        if (held)
            holder.Open();
        else
            control<QComboBox>("ComboPortNum")->setCurrentIndex(1);
        QStringList logged;
        connect(m_session, &Session::logLine, this,
                [&](const QString &text, bool) { logged.append(text); });
        ScopedRecordingMessages messages;
        setRange(1, 20, QStringLiteral("1200"));
        m_scan->FindClick();
        QCOMPARE(requests(), 0);
        QCOMPARE(m_session->network().deviceCount(), 0);
        const QString port = held ? QStringLiteral("COM1") : QStringLiteral("COM2");
        const QString why =
            QStringLiteral("Порт %1 (%2)").arg(port, m_dir.filePath("ports/" + port)) + reason;
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown[0].text.startsWith(why), qPrintable(messages.shown[0].text));
        QVERIFY(control<QLabel>("StaticProbe")->text().startsWith(why));
        QCOMPARE(logged.filter(QStringLiteral("Порт ")).size(), 1);
        QVERIFY(!m_scan->isScanning());
    }

    // A converter's stable name, as a new user meets it: it appears in the port assignment
    // while the window is open, is chosen for COM3, shows beside the scan's port box, and a
    // scan of COM3 finds the devices behind it.
    void stableNameAssignedAndScanned()
    {
        devsim::Scenario s;
        devsim::LineSetup line;
        line.devices = {device(1, 4), device(2, 4)};
        s.lines = {line};
        startSimulator(s);
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath("dev/serial/by-id")));
        QVERIFY(QDir().mkpath(root.filePath("sys/class/tty")));
        qputenv("LORVAN_SERIAL_ROOT", root.path().toLocal8Bit());
        auto *window = qobject_cast<PortAssignmentWindow *>(m_main->windows().portAssignment);
        QVERIFY(window);
        m_main->command(QStringLiteral("mnuPortAssignment"))->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(window->deviceList(3)->count(), 1);

        const QString stable = root.filePath("dev/serial/by-id/usb-Acme_RS485_A1-if00-port0");
        QVERIFY(QFile::link(m_sim->published().first().pty, stable));
        QTRY_COMPARE_WITH_TIMEOUT(window->deviceList(3)->count(), 2, 5000);
        emit window->deviceList(3)->activated(1);
        QCOMPARE(openSettings()->value("Ports/COM3").toString(), stable);
        QCOMPARE(window->pathField(3)->text(), stable);

        auto *ports = control<QComboBox>("ComboPortNum");
        ports->setCurrentIndex(2);
        QCOMPARE(ports->currentText(), QStringLiteral("COM3"));
        QCOMPARE(control<QLabel>("ComboPortNumDevice")->toolTip(), stable);
        setRange(1, 2, QStringLiteral("115200"));
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 2);
        QCOMPARE(m_session->selected().CurrentDevice().portNumber(), 3);

        // Unplugged: the list and the label follow, the assignment stays.
        QVERIFY(QFile::remove(stable));
        QTRY_VERIFY_WITH_TIMEOUT(
            window->deviceList(3)->currentText().endsWith(QStringLiteral("нет устройства")), 5000);
        control<PortDeviceLabel>("ComboPortNumDevice")->refresh();
        QCOMPARE(control<QLabel>("ComboPortNumDevice")->text(), QStringLiteral("нет устройства"));
        QCOMPARE(openSettings()->value("Ports/COM3").toString(), stable);
        window->close();
        qunsetenv("LORVAN_SERIAL_ROOT");
    }

    // Only a device's own reply finds it: not line noise (":"-led lines, half summed right, some
    // with the probed address and function), nor device 1's reply arriving in address 2's wait.
    void onlyOwnRepliesFindADevice_data()
    {
        QTest::addColumn<bool>("noise");
        QTest::addColumn<int>("last");
        QTest::newRow("noise only") << true << 20;
        QTest::newRow("1 late, inside 2's wait") << false << 2;
    }
    void onlyOwnRepliesFindADevice()
    {
        QFETCH(bool, noise);
        QFETCH(int, last);
        PtyResponder peer(m_dir.filePath("ports/COM1"));
        auto next = std::make_shared<std::mt19937>(214);
        peer.setAnswer([noise, next](const QByteArray &request) -> PtyResponder::Reply {
            const char address = frameBytes(request).at(0);
            if (!noise) // device 1's identity, its own address in it
                return {{address == 2
                             ? asciiFrame(QByteArray("\x01\x03\x12", 3) + QByteArray(18, '\x01'))
                             : QByteArray(),
                         5}};
            QByteArray lines;
            for (int i = 0; i < 12; ++i) {
                QByteArray bytes(3 + int((*next)() % 21), '\0');
                for (char &b : bytes)
                    b = char((*next)());
                if (i % 3 == 0) { // the probed address and function, a byte count that is not
                    bytes[0] = address;
                    bytes[1] = 3;
                    bytes[2] = char(bytes.size());
                }
                lines += i % 2 ? ':' + bytes.toHex().toUpper() + "\r\n" : asciiFrame(bytes);
            }
            return {{lines, 0}};
        });
        setRange(1, last, QStringLiteral("115200"));
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 0);
        QCOMPARE(peer.requests().size(), last);
    }

    void stopsAtThirtyTwoDevices()
    {
        devsim::Scenario s;
        devsim::LineSetup line;
        for (int a = 1; a <= 34; ++a)
            line.devices.append(device(a, 4));
        s.lines = {line};
        startSimulator(s);
        setRange(1, 40, QStringLiteral("115200"));
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 32);
        QCOMPARE(m_main->tree()->topLevelItemCount(), 32);
        QCOMPARE(requestsTo(31), 1);
        QCOMPARE(requestsTo(32), 2); // the probe and the selected device's identity
        QCOMPARE(requestsTo(33), 0);
        QCOMPARE(
            m_session->network().device(m_session->network().deviceIndices().last())->tablePath(),
            dataFilePath(QStringLiteral("ArcData32.dbf")));
    }

    // A new scan replaces the tree and forgets every device's stored window state.
    void scanReplacesTreeAndStoredStates()
    {
        startSimulator(devsim::defaultScenario());
        openSettings()->setValue(QStringLiteral("Forms/Device-5/EditDevString"), "old");
        setRange(5, 5, QStringLiteral("9600"));
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 1);
        m_scan->FindClick();
        QCOMPARE(m_session->network().deviceCount(), 1);
        QCOMPARE(m_main->tree()->topLevelItemCount(), 1);
        QVERIFY(openSettings()->childGroups().contains(QStringLiteral("Forms")) == false);
    }

    // A second press stops the scan; the devices found so far stay.
    void secondPressStops()
    {
        startSimulator(devsim::defaultScenario());
        setRange(1, 40, QStringLiteral("9600"));
        bool stopped = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!stopped && m_session->network().deviceCount() >= 2) {
                stopped = control<QPushButton>("Find")->text() == QStringLiteral("Остановить");
                QTest::mouseClick(control<QPushButton>("Find"), Qt::LeftButton);
            }
        });
        poll.start(20);
        QElapsedTimer clock;
        clock.start();
        m_scan->FindClick();
        QVERIFY(stopped);
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_session->network().deviceCount(), 2);
        QCOMPARE(requestsTo(39), 0);
        QCOMPARE(control<QPushButton>("Find")->text(), QStringLiteral("Сканировать"));
        QVERIFY(!m_scan->isScanning());
    }

    // The scan stops a running polling cycle before it takes the line.
    void scanStopsPolling()
    {
        startSimulator(devsim::defaultScenario());
        setRange(5, 5, QStringLiteral("9600"));
        m_scan->FindClick();
        QAction *polling = m_main->command(QStringLiteral("butEnableCycleReqDev"));
        m_main->EnableDeviceCommands();
        polling->trigger();
        QVERIFY(m_session->polling().VrTimer1()->isActive());
        m_scan->FindClick();
        QVERIFY(!polling->isChecked());
        QVERIFY(!m_session->polling().VrTimer1()->isActive());
        QCOMPARE(m_session->network().deviceCount(), 1);
    }

    // A press that arrives while a poll tick waits for its reply: the scan runs once the tick
    // has ended, and finds the device instead of a busy link.
    void scanPressedDuringAPollTick()
    {
        startSimulator(devsim::defaultScenario());
        setRange(5, 5, QStringLiteral("9600"));
        m_scan->FindClick();
        for (int index : m_session->network().deviceIndices())
            m_session->network().device(index)->setPollPeriod(1);
        QAction *polling = m_main->command(QStringLiteral("butEnableCycleReqDev"));
        m_main->EnableDeviceCommands();
        polling->trigger();
        bool pressedInTick = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!pressedInTick && !m_session->line().pollIdle.isSet()) {
                pressedInTick = true;
                QElapsedTimer clock;
                clock.start();
                m_scan->FindClick();
                QVERIFY(clock.elapsed() < 500); // no wait for a tick that cannot end meanwhile
            }
        });
        watch.start(2);
        for (int step = 0; step < 50 && !pressedInTick; ++step)
            m_clock->advance(100); // the ticks come on the virtual clock
        QVERIFY(pressedInTick);
        watch.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!m_scan->isScanning() && requestsTo(5) >= 3, 5000);
        QTRY_COMPARE(m_session->network().deviceCount(), 1);
        QVERIFY(!polling->isChecked());
        QVERIFY(!m_session->polling().VrTimer1()->isActive());
    }
};

QTEST_MAIN(TestNetworkScan)
#include "tst_networkscan.moc"
