#include "platform/datafolder.h"
#include "tests/support/configuratortestenv.h"
#include "tests/support/pollingtestenv.h"

#include "platform/settings.h"
#include "workstation/dataview.h"
#include "workstation/networkconfigwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

// The device network settings window against the simulated plant's lines.
class TestNetworkConfigWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<devsim::DeviceSimulator> m_sim;
    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    QString m_tables;

    NetworkConfigWindow *window() const
    {
        return static_cast<NetworkConfigWindow *>(m_main->windows().networkConfig);
    }
    template <typename T> T *control(const char *name) const
    {
        return window()->findChild<T *>(QLatin1String(name));
    }
    DeviceNetwork &network() const { return m_session->network(); }
    DeviceNode &record(int device) { return *network().device(network().deviceIndices()[device]); }

    void open()
    {
        m_main->command(QStringLiteral("butNetworkParams"))->trigger();
        QVERIFY(window()->isVisible());
    }
    // A left click on the list's entry for a device.
    void pick(int device)
    {
        QTreeWidget *list = window()->deviceList();
        QTreeWidgetItem *item = list->topLevelItem(device);
        list->setCurrentItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
    }
    void typeInto(QWidget *field, const QString &text)
    {
        if (auto *spin = qobject_cast<QSpinBox *>(field)) {
            spin->findChild<QLineEdit *>()->setText(text);
            QTest::keyClick(spin, Qt::Key_Return);
        } else {
            auto *line = static_cast<QLineEdit *>(field);
            line->setText(text);
            QTest::keyClick(line, Qt::Key_Return);
        }
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
        openSettings()->clear();
        m_conf = std::make_unique<Configurator>(systemClock());
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_main->isActivated());
        m_sim = std::make_unique<devsim::DeviceSimulator>();
        m_sim->load(pollingScenario({{1, 4, 30}, {2, 1, 30}, {5, 0, 30}}));
        QString error;
        QVERIFY2(m_sim->start(m_dir.filePath("ports"), &error), qPrintable(error));
        addPolledDevices(*m_main, {{1, 4, 30}, {2, 1, 30}, {5, 0, 30}}, m_tables);
    }

    void cleanup()
    {
        m_conf.reset();
        m_sim.reset();
    }

    void showListsTheDevicesAndLeavesTheSelection()
    {
        QCOMPARE(window()->size(), QSize(493, 338));
        QCOMPARE(window()->windowTitle(), QStringLiteral("Настройки сети"));
        m_main->SelectDevice(network().deviceIndices()[2]);
        const int selected = m_session->selected().index();
        record(0).setChannelColour(3, 0x00123456);
        open();
        QTreeWidget *list = window()->deviceList();
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(1)->text(0), network().entry(5).text);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(m_session->selected().index(), selected);
        // The first device's settings.
        QCOMPARE(control<QComboBox>("ComboPortNum")->currentText(), QStringLiteral("COM1"));
        QCOMPARE(control<QComboBox>("ComboBaudrate")->currentText(), QStringLiteral("115200"));
        QCOMPARE(control<QSpinBox>("EditNetAdr")->value(), 1);
        QCOMPARE(control<QSpinBox>("EditPeriod")->value(), 30);
        QCOMPARE(control<QLineEdit>("EditArcPath")->text(), record(0).tablePath());
        QCOMPARE(control<QComboBox>("ColorChan1")->currentData().toUInt(), 0x0000FFu);
        // A colour outside the offered list is shown by its value.
        QCOMPARE(control<QComboBox>("ColorChan3")->currentData().toUInt(), 0x00123456u);
        QCOMPARE(control<QComboBox>("ColorChan3")->currentText(), QStringLiteral("$00123456"));
        QVERIFY(control<QGroupBox>("GroupBox1")->isEnabled());
        QVERIFY(control<QGroupBox>("GroupBox2")->isEnabled());

        pick(1);
        QCOMPARE(control<QComboBox>("ComboBaudrate")->currentText(), QStringLiteral("19200"));
        QCOMPARE(control<QComboBox>("ColorChan3")->currentData().toUInt(), 0x00FF00u);

        // While polling runs the window only shows.
        window()->close();
        m_main->command(QStringLiteral("butEnableCycleReqDev"))->trigger();
        open();
        QVERIFY(!control<QGroupBox>("GroupBox1")->isEnabled());
        QVERIFY(!control<QGroupBox>("GroupBox2")->isEnabled());
        QCOMPARE(control<QSpinBox>("EditNetAdr")->value(), 1);
    }

    void fieldsLeftOutOfBounds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("address 200") << "EditNetAdr"
                                     << "200" << 1;
        QTest::newRow("address 0") << "EditNetAdr"
                                   << "0" << 1;
        QTest::newRow("address 127") << "EditNetAdr"
                                     << "127" << 127;
        QTest::newRow("period 0") << "EditPeriod"
                                  << "0" << 1;
        QTest::newRow("period 3601") << "EditPeriod"
                                     << "3601" << 1;
        QTest::newRow("period 3600") << "EditPeriod"
                                     << "3600" << 3600;
    }
    void fieldsLeftOutOfBounds()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        open();
        pick(1);
        auto *field = window()->findChild<QSpinBox *>(name);
        typeInto(field, typed);
        QCOMPARE(field->value(), stored);
        const bool address = name == QLatin1String("EditNetAdr");
        QCOMPARE(address ? int(record(1).address()) : record(1).pollPeriod(), stored);
        // The picked device became the selected one, and its copy changed too.
        QCOMPARE(m_session->selected().index(), 5);
        QCOMPARE(m_main->tree()->currentItem(), m_main->tree()->itemAtAbsoluteIndex(5));
        QVERIFY(m_session->selected().CurrentDevice() == record(1));
        QCOMPARE(address ? int(record(0).address()) : record(0).pollPeriod(), address ? 1 : 30);
    }

    void tableNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("name");
        QTest::newRow("no extension") << "C:\\Logs\\plant"
                                      << "C:\\Logs\\plant.dbf";
        QTest::newRow("other extension") << "C:\\Logs\\plant.txt"
                                         << "C:\\Logs\\plant.dbf";
        QTest::newRow("dotted folder") << "/data/v1.2/plant"
                                       << "/data/v1.2/plant.dbf";
        QTest::newRow("already dbf") << "/data/plant.dbf"
                                     << "/data/plant.dbf";
    }
    void tableNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, name);
        QCOMPARE(measurementTableName(typed), name);
    }

    void tablePathLeft()
    {
        WatchingMessages messages;
        open();
        pick(2);
        auto *field = control<QLineEdit>("EditArcPath");
        typeInto(field, m_dir.filePath("logs/plant.txt"));
        const QString table = m_dir.filePath("logs/plant.dbf");
        QCOMPARE(field->text(), table);
        QCOMPARE(record(2).tablePath(), table);
        QCOMPARE(m_session->selected().CurrentDevice().tablePath(), table);
        QVERIFY(readWithDbfread(table).value(0).startsWith(QLatin1String("Num,C")));
        QVERIFY(messages.shown.isEmpty());

        // Longer than the record keeps: refused whole, not cut into another table's name.
        typeInto(field, m_dir.filePath(QString(300, QLatin1Char('x'))));
        QCOMPARE(record(2).tablePath(), table);
        QCOMPARE(field->text(), table);
        QCOMPARE(messages.shown.size(), 1);

        // A folder that cannot be made.
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        typeInto(field, m_dir.filePath("blocker/sub/t"));
        QVERIFY(messages.shown.last().text.startsWith(QStringLiteral("Невозможно создать: ") +
                                                      m_dir.filePath("blocker/sub")));
        QCOMPARE(record(2).tablePath(), table);
    }

    void portProbe()
    {
        WatchingMessages messages;
        open();
        pick(1);
        auto *ports = control<QComboBox>("ComboPortNum");
        const int linkPort = m_session->line().port.PortNum();
        record(1).setPortNumber(3);
        // COM7 is no line of the plant.
        ports->setCurrentIndex(6);
        emit ports->activated(6);
        QCOMPARE(messages.shown.size(), 1);
        // The specified text, then why.
        QCOMPARE(messages.shown[0].text,
                 QStringLiteral("Ошибка доступа к порту: COM7\r\nУстановите другой порт\r\n\r\n"
                                "Порт COM7 (%1) отсутствует. Назначьте порт: Сеть → Назначение "
                                "портов.")
                     .arg(m_dir.filePath("ports/COM7")));
        QCOMPARE(record(1).portNumber(), 3);
        QCOMPARE(ports->currentText(), QStringLiteral("COM7"));
        QCOMPARE(m_session->line().port.PortNum(), linkPort);
        QVERIFY(!m_session->line().port.IsOpen());

        ports->setCurrentIndex(0);
        emit ports->activated(0);
        QCOMPARE(record(1).portNumber(), 1);
        QCOMPARE(m_session->selected().CurrentDevice().portNumber(), 1);
        QCOMPARE(m_session->line().port.PortNum(), linkPort);
    }

    void colourAndChecksThenClose()
    {
        open();
        pick(0);
        auto *colour = control<QComboBox>("ColorChan2");
        const int red = colour->findText(QStringLiteral("Красный"));
        colour->setCurrentIndex(red);
        emit colour->activated(red);
        QCOMPARE(record(0).channelColour(2), 0x0000FFu);
        auto *shown = control<QCheckBox>("CheckChan4OnOff");
        shown->click();
        QVERIFY(record(0).channelShown(4));
        auto *update = control<QCheckBox>("CheckUpdateGraph");
        update->click();
        QVERIFY(!update->isChecked());
        QVERIFY(!record(0).graphRefresh());
        // The box is the window's, not the device's: another pick leaves it.
        pick(1);
        QVERIFY(!update->isChecked());
        QVERIFY(record(1).graphRefresh());

        pick(0);
        window()->close();
        QCOMPARE(m_main->chartView()->series(2)->color(), QColor(255, 0, 0));
        QCOMPARE(m_session->selected().index(), 0);
    }

    void staleOrMissingPick()
    {
        WatchingMessages messages;
        open();
        // The tree is replaced while the window is open: the third entry of the list now names
        // a settings entry of the first device.
        m_session->clearNetwork();
        addPolledDevices(*m_main, {{1, 4, 30}}, m_tables);
        const DeviceNode before = record(0);
        window()->deviceList()->setCurrentItem(window()->deviceList()->topLevelItem(2));
        control<QCheckBox>("CheckCyclOpros")->click();
        QCOMPARE(messages.shown.value(0).text, QStringLiteral("Ошибка записи настроек."));
        QVERIFY(record(0) == before);
        QCOMPARE(*network().feature(1), (FeatureNode{1, 0}));

        // Nothing picked: the first entry stands in, after the message.
        window()->deviceList()->setCurrentItem(nullptr);
        control<QCheckBox>("CheckChan1OnOff")->click();
        QCOMPARE(messages.shown.value(1).text, QStringLiteral("Ошибка доступа к полю дерева."));
        QVERIFY(record(0).channelShown(1));
    }

    // Not this window's, but the main window's other small one: shown modally with the package's
    // version and the data folder, closed by its one button.
    void aboutWindow()
    {
        QWidget *about = m_main->windows().about;
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("StaticVersion"))->text(),
                 QStringLiteral("Конфигуратор Лорван, версия " LORVAN_VERSION));
        auto *close = about->findChild<QPushButton *>(QStringLiteral("butClose"));
        QCOMPARE(close->text(), QStringLiteral("Закрыть"));
        auto *folder = about->findChild<QLabel *>(QStringLiteral("StaticDataFolder"));
        bool wasModal = false;
        QString shown;
        QTimer::singleShot(50, this, [&] {
            wasModal = about->isVisible() && about->isModal();
            shown = folder->text();
            close->click();
        });
        m_main->command(QStringLiteral("mnuAboutProgram"))->trigger();
        QVERIFY(wasModal);
        QVERIFY(!about->isVisible());
        // Whole, or without its middle and whole in the tool tip.
        const QString path = QDir::toNativeSeparators(dataFolder());
        QCOMPARE(folder->toolTip(), path);
        const QStringList ends = shown.split(QChar(0x2026));
        QVERIFY2(ends.size() <= 2 && !ends.first().isEmpty() && path.startsWith(ends.first()) &&
                     path.endsWith(ends.last()),
                 qPrintable(shown));
    }
};

QTEST_MAIN(TestNetworkConfigWindow)
#include "tst_networkconfigwindow.moc"
