#include "workstationtestenv.h"

#include "device/identity.h"
#include "devsim/devicesimulator.h"
#include "platform/settings.h"
#include "workstation/devicetree.h"
#include "workstation/mainwindow.h"
#include "workstation/messagelog.h"
#include "workstation/program.h"
#include "workstation/statefulwindow.h"

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
    std::unique_ptr<MainWindow> m_main;
    DeviceTree *m_tree = nullptr;
    QCheckBox *m_alarmCheck = nullptr;
    int m_tableShows = 0;
    int m_rescales = 0;

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

    DeviceTreeItem *addDevice(int number, const std::array<std::uint8_t, 18> &ident)
    {
        DeviceTreeItem *item = m_tree->addDevice(
            describeIdentity(ident).description(),
            DeviceNode::found(number, 1, ident, QStringLiteral("/t/ArcData%1.dbf").arg(number)));
        m_tree->addFeatures(item);
        m_main->setDeviceCount(m_main->deviceCount() + 1);
        return item;
    }

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
        return m_main->windows().config->findChild<T *>(QLatin1String(name));
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
        m_main = createConfiguratorWindows();
        m_tree = m_main->tree();
        m_tableShows = m_rescales = 0;
        m_main->showDeviceTable = [this] { ++m_tableShows; };
        m_main->autoScaleChart = [this] { ++m_rescales; };
        // A stored control of the alarm window (its other controls come with the alarm editor).
        m_alarmCheck = new QCheckBox(m_main->windows().alarm);
        m_alarmCheck->setObjectName(QStringLiteral("CheckAlarm1"));
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QTRY_VERIFY(m_main->isActivated());
    }

    void cleanup() { m_main.reset(); }

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
        QCOMPARE(DeviceTree::asNode(m_tree->topLevelItem(1)->child(4))->feature->code,
                 std::uint8_t(FeatureCode::Programs));

        // Texts are cut at creation only; the user may type longer ones.
        DeviceTreeItem *longOne = m_tree->addDevice(QString(255, QChar(u'Ж')), DeviceNode());
        QCOMPARE(longOne->text(0).size(), 32);
        longOne->setText(0, QString(300, QChar(u'Щ')));
        QCOMPARE(longOne->text(0).size(), 300);

        m_main->FreeNodeRecords();
        QCOMPARE(m_tree->nodeCount(), 18);
        QVERIFY(!DeviceTree::asNode(m_tree->topLevelItem(0))->device);
        QVERIFY(!DeviceTree::asNode(m_tree->topLevelItem(0)->child(0))->feature);
    }

    void selectingDescribesTheDevice()
    {
        addThreeDevices();
        release(m_tree->topLevelItem(1));
        QCOMPARE(m_main->selectedIndex(), 5);
        QCOMPARE(m_main->CurrentDevice(), *DeviceTree::asNode(m_tree->topLevelItem(1))->device);
        QCOMPARE(m_tableShows, 1);
        QCOMPARE(m_rescales, 1);
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
        QCOMPARE(m_main->selectedIndex(), 12);
        QCOMPARE(m_main->CurrentDevice().address(), std::uint8_t(5));
        QCOMPARE(m_main->statusPanel(0)->text(), QStringLiteral("Тип: Дулан"));
    }

    void unknownSpeedSelectsNoBaudItem()
    {
        const auto ident = identity(7, 9, 9, 0, 0);
        QCOMPARE(m_main->DescribeDevice(ident), QStringLiteral("Неизвестный/009/Неизвестна"));
        QCOMPARE(configControl<QComboBox>("ComboBaudrate1")->currentIndex(), -1);
        QCOMPARE(m_main->statusPanel(2)->text(), QStringLiteral("Скорость: Неизвестна"));
    }

    void releasesThatDoNotSelect()
    {
        addThreeDevices();
        QTreeWidgetItem *second = m_tree->topLevelItem(1);
        // Beside the entry: on the expand button or far right of the text.
        release(second, -8);
        release(second, 190);
        QCOMPARE(m_tableShows, 0);
        QCOMPARE(m_rescales, 0);
        QCOMPARE(m_main->selectedIndex(), 0);
        // Other buttons do nothing.
        const QRect r = m_tree->visualItemRect(second);
        QTest::mouseRelease(m_tree->viewport(), Qt::RightButton, {}, r.topLeft() + QPoint(4, 4));
        QCOMPARE(m_tableShows, 0);

        // The selected device again: only the chart scales and the titles refresh.
        m_main->setTitlesRefreshDue(false);
        release(m_tree->topLevelItem(0));
        QCOMPARE(m_tableShows, 0);
        QCOMPARE(m_rescales, 1);
        QVERIFY(m_main->titlesRefreshDue());
    }

    void editorStateFollowsTheDevice()
    {
        addThreeDevices();
        QTreeWidgetItem *second = m_tree->topLevelItem(1);
        QTreeWidgetItem *third = m_tree->topLevelItem(2);

        release(second);
        for (StatefulWindow *w : m_main->statefulWindows())
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
        QCOMPARE(m_main->deviceCount(), 1);
        release(m_tree->topLevelItem(0));
        release(m_tree->topLevelItem(0)->child(1));
        QCOMPARE(m_tableShows, 2);
        QCOMPARE(m_main->CurrentDevice().address(), std::uint8_t(2));
        QVERIFY(!openSettings()->childGroups().contains(QStringLiteral("Forms")));
        for (StatefulWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), StatefulWindow::initialSection());
    }

    void aClickDuringASelectionIsRefused()
    {
        addThreeDevices();
        WatchingMessages shown;
        bool nested = false;
        m_main->showDeviceTable = [&] {
            ++m_tableShows;
            if (!nested) {
                nested = true;
                release(m_tree->topLevelItem(2)); // delivered while this selection runs
                QVERIFY(m_main->selectionBusy());
            }
        };
        release(m_tree->topLevelItem(1));
        QCOMPARE(m_tableShows, 1);
        QCOMPARE(m_main->selectedIndex(), 5);
        QCOMPARE(m_main->CurrentDevice().address(), std::uint8_t(2));
        QCOMPARE(m_tree->currentItem(), m_tree->topLevelItem(1));
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Сохраняются параметры девайса "));
        QVERIFY(!m_main->selectionBusy());
        for (StatefulWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), QStringLiteral("Forms/Device-5"));
    }

    void aTableErrorLeavesTheSectionsAlone()
    {
        addThreeDevices();
        m_main->showDeviceTable = [] { throw std::runtime_error("table"); };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, m_main->SelectDevice(m_tree->topLevelItem(2)));
        QCOMPARE(m_main->selectedIndex(), 12);
        QCOMPARE(m_main->CurrentDevice().address(), std::uint8_t(5));
        QVERIFY(m_main->dataPanel()->isEnabled());
        QVERIFY(!m_main->selectionBusy());
        for (StatefulWindow *w : m_main->statefulWindows())
            QCOMPARE(w->section(), StatefulWindow::initialSection());
    }

    void inconsistentStateDoesNotCrash()
    {
        addThreeDevices();
        m_main->setSelectedIndex(99); // beyond the tree, as a damaged file could leave it
        m_main->highlightSelectedNode();
        release(m_tree->topLevelItem(0));
        QCOMPARE(m_main->selectedIndex(), 0);

        // Released records: the selection keeps the last good copy.
        const DeviceNode before = m_main->CurrentDevice();
        m_main->FreeNodeRecords();
        release(m_tree->topLevelItem(2));
        QCOMPARE(m_main->selectedIndex(), 12);
        QCOMPARE(m_main->CurrentDevice(), before);
        m_tree->setCurrentItem(m_tree->topLevelItem(2)->child(0));
        emit m_tree->itemDoubleClicked(m_tree->currentItem(), 0);
        QVERIFY(!m_main->windows().config->isVisible());
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
            m_main->VrTimer1()->start(100000);
        QWidget *archive = m_main->windows().archData;
        archive->move(40, 30);
        auto *entry = DeviceTree::asNode(m_tree->topLevelItem(1)->child(5)); // "Архив данных"
        m_tree->setCurrentItem(entry);
        const QRect r = m_tree->visualItemRect(entry);
        const QPoint onText = r.topLeft() + QPoint(4, 4);
        QTest::mousePress(m_tree->viewport(), Qt::LeftButton, {}, onText);
        QTest::mouseDClick(m_tree->viewport(), Qt::LeftButton, {}, onText);
        QCOMPARE(entry->feature->opened, std::uint8_t(1));
        QCOMPARE(archive->isVisible(), opens);
        QCOMPARE(archive->pos(), QPoint(40, 30)); // shown where it was
        m_main->VrTimer1()->stop();

        // A device entry opens nothing.
        m_tree->setCurrentItem(m_tree->topLevelItem(0));
        emit m_tree->itemDoubleClicked(m_tree->topLevelItem(0), 0);
        QVERIFY(!m_main->windows().config->isVisible());
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
        m_main->setDeviceCount(devices);
        DeviceNode current;
        current.setPortNumber(1);
        current.identity()[identity::kAddress] = std::uint8_t(address);
        current.identity()[identity::kSpeedCode] = std::uint8_t(speedCode);
        m_main->CurrentDevice() = current;
        m_main->commPort().setPortNum(1);
        m_main->RefreshCurrentIdentity();
        QCOMPARE(m_main->TimerUpdateData()->isActive(), refreshed);
        if (!refreshed) {
            QCOMPARE(m_main->CurrentDevice(), current);
            return;
        }
        QByteArray simIdentity;
        QVERIFY(m_sim.withDevice(1, std::uint8_t(address), [&](devsim::SimDevice &d) {
            simIdentity = d.holding().left(18);
        }));
        const auto got = m_main->CurrentDevice().identity();
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
        m_main->commPort().setBaudrate(Baudrate::br115200);
        QCOMPARE(m_main->deviceAccess().ReadSettings(0, 18), 0);
        QCOMPARE(m_main->commPort().baudrate(), Baudrate::br19200);
        MessageLog *log = m_main->messageLog();
        QCOMPARE(log->count(), 1);
        QVERIFY(
            log->itemText(0).endsWith(QStringLiteral(" Чтение регистров настройки  (0x0000,9)")));
        QVERIFY(!log->isFailedLine(0));

        release(m_tree->topLevelItem(0)); // address 1 at 115200, told to be elsewhere
        m_main->CurrentDevice().identity()[identity::kAddress] = 77;
        QCOMPARE(m_main->deviceAccess().ReadFlags(1, 5), 999);
        QCOMPARE(log->count(), 2);
        QCOMPARE(log->currentIndex(), 1);
        QVERIFY(log->itemText(1).endsWith(QStringLiteral(" Ошибка чтения флагов: 999 (0x0001,5)")));
        QVERIFY(log->isFailedLine(1));
    }
};

QTEST_MAIN(TestDeviceTree)
#include "tst_devicetree.moc"
