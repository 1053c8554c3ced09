#include "tests/support/configuratortestenv.h"
#include "tests/support/workstationtestenv.h"

#include "device/identity.h"
#include "devsim/devicesimulator.h"
#include "platform/settings.h"
#include "windowkit/editorwindow.h"
#include "workstation/dataview.h"
#include "workstation/devicetree.h"
#include "workstation/messagelog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

// The device tree of the main window: records, selection, per-device editor state, and the
// exchanges of the selected device against the simulated plant (COM1: addresses 1, 2, 5).
class TestDeviceTree : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    devsim::DeviceSimulator m_sim;
    VirtualClock m_clock;
    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    DeviceNetwork *m_network = nullptr;
    DeviceTree *m_tree = nullptr;
    QCheckBox *m_alarmCheck = nullptr;
    int m_tableShows = 0;

    static std::array<std::uint8_t, 18> identity(int type, int address, int speed, int variant,
                                                 int serial)
    {
        std::array<std::uint8_t, 18> b{};
        b[0] = 105;
        b[1] = std::uint8_t(type);
        b[4] = std::uint8_t(serial & 0xFF);
        b[5] = std::uint8_t(serial >> 8);
        b[6] = std::uint8_t(address);
        b[7] = std::uint8_t(speed);
        b[11] = std::uint8_t(variant);
        return b;
    }

    int addDevice(int number, const std::array<std::uint8_t, 18> &ident)
    {
        const int index = m_network->addDevice(
            describeIdentity(ident).description(),
            DeviceNode::found(number, 1, ident,
                              m_dir.filePath(QStringLiteral("data/ArcData%1.dbf").arg(number))));
        m_network->addFeatures(index);
        return index;
    }

    // The chart was scaled to its data since the zoom.
    bool chartRescaled() { return !m_main->chartView()->chart()->isZoomed(); }
    void zoomChart() { m_main->chartView()->chart()->zoomIn(); }

    // Three devices: absolute indices 0 (four entries below), 5 (six below) and 12.
    void addThreeDevices()
    {
        addDevice(1, identity(3, 1, 4, 0x00, 0x1A01));
        addDevice(2, identity(3, 2, 1, 0x05, 0x1A02));
        addDevice(3, identity(2, 5, 0, 0x00, 0x0B05));
        m_tree->expandAll();
    }

    void release(QTreeWidgetItem *item, int dx = 4)
    {
        const QRect r = m_tree->visualItemRect(item);
        QTest::mouseRelease(m_tree->viewport(), Qt::LeftButton, {},
                            QPoint(r.left() + dx, r.center().y()));
    }

    template <typename T> T *configControl(const char *name)
    {
        return m_main->settingsWindow(FeatureCode::Config)->findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
        m_sim.load(devsim::defaultScenario());
        QString error;
        QVERIFY2(m_sim.start(m_dir.filePath("ports"), &error), qPrintable(error));
    }

    void init()
    {
        openSettings()->clear();
        m_conf = std::make_unique<Configurator>(m_clock);
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
        m_network = &m_session->network();
        m_tree = m_main->tree();
        m_tableShows = 0;
        // Every selection that runs shows its device's table right after naming the chart.
        connect(m_main, &MainWindow::chartTitleChanged, this, [this] { ++m_tableShows; });
        // A stored control of the alarm window (its other controls come with the alarm editor).
        m_alarmCheck = new QCheckBox(m_main->settingsWindow(FeatureCode::Alarms));
        m_alarmCheck->setObjectName(QStringLiteral("CheckAlarm1"));
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_main->isActivated());
    }

    void cleanup()
    {
        m_conf.reset();
        m_main = nullptr;
    }

    void devicesAndTheirEntries()
    {
        addThreeDevices();
        QCOMPARE(m_tree->nodeCount(), 4 + 1 + 6 + 1 + 4 + 1);
        QCOMPARE(m_tree->absoluteIndex(m_tree->topLevelItem(1)), 5);
        QCOMPARE(m_tree->absoluteIndex(m_tree->topLevelItem(2)), 12);
        QCOMPARE(m_tree->itemAtAbsoluteIndex(12), m_tree->topLevelItem(2));
        QCOMPARE(m_tree->itemAtAbsoluteIndex(17), nullptr);
        QCOMPARE(m_tree->itemAtAbsoluteIndex(-1), nullptr);
        QStringList texts;
        for (int i = 0; i < m_tree->topLevelItem(1)->childCount(); ++i)
            texts.append(m_tree->topLevelItem(1)->child(i)->text(0));
        QCOMPARE(texts, (QStringList{"Конфигурация", "Каналы", "Контуры", "Сигнализация",
                                     "Программное управление", "Архив данных"}));
        QCOMPARE(DeviceTree::nodeImage(m_tree->topLevelItem(0)), 0);
        QCOMPARE(DeviceTree::nodeImage(m_tree->topLevelItem(1)->child(5)), 8);
        QCOMPARE(m_network->feature(5 + 5)->code, std::uint8_t(FeatureCode::Programs));

        // Texts are cut to 32 characters at creation; the user may type up to 255, all that the
        // network file keeps.
        const int longOne = m_network->addDevice(QString(255, QChar(u'Ж')), DeviceNode());
        QCOMPARE(m_tree->topLevelItem(3)->text(0).size(), 32);
        m_network->setText(longOne, QString(300, QChar(u'Щ')));
        QCOMPARE(m_tree->topLevelItem(3)->text(0).size(), 255);

        m_network->freeRecords();
        QCOMPARE(m_tree->nodeCount(), 18);
        QVERIFY(!m_network->device(0));
        QVERIFY(!m_network->feature(1));
    }

    void selectingDescribesTheDevice()
    {
        addThreeDevices();
        zoomChart();
        release(m_tree->topLevelItem(1));
        QCOMPARE(m_session->selected().index(), 5);
        QCOMPARE(m_session->selected().CurrentDevice(), *m_network->device(5));
        QCOMPARE(m_tableShows, 1);
        QVERIFY(chartRescaled());
        QVERIFY(!m_main->selectionBusy());
        QVERIFY(m_main->dataPanel()->isEnabled());
        QCOMPARE(m_main->chartTitle(), QStringLiteral("Лорван/002/19200"));
        QCOMPARE(configControl<QLineEdit>("EditDevString")->text(),
                 QStringLiteral("Лорван/002/19200"));
        const QStringList panels{"Тип: Лорван",           "Адрес: 002",       "Скорость: 19200",
                                 "Дата выпуска:  00:00 ", "Серийный:  1A02 ", "Версия ПО:  1.05",
                                 "Исполнение:  1111 212"};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(m_main->statusPanel(i)->text(), panels[i]);
        QCOMPARE(configControl<QLabel>("StaticType2")->text(), QStringLiteral("Лорван"));
        QCOMPARE(configControl<QLineEdit>("EditNetAdr")->text(), QStringLiteral("002"));
        QCOMPARE(configControl<QComboBox>("ComboBaudrate1")->currentIndex(), 1);
        QCOMPARE(configControl<QLabel>("StaticSerial2")->text(), QStringLiteral(" 1A02 "));
        QCOMPARE(configControl<QLineEdit>("MaskEditData")->text(), QStringLiteral("00.00.00"));

        // A feature entry selects its device.
        release(m_tree->topLevelItem(2)->child(3));
        QCOMPARE(m_session->selected().index(), 12);
        QCOMPARE(m_session->selected().CurrentDevice().address(), std::uint8_t(5));
        QCOMPARE(m_main->statusPanel(0)->text(), QStringLiteral("Тип: Дулан"));
    }

    void unknownSpeedSelectsNoBaudItem()
    {
        const auto ident = identity(7, 9, 9, 0, 0);
        QCOMPARE(m_session->selected().DescribeDevice(ident),
                 QStringLiteral("Неизвестный/009/Неизвестна"));
        QCOMPARE(configControl<QComboBox>("ComboBaudrate1")->currentIndex(), -1);
        QCOMPARE(m_main->statusPanel(2)->text(), QStringLiteral("Скорость: Неизвестна"));
    }

    void releasesThatDoNotSelect()
    {
        addThreeDevices();
        QTreeWidgetItem *second = m_tree->topLevelItem(1);
        // Beside the entry: on the expand button or far right of the text.
        zoomChart();
        release(second, -8);
        release(second, 190);
        QCOMPARE(m_tableShows, 0);
        QVERIFY(!chartRescaled());
        QCOMPARE(m_session->selected().index(), 0);
        // Other buttons do nothing.
        const QRect r = m_tree->visualItemRect(second);
        QTest::mouseRelease(m_tree->viewport(), Qt::RightButton, {}, r.topLeft() + QPoint(4, 4));
        QCOMPARE(m_tableShows, 0);

        // The selected device again: only the chart scales and the titles refresh.
        m_session->polling().setTitlesRefreshDue(false);
        release(m_tree->topLevelItem(0));
        QCOMPARE(m_tableShows, 0);
        QVERIFY(chartRescaled());
        QVERIFY(m_session->polling().titlesRefreshDue());
    }

    void editorStateFollowsTheDevice()
    {
        addThreeDevices();
        QTreeWidgetItem *second = m_tree->topLevelItem(1);
        QTreeWidgetItem *third = m_tree->topLevelItem(2);

        release(second);
        for (EditorWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), QStringLiteral("Forms/Device-5"));
        m_alarmCheck->setChecked(true);

        release(third); // nothing stored for it yet: the control keeps its value
        QVERIFY(m_alarmCheck->isChecked());
        m_alarmCheck->setChecked(false);

        release(second);
        QVERIFY(m_alarmCheck->isChecked());
        // Name and identity in the configuration window are the selected device's own.
        QCOMPARE(configControl<QLineEdit>("EditDevString")->text(),
                 QStringLiteral("Лорван/002/19200"));
        QCOMPARE(configControl<QLabel>("StaticSerial2")->text(), QStringLiteral(" 1A02 "));
        release(third);
        QVERIFY(!m_alarmCheck->isChecked());

        auto settings = openSettings();
        QCOMPARE(
            settings->value(QStringLiteral("Forms/Device-5/frmAlarm/CheckAlarm1.Checked")).toBool(),
            true);
        QCOMPARE(settings->value(QStringLiteral("Forms/Device-12/frmAlarm/CheckAlarm1.Checked"))
                     .toBool(),
                 false);
        // The very first switch stored the windows under the start section.
        QVERIFY(settings->childGroups().contains(QStringLiteral("Forms")));
        settings->beginGroup(QStringLiteral("Forms"));
        QCOMPARE(settings->childGroups(), (QStringList{"Device-12", "Device-5", "Device1"}));
        settings->endGroup();
        QVERIFY(settings->contains(QStringLiteral("Forms/Device-5/frmConfig/EditDevString.Text")));
        QCOMPARE(settings->value(QStringLiteral("Forms/Device-12/frmConfig/EditDevString.Text"))
                     .toString(),
                 QStringLiteral("Дулан/005/9600"));
    }

    void oneDeviceReselectsButNeverStores()
    {
        addDevice(1, identity(3, 2, 1, 0, 0x1A02));
        m_tree->expandAll();
        QCOMPARE(m_session->network().deviceCount(), 1);
        release(m_tree->topLevelItem(0));
        release(m_tree->topLevelItem(0)->child(1));
        QCOMPARE(m_tableShows, 2);
        QCOMPARE(m_session->selected().CurrentDevice().address(), std::uint8_t(2));
        QVERIFY(!openSettings()->childGroups().contains(QStringLiteral("Forms")));
        for (EditorWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), StatefulWindow::initialSection());
    }

    void aClickDuringASelectionIsRefused()
    {
        addThreeDevices();
        WatchingMessages shown;
        bool nested = false;
        connect(m_main, &MainWindow::chartTitleChanged, this, [&] {
            if (!nested) {
                nested = true;
                release(m_tree->topLevelItem(2)); // delivered while this selection runs
                QVERIFY(m_main->selectionBusy());
            }
        });
        release(m_tree->topLevelItem(1));
        QCOMPARE(m_tableShows, 1);
        QCOMPARE(m_session->selected().index(), 5);
        QCOMPARE(m_session->selected().CurrentDevice().address(), std::uint8_t(2));
        QCOMPARE(m_tree->currentItem(), m_tree->topLevelItem(1));
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Сохраняются параметры девайса "));
        QVERIFY(!m_main->selectionBusy());
        for (EditorWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), QStringLiteral("Forms/Device-5"));
    }

    void aTableErrorLeavesTheSectionsAlone()
    {
        addThreeDevices();
        // Something that is not a measurement table at the third device's table path.
        QFile foreign(m_network->device(12)->tablePath());
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write("not a table\n");
        foreign.close();
        QVERIFY_THROWS_EXCEPTION(TableError, m_main->SelectDevice(12));
        QCOMPARE(m_session->selected().index(), 12);
        QCOMPARE(m_session->selected().CurrentDevice().address(), std::uint8_t(5));
        QVERIFY(m_main->dataPanel()->isEnabled());
        QVERIFY(!m_main->selectionBusy());
        for (EditorWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), StatefulWindow::initialSection());
    }

    void inconsistentStateDoesNotCrash()
    {
        addThreeDevices();
        m_session->selected().select(
            99, m_session->selected()
                    .CurrentDevice()); // beyond the tree, as a damaged file could leave it
        m_main->highlightSelectedNode();
        release(m_tree->topLevelItem(0));
        QCOMPARE(m_session->selected().index(), 0);

        // Released records: the selection keeps the last good copy.
        const DeviceNode before = m_session->selected().CurrentDevice();
        m_network->freeRecords();
        release(m_tree->topLevelItem(2));
        QCOMPARE(m_session->selected().index(), 12);
        QCOMPARE(m_session->selected().CurrentDevice(), before);
        m_tree->setCurrentItem(m_tree->topLevelItem(2)->child(0));
        emit m_tree->itemDoubleClicked(m_tree->currentItem(), 0);
        QVERIFY(!m_main->settingsWindow(FeatureCode::Config)->isVisible());
    }

    void doubleClickOpensTheFeaturesWindow_data()
    {
        QTest::addColumn<bool>("buttonDown");
        QTest::addColumn<bool>("timerRuns");
        QTest::addColumn<bool>("opens");
        QTest::newRow("polling off") << false << false << true;
        QTest::newRow("button down") << true << false << false;
        QTest::newRow("timer running") << false << true << false;
    }

    void doubleClickOpensTheFeaturesWindow()
    {
        QFETCH(bool, buttonDown);
        QFETCH(bool, timerRuns);
        QFETCH(bool, opens);
        addThreeDevices();
        m_main->command(QStringLiteral("butEnableCycleReqDev"))->setChecked(buttonDown);
        if (timerRuns)
            m_session->polling().VrTimer1()->start(); // never advanced: it stays running
        QWidget *archive = m_main->settingsWindow(FeatureCode::Archive);
        archive->move(40, 30);
        QTreeWidgetItem *entry = m_tree->topLevelItem(1)->child(5); // "Архив данных"
        m_tree->setCurrentItem(entry);
        const QRect r = m_tree->visualItemRect(entry);
        const QPoint onText = r.topLeft() + QPoint(4, 4);
        QTest::mousePress(m_tree->viewport(), Qt::LeftButton, {}, onText);
        QTest::mouseDClick(m_tree->viewport(), Qt::LeftButton, {}, onText);
        QCOMPARE(m_network->feature(5 + 6)->opened, std::uint8_t(1));
        QCOMPARE(archive->isVisible(), opens);
        QCOMPARE(archive->pos(), QPoint(40, 30)); // shown where it was
        m_session->polling().VrTimer1()->stop();

        // A device entry opens nothing.
        m_tree->setCurrentItem(m_tree->topLevelItem(0));
        emit m_tree->itemDoubleClicked(m_tree->topLevelItem(0), 0);
        QVERIFY(!m_main->settingsWindow(FeatureCode::Config)->isVisible());
    }

    // Dotted lines join the entries: a leaf entry's indentation is drawn on, not left blank.
    void entriesAreJoinedByLines()
    {
        addThreeDevices();
        const QImage shot = m_tree->viewport()->grab().toImage();
        const QColor base = m_tree->palette().color(QPalette::Base);
        for (QTreeWidgetItem *leaf :
             {m_tree->topLevelItem(0)->child(1), m_tree->topLevelItem(1)->child(5)}) {
            const QRect row = m_tree->visualItemRect(leaf);
            const int own = m_tree->indentation() + m_tree->indentation() / 2;
            int drawn = 0;
            for (int y = row.top(); y <= row.bottom(); ++y)
                drawn += QColor(shot.pixel(own, y)) != base;
            QVERIFY2(drawn >= row.height() / 4, qPrintable(leaf->text(0)));
        }
    }

    void inPlaceEditNamesTheDevice()
    {
        addThreeDevices();
        QTreeWidgetItem *first = m_tree->topLevelItem(0);
        m_tree->setCurrentItem(first);
        m_tree->editItem(first);
        auto *editor = m_tree->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        QCOMPARE(editor->maxLength(), 255); // all that the network file can keep
        editor->setText(QStringLiteral("Печь №1"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(first->text(0), QStringLiteral("Печь №1"));
        QCOMPARE(m_network->entry(0).text, QStringLiteral("Печь №1"));
        QTRY_COMPARE(configControl<QLineEdit>("EditDevString")->text(), QStringLiteral("Печь №1"));
        QCOMPARE(m_main->chartTitle(), QString()); // no selection ran

        // Editing a settings entry leaves the name alone.
        QTreeWidgetItem *entry = first->child(0);
        m_tree->setCurrentItem(entry);
        m_tree->editItem(entry);
        editor = m_tree->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->setText(QStringLiteral("другое"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(entry->text(0), QStringLiteral("другое"));
        QCOMPARE(configControl<QLineEdit>("EditDevString")->text(), QStringLiteral("Печь №1"));
    }

    void refreshReadsTheSelectedIdentity_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("speedCode");
        QTest::addColumn<bool>("refreshed");
        QTest::newRow("two devices") << 2 << 2 << 1 << true;
        QTest::newRow("fast device") << 3 << 1 << 4 << true;
        QTest::newRow("unknown code talks at 9600") << 2 << 5 << 7 << true;
        QTest::newRow("only one device") << 1 << 2 << 1 << false;
        QTest::newRow("silent address") << 2 << 9 << 0 << false;
    }

    void refreshReadsTheSelectedIdentity()
    {
        QFETCH(int, devices);
        QFETCH(int, address);
        QFETCH(int, speedCode);
        QFETCH(bool, refreshed);
        for (int i = 1; i <= devices; ++i)
            addDevice(i, identity(3, 20 + i, 0, 0, 0));
        DeviceNode current;
        current.setPortNumber(1);
        current.identity()[identity::kAddress] = std::uint8_t(address);
        current.identity()[identity::kSpeedCode] = std::uint8_t(speedCode);
        m_session->selected().CurrentDevice() = current;
        m_session->line().port.setPortNum(1);
        m_session->RefreshCurrentIdentity();
        QCOMPARE(m_session->polling().TimerUpdateData()->isActive(), refreshed);
        if (!refreshed) {
            QCOMPARE(m_session->selected().CurrentDevice(), current);
            return;
        }
        QByteArray simIdentity;
        QVERIFY(m_sim.withDevice(1, std::uint8_t(address), [&](devsim::SimDevice &d) {
            simIdentity = d.holding().left(18);
        }));
        const auto got = m_session->selected().CurrentDevice().identity();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(got.data()), 12), simIdentity.left(12));
        QCOMPARE(m_main->statusPanel(1)->text(),
                 QStringLiteral("Адрес: %1").arg(address, 3, 10, QChar(u'0')));
        // The link's diagnostic field shows the reply as it came.
        const QString reply = m_main->findChild<QLineEdit *>(QStringLiteral("Edit8"))->text();
        QVERIFY2(reply.startsWith((QStringLiteral(":%1").arg(address, 2, 16, QChar(u'0')) +
                                   QStringLiteral("0312"))),
                 qPrintable(reply));
        QVERIFY(m_main->messageLog()->lines().isEmpty()); // a direct read writes no log line
    }

    void accessOperationsLogIntoTheWindow()
    {
        addThreeDevices();
        release(m_tree->topLevelItem(1)); // address 2 at 19200
        m_session->line().port.setBaudrate(Baudrate::br115200);
        QCOMPARE(m_session->line().access.ReadSettings(0, 18), 0);
        QCOMPARE(m_session->line().port.baudrate(), Baudrate::br19200);
        MessageLog *log = m_main->messageLog();
        QCOMPARE(log->count(), 1);
        QVERIFY(
            log->itemText(0).endsWith(QStringLiteral(" Чтение регистров настройки  (0x0000,9)")));
        QVERIFY(!log->isFailedLine(0));

        release(m_tree->topLevelItem(0)); // address 1 at 115200, told to be elsewhere
        m_session->selected().CurrentDevice().identity()[identity::kAddress] = 77;
        QCOMPARE(m_session->line().access.ReadFlags(1, 5), 999);
        QCOMPARE(log->count(), 2);
        QCOMPARE(log->currentIndex(), 1);
        QVERIFY(log->itemText(1).endsWith(QStringLiteral(" Ошибка чтения флагов: 999 (0x0001,5)")));
        QVERIFY(log->isFailedLine(1));
    }
};

QTEST_MAIN(TestDeviceTree)
#include "tst_devicetree.moc"
