#include "tests/support/configuratortestenv.h"
#include "tests/support/pollingtestenv.h"

#include "platform/measurementtable.h"
#include "platform/settings.h"
#include "windowkit/images.h"
#include "workstation/dataview.h"
#include "workstation/networkfilecommands.h"

#include <QAction>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QTableView>

// Saving and loading the device tree by command and at start, against the simulated plant.
class TestNetworkFileCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    SimTraffic m_traffic;
    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    QString m_tables;

    void startWindows()
    {
        m_conf.reset();
        m_conf = std::make_unique<Configurator>(systemClock());
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_main->isActivated());
    }

    void startPlant(const QList<PolledDevice> &devices)
    {
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->setLogger([this](const QString &line) { m_traffic.append(line); });
        m_sim->load(pollingScenario(devices));
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        addPolledDevices(*m_main, devices, m_tables);
    }

    NetworkFileCommands *commands() const { return m_main->findChild<NetworkFileCommands *>(); }
    QAction *command(const char *name) const { return m_main->command(QLatin1String(name)); }
    DeviceNetwork &network() const { return m_session->network(); }

    // Two devices, the second (entry 5) selected, its text typed over by the user, the first
    // marked as not answering; saved through the command under "net".
    SavedNetwork saveEditedPlant(ScopedRecordingMessages &messages)
    {
        startPlant({{1, 4, 30}, {2, 1, 30}});
        network().setText(5, QStringLiteral("Печь №2 — участок сушки"));
        network().setImage(0, images::kDeviceFailed);
        m_main->SelectDevice(5);
        network().device(5)->setNextPollTime(777);
        messages.fileAnswers = {m_dir.filePath("net")};
        command("SaveTree")->trigger();
        return commands()->snapshot();
    }

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
        QFile::remove(m_dir.filePath("net.ini"));
        startWindows();
    }

    void cleanup()
    {
        m_conf.reset();
        m_sim.reset();
    }

    void savedTreeComesBackByCommand()
    {
        ScopedRecordingMessages messages;
        SavedNetwork saved = saveEditedPlant(messages);
        const QString file = m_dir.filePath("net.ini");
        QVERIFY(QFileInfo(file).isFile());
        QCOMPARE(messages.dialogs.value(0).filter,
                 QStringLiteral("Файлы настроек (*.ini);;Все файлы (*.*)"));
        QCOMPARE(openSettings()->value(QStringLiteral("TreeFile")).toString(), file);

        startWindows();
        messages.fileAnswers = {file};
        command("mnuLoadTree")->trigger();
        QVERIFY(messages.shown.isEmpty());
        saved.entries[5].device.setNextPollTime(0);
        QVERIFY(commands()->snapshot() == saved);
        QCOMPARE(network().deviceCount(), 2);
        QCOMPARE(m_session->selected().index(), 5);
        QCOMPARE(m_main->tree()->currentItem(), m_main->tree()->itemAtAbsoluteIndex(5));
        QCOMPARE(m_main->tree()->itemAtAbsoluteIndex(5)->text(0),
                 QStringLiteral("Печь №2 — участок сушки"));
        QCOMPARE(m_session->selected().CurrentDevice().address(), std::uint8_t(2));
        // The status bar names the first device, whichever the file had selected.
        QCOMPARE(m_main->statusPanel(1)->text(), QStringLiteral("Адрес: 001"));
        QVERIFY(command("butNetworkParams")->isEnabled());
        QVERIFY(command("butShowFormConfig")->isEnabled());
        // Loading does not change which file the reload at start takes.
        QCOMPARE(openSettings()->value(QStringLiteral("TreeFile")).toString(), file);
    }

    void savingOverAFileAsksFirst()
    {
        ScopedRecordingMessages messages;
        saveEditedPlant(messages);
        const QString file = m_dir.filePath("net.ini");
        QFile::resize(file, 10);
        // "net" becomes "net.ini", which exists: the question names the full name.
        messages.fileAnswers = {m_dir.filePath("net"), m_dir.filePath("net.ini")};
        messages.answers = {MessageButton::No, MessageButton::Yes};
        command("SaveTree")->trigger();
        QCOMPARE(QFileInfo(file).size(), 10);
        QCOMPARE(messages.shown.value(0).text,
                 QStringLiteral("Файл ") + file +
                     QStringLiteral(" существует\r\nПерезаписать его? "));
        QCOMPARE(messages.shown.value(0).caption, QStringLiteral("Сохранение дерева"));
        QCOMPARE(messages.shown.value(0).icon, MessageIcon::Information);
        command("SaveTree")->trigger();
        QVERIFY(QFileInfo(file).size() > 10);
    }

    void damagedFileLeavesTheSelection()
    {
        ScopedRecordingMessages messages;
        saveEditedPlant(messages);
        const QString file = m_dir.filePath("net.ini");
        QFile::resize(file, QFileInfo(file).size() - 1);
        AppendMeasurementRow(m_session->selected().CurrentDevice().tablePath(),
                             QDateTime::currentDateTime(), {1, 2, 3, 4});
        m_main->SelectDevice(5);
        QCOMPARE(m_main->grid()->model()->rowCount(), 1);
        const DeviceNode current = m_session->selected().CurrentDevice();

        messages.fileAnswers = {file};
        command("LoadTree")->trigger();
        // No device is selected: grid and chart show nothing of the old one.
        QCOMPARE(m_main->grid()->model()->rowCount(), 0);
        QCOMPARE(m_main->chartView()->series(1)->count(), 0);
        QCOMPARE(m_main->chartView()->chart()->title(), QStringLiteral("Устройство не выбрано"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Ошибка чтения файла дерева устройств"));
        QCOMPARE(m_main->tree()->nodeCount(), 0);
        QCOMPARE(m_session->selected().index(), 5);
        QVERIFY(m_session->selected().CurrentDevice() == current);

        messages.fileAnswers = {m_dir.filePath("nothing.ini")};
        command("LoadTree")->trigger();
        QCOMPARE(messages.shown.last().text, QStringLiteral("Файл не найден."));
    }

    void reloadAtStart()
    {
        ScopedRecordingMessages messages;
        SavedNetwork saved = saveEditedPlant(messages);
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        startWindows();
        QVERIFY(messages.shown.isEmpty());
        saved.entries[5].device.setNextPollTime(0);
        QVERIFY(commands()->snapshot() == saved);
        QCOMPARE(m_main->tree()->currentItem(), m_main->tree()->itemAtAbsoluteIndex(5));
        QVERIFY(command("butShowFormConfig")->isEnabled());
        QVERIFY(!command("butEnableCycleReqDev")->isEnabled());
        QVERIFY(command("StartOnLoad")->isChecked());
    }

    // A load asked for while a poll tick waits for its reply runs once the tick has ended, and
    // polling goes on with the loaded devices.
    void loadDuringAPollTick()
    {
        ScopedRecordingMessages messages;
        saveEditedPlant(messages);
        for (int index : network().deviceIndices())
            network().device(index)->setPollPeriod(1);
        QAction *polling = command("butEnableCycleReqDev");
        polling->trigger();
        QVERIFY(polling->isChecked());

        bool loadedInTick = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!loadedInTick && !m_session->line().pollIdle.isSet()) {
                loadedInTick = true;
                messages.fileAnswers = {m_dir.filePath("net.ini")};
                command("LoadTree")->trigger();
                // Nothing was replaced under the waiting tick.
                QCOMPARE(network().entryCount(), 10);
                QCOMPARE(network().device(0)->pollPeriod(), 1);
            }
        });
        watch.start(2);
        QTRY_VERIFY_WITH_TIMEOUT(loadedInTick, 5000);
        watch.stop();
        // The file's periods are 30 s, but loaded devices are due at once.
        QTRY_COMPARE_WITH_TIMEOUT(network().device(0)->pollPeriod(), 30, 5000);
        m_traffic.clear();
        QTRY_VERIFY_WITH_TIMEOUT(
            m_traffic.requests(4, 1).size() >= 1 && m_traffic.requests(4, 2).size() >= 1, 5000);
        QVERIFY(polling->isChecked());
        QVERIFY(m_session->polling().VrTimer1()->isActive());
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestNetworkFileCommands)
#include "tst_networkfilecommands.moc"
