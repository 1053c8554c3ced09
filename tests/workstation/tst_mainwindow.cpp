#include "tests/support/configuratortestenv.h"
#include "tests/support/workstationtestenv.h"

#include "device/identity.h"
#include "link/porterror.h"
#include "platform/atomicfile.h"
#include "platform/cp1251.h"
#include "platform/datafolder.h"
#include "platform/settings.h"
#include "windowkit/editorwindow.h"
#include "workstation/application.h"
#include "workstation/devicetree.h"
#include "workstation/helpdocument.h"
#include "workstation/linestatswindow.h"
#include "workstation/mainwindow.h"
#include "workstation/messagelog.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QtTest>

// Start-up, commands, message log and the close sequence of the configurator's main window.
class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // Stands in for the network file's reader and writer.
    struct FileService : NetworkFileService
    {
        std::function<bool(QIODevice &)> load;
        std::function<void()> save;
        bool loadNetworkFile(QIODevice &file) override { return load && load(file); }
        void saveTreeCommand() override
        {
            if (save)
                save();
        }
        void loadTreeCommand() override {}
    };

    std::unique_ptr<Configurator> m_conf;
    MainWindow *m_main = nullptr;
    Session *m_session = nullptr;
    FileService m_files;
    QList<QUrl> m_opened;

    void startWindows()
    {
        m_conf = std::make_unique<Configurator>(systemClock());
        m_main = m_conf->main.get();
        m_session = &m_conf->session;
    }

    void showAndActivate()
    {
        m_main->show();
        QTRY_VERIFY(m_main->isActivated());
    }

    QString reportPath() const { return dataFilePath(QStringLiteral("report.log")); }

    void addDevice(std::uint8_t address)
    {
        std::uint8_t ident[18] = {105, 3, 5, 3, 0x34, 0x12, address, 1};
        DeviceNetwork &network = m_session->network();
        network.addFeatures(network.addDevice(describeIdentity(ident).description(),
                                              DeviceNode::found(1, 1, ident, QString())));
    }

public slots:
    void openUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        isolateWorkstationTest(m_dir);
    }

    void init()
    {
        openSettings()->clear();
        QFile::remove(reportPath());
    }

    void cleanup()
    {
        m_conf.reset();
        m_main = nullptr;
        m_files = {};
    }

    void unhandledErrorsReachTheGlobalDisplay_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("port") << 0 << "Specified device not found (/dev/ttyS6).";
        QTest::newRow("link") << 1 << "Ошибка-ReadHoldRegs: 5 addr: 0x0 str:  ofs: 0000";
        QTest::newRow("file") << 2 << "/tmp/сеть.ini: Permission denied";
    }

    void unhandledErrorsReachTheGlobalDisplay()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        WatchingMessages shown;
        QTimer::singleShot(0, this, [kind, text] {
            if (kind == 0)
                throw PortError(text);
            if (kind == 1)
                throw ESendThreadError(text);
            throw std::runtime_error(text.toStdString());
        });
        QTRY_COMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, text);
        QCOMPARE(shown.shown[0].icon, MessageIcon::Error);
        QCOMPARE(shown.shown[0].caption, QString()); // the application's title
        // The program goes on with the next event.
        bool next = false;
        QTimer::singleShot(0, this, [&next] { next = true; });
        QTRY_VERIFY(next);
    }

    void firstStartCreatesReadOnLoad()
    {
        WatchingMessages shown;
        startWindows();
        QVERIFY(!openSettings()->contains(QStringLiteral("ReadOnLoad")));
        showAndActivate();
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")),
                 QVariant(QStringLiteral("0")));
        QVERIFY(shown.shown.isEmpty());
        QVERIFY(!m_main->command(QStringLiteral("StartOnLoad"))->isChecked());
        QCOMPARE(m_main->tree()->nodeCount(), 0);

        // Later activations repeat nothing.
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        m_main->showMinimized();
        m_main->showNormal();
        m_main->FirstActivation();
        QTest::qWait(20);
        QVERIFY(shown.shown.isEmpty());
    }

    void reloadWithoutAFile_data()
    {
        QTest::addColumn<bool>("setTreeFile");
        QTest::addColumn<QString>("treeFile");
        QTest::newRow("deleted file") << true << m_dir.filePath("gone.ini");
        QTest::newRow("empty name") << true << QString();
        QTest::newRow("no value") << false << QString();
    }

    void reloadWithoutAFile()
    {
        QFETCH(bool, setTreeFile);
        QFETCH(QString, treeFile);
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        if (setTreeFile)
            openSettings()->setValue(QStringLiteral("TreeFile"), treeFile);
        WatchingMessages shown;
        QList<bool> enabledWhenShown;
        shown.onShow = [&](const MessageRequest &) {
            enabledWhenShown.append(m_main->isEnabled());
        };
        startWindows();
        showAndActivate();
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Ошибка чтения файла настроек сети"));
        QCOMPARE(shown.shown[0].caption, QStringLiteral("Чтение файла настроек"));
        QCOMPARE(shown.shown[0].icon, MessageIcon::Error);
        QCOMPARE(enabledWhenShown, QList<bool>{true});
        QVERIFY(m_main->command(QStringLiteral("StartOnLoad"))->isChecked());
        QCOMPARE(m_main->tree()->nodeCount(), 0);
    }

    void reloadEnablesOnlyTheEditorButtons()
    {
        QFile file(m_dir.filePath("net.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("tree");
        file.close();
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        openSettings()->setValue(QStringLiteral("TreeFile"), file.fileName());
        WatchingMessages shown;
        startWindows();
        QByteArray seen;
        m_files.load = [&](QIODevice &in) {
            seen = in.readAll();
            addDevice(1);
            addDevice(2);
            m_session->selected().select(5, *m_session->network().device(5));
            return true;
        };
        m_session->setNetworkFileService(&m_files);
        showAndActivate();
        QVERIFY(shown.shown.isEmpty());
        QCOMPARE(seen, QByteArray("tree"));
        QCOMPARE(m_main->tree()->currentItem(), m_main->tree()->itemAtAbsoluteIndex(5));
        for (const char *name :
             {"butShowFormConfig", "butShowFormChannelsConfig", "butShowFormCountursConfig",
              "butShowFormAlarmsConfig", "butShowFormProgramControl", "butShowFormArchData"})
            QVERIFY2(m_main->command(QLatin1String(name))->isEnabled(), name);
        QVERIFY(!m_main->command(QStringLiteral("butEnableCycleReqDev"))->isEnabled());
        QVERIFY(!m_main->command(QStringLiteral("butNetworkParams"))->isEnabled());
        QVERIFY(!m_main->command(QStringLiteral("mnuNetworkParam"))->isEnabled());
        QVERIFY(
            !m_main->findChild<QMenu *>(QStringLiteral("mnuOptions"))->menuAction()->isEnabled());
    }

    void reloadOfAFileThisBuildCannotRead()
    {
        QFile file(m_dir.filePath("other.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        openSettings()->setValue(QStringLiteral("ReadOnLoad"), 1);
        openSettings()->setValue(QStringLiteral("TreeFile"), file.fileName());
        WatchingMessages shown;
        startWindows();
        showAndActivate();
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Ошибка чтения файла дерева устройств"));
        QCOMPARE(m_main->tree()->nodeCount(), 0);
    }

    void tableStorageThatCannotStart()
    {
        // The data folder would have to live below a plain file.
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("LORVAN_HOME", blocker.fileName().toLocal8Bit() + "/data");
        WatchingMessages shown;
        startWindows();
        showAndActivate();
        qputenv("LORVAN_HOME", m_dir.filePath("data").toLocal8Bit());
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text,
                 QStringLiteral("Ошибка инициализации BDE. Установите программу повторно."));
        QCOMPARE(shown.shown[0].icon, MessageIcon::None);
        QVERIFY(m_main->isEnabled());
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")).toInt(), 0);
    }

    void frameAndCaption()
    {
        startWindows();
        m_main->show();
        QCOMPARE(m_main->windowTitle(), QStringLiteral("Лорван"));
        QCOMPARE(m_main->width(), 721);
        QCOMPARE(m_main->height() - m_main->menuBar()->height(), 493);
        QCOMPARE(m_main->minimumSize(), m_main->maximumSize());
        QVERIFY(!(m_main->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(m_main->findChild<QLabel *>(QStringLiteral("PanelDevices"))->text(),
                 QStringLiteral("  Устройства"));
        const auto panels =
            QStringList{"Тип: ",      "Адрес: ",     "Скорость: ",  "Дата выпуска: ",
                        "Серийный: ", "Версия ПО: ", "Исполнение: "};
        for (int i = 0; i < panels.size(); ++i)
            QCOMPARE(m_main->statusPanel(i)->text(), panels[i]);

        // The secondary windows exist, hidden, with their captions.
        const QList<QPair<QString, QString>> windows = {
            {"frmConfig", "Конфигурация"},
            {"frmFindDevices", "Поиск устройств"},
            {"frmProgramControl", "Программное управление"},
            {"frmArchData", "Просмотр архива"},
            {"frmAlarm", "Сигнализация"},
            {"frmChannelConfig", "Настройка каналов"},
            {"frmContursConfig", "Настройка контуров"},
            {"frmNetworkConfig", "Настройки сети"},
            {"frmAbout", "О программе"},
            {"frmLineStats", "Статистика обмена"},
            {"frmPortAssignment", "Назначение портов"},
        };
        const QObjectList children = m_main->children();
        QStringList order;
        for (QObject *child : children) {
            if (auto *w = qobject_cast<QWidget *>(child);
                w && w->isWindow() && !qobject_cast<QMenu *>(w))
                order.append(w->objectName());
        }
        QStringList expectedOrder;
        for (const auto &[name, caption] : windows) {
            expectedOrder.append(name);
            auto *w = m_main->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(w->windowTitle(), caption);
            QVERIFY(!w->isVisible());
        }
        QCOMPARE(order, expectedOrder);
        QCOMPARE(m_main->findChild<QWidget *>(QStringLiteral("frmNetworkConfig"))->size(),
                 QSize(493, 338));
        // The scan window's creation set the link up: 8 data bits, no parity, 2 stop bits.
        QCOMPARE(m_session->line().port.stopbits(), Stopbits::sb2);
        QCOMPARE(m_session->line().port.PortNum(), 1);
        QCOMPARE(m_session->line().port.baudrate(), Baudrate::br9600);
        QCOMPARE(m_session->line().link.ResponseWait(), 100);
    }

    // Which file the help command opens, by which files exist: "work" is the user's document in
    // the working folder, "installed" the package's manual, "source" the source tree's.
    void helpLookupOrder_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("opened");
        const QString installed = "/usr/bin";
        const QString built = "/src/build/app";
        QTest::newRow("none: the document, for the desktop to report")
            << installed << QStringList{} << "work";
        QTest::newRow("the document before the manual")
            << installed << QStringList{"work", "installed"} << "work";
        QTest::newRow("installed manual") << installed << QStringList{"installed"} << "installed";
        QTest::newRow("source manual not used when installed")
            << installed << QStringList{"source"} << "work";
        QTest::newRow("build tree: installed before source")
            << built << QStringList{"installed", "source"} << "installed";
        QTest::newRow("build tree: source manual") << built << QStringList{"source"} << "source";
        QTest::newRow("beside the build tree is not in it")
            << "/src/build2/app" << QStringList{"source"} << "work";
    }
    void helpLookupOrder()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, existing);
        QFETCH(QString, opened);
        const HelpPlaces places{"/home/u/work", program, "/src/build", "/src/tree"};
        const QMap<QString, QString> files{
            {"work", "/home/u/work/ЛорванHelp.doc"},
            {"installed", QDir::cleanPath(program + "/../share/doc/lorvan/manual/index.html")},
            {"source", "/src/tree/docs/manual/index.html"},
        };
        const QString found = helpDocument(places, [&](const QString &path) {
            return std::any_of(existing.cbegin(), existing.cend(),
                               [&](const QString &key) { return files.value(key) == path; });
        });
        QCOMPARE(found, files.value(opened));
    }

    // F1 from the build tree, with no document in the working folder, opens the source tree's
    // manual.
    void helpCommandOpensTheManual()
    {
        startWindows();
        m_opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        m_main->command(QStringLiteral("mnuShowHelpDoc"))->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(QFileInfo::exists(m_opened[0].toLocalFile()));
        QCOMPARE(QFileInfo(m_opened[0].toLocalFile()).canonicalFilePath(),
                 QFileInfo(QStringLiteral(LORVAN_SOURCE_DIR "/docs/manual/index.html"))
                     .canonicalFilePath());
    }

    void commandsAtStart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("hintOrShortcut");
        QTest::newRow("load tree")
            << "butLoadTree" << true << "Загрузить дерево устройств из файла";
        QTest::newRow("find") << "butFindDevices" << true << "Кнопка поиска устройств в сети";
        QTest::newRow("network") << "butNetworkParams" << false
                                 << "Редактирование параметров устройств в сети";
        QTest::newRow("polling") << "butEnableCycleReqDev" << false
                                 << "Вкл./Выкл. Циклического опроса устройств в сети";
        QTest::newRow("config") << "butShowFormConfig" << false << "Окно настроек конфигурации";
        QTest::newRow("channels") << "butShowFormChannelsConfig" << false
                                  << "Окно настроек каналов";
        QTest::newRow("loops") << "butShowFormCountursConfig" << false << "Окно настроек контуров";
        QTest::newRow("alarms") << "butShowFormAlarmsConfig" << false
                                << "Окно настроек сигнализации";
        QTest::newRow("programs") << "butShowFormProgramControl" << false
                                  << "Окно программного управления";
        QTest::newRow("archive") << "butShowFormArchData" << false
                                 << "Окно внутреннего архива данных устройства";
        QTest::newRow("help") << "butShowHelpDoc" << true << "Справка";
        QTest::newRow("menu load") << "mnuLoadTree" << true << "Ctrl+N";
        QTest::newRow("menu exit") << "mnuExitProg" << true << "Ctrl+Q";
        QTest::newRow("menu find") << "mnuFindDevice" << true << "Ctrl+F";
        QTest::newRow("menu network") << "mnuNetworkParam" << false << "Ctrl+P";
        QTest::newRow("menu about") << "mnuAboutProgram" << true << "F2";
        QTest::newRow("menu help") << "mnuShowHelpDoc" << true << "F1";
    }

    void commandsAtStart()
    {
        QFETCH(QString, name);
        QFETCH(bool, enabled);
        QFETCH(QString, hintOrShortcut);
        startWindows();
        QAction *a = m_main->command(name);
        QVERIFY(a);
        QCOMPARE(a->isEnabled(), enabled);
        if (name.startsWith(QLatin1String("but"))) {
            QCOMPARE(a->toolTip(), hintOrShortcut);
            QVERIFY(!a->icon().isNull());
            QVERIFY(!a->icon().pixmap(24).isNull());
        } else {
            QCOMPARE(a->shortcut().toString(), hintOrShortcut);
        }
    }

    void toolbarOrderAndSeparators()
    {
        startWindows();
        auto *bar = m_main->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        QStringList order;
        for (QAction *a : bar->actions())
            order.append(a->isSeparator() ? QStringLiteral("|") : a->objectName());
        QCOMPARE(order, (QStringList{"butLoadTree", "butFindDevices", "butNetworkParams",
                                     "butEnableCycleReqDev", "|", "butShowFormConfig",
                                     "butShowFormChannelsConfig", "butShowFormCountursConfig",
                                     "butShowFormAlarmsConfig", "butShowFormProgramControl",
                                     "butShowFormArchData", "|", "butShowHelpDoc"}));
        QVERIFY(m_main->command(QStringLiteral("butEnableCycleReqDev"))->isCheckable());
    }

    void everyToolbarButtonShowsAPicture()
    {
        startWindows();
        addDevice(1);
        m_main->tree()->expandAll();
        m_main->messageLog()->appendLine(QStringLiteral("09.12.2026 08:00:00 Чтение регистров "
                                                        "настройки  (0x0000,9)"),
                                         false);
        showAndActivate();
        const std::uint8_t widest[18] = {255, 9, 0xDD, 0xDD, 0xDD, 0xDD, 127, 9, 0, 0, 0, 0xFF};
        m_session->selected().DescribeDevice(widest);
        const QImage shot = m_main->grab().toImage();
        if (qEnvironmentVariableIsSet("LORVAN_SHOT_DIR"))
            shot.save(qEnvironmentVariable("LORVAN_SHOT_DIR") + QStringLiteral("/mainwindow.png"));
        auto *bar = m_main->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        for (QAction *a : bar->actions()) {
            if (a->isSeparator())
                continue;
            QWidget *button = bar->widgetForAction(a);
            QVERIFY(button->isVisible());
            const QRect r(button->mapTo(m_main, QPoint(0, 0)), button->size());
            const QImage picture = shot.copy(r.adjusted(4, 4, -4, -4));
            QSet<QRgb> colours;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    colours.insert(picture.pixel(x, y));
            QVERIFY2(colours.size() > 4, qPrintable(a->objectName()));
        }
    }

    // Hovering a button shows its hint as a tool tip; the status bar keeps the identity.
    void hoverKeepsTheIdentityPanels()
    {
        startWindows();
        showAndActivate();
        auto *bar = m_main->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        for (QAction *a : bar->actions()) {
            if (a->isSeparator())
                continue;
            QVERIFY(!a->toolTip().isEmpty());
            a->showStatusText(bar->widgetForAction(a));
            QVERIFY2(m_main->statusBar()->currentMessage().isEmpty(), qPrintable(a->objectName()));
            for (int i = 0; i < 7; ++i)
                QVERIFY2(m_main->statusPanel(i)->isVisible(), qPrintable(a->objectName()));
        }
    }

    void findDevicesOpensCentredAndEnablesCommands()
    {
        startWindows();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        m_main->command(QStringLiteral("butFindDevices"))->trigger();
        QWidget *find = m_main->windows().findDevices;
        QVERIFY(find->isVisible());
        const int top = m_main->menuBar()->height();
        const QPoint clientCentre =
            m_main->mapToGlobal(QPoint(0, top)) + QPoint(721 / 2, (m_main->height() - top) / 2);
        QCOMPARE(find->pos(), clientCentre - QPoint(find->width() / 2, find->height() / 2));
        for (const char *name : {"butNetworkParams", "mnuNetworkParam", "butEnableCycleReqDev",
                                 "butShowFormConfig", "butShowFormArchData"})
            QVERIFY2(m_main->command(QLatin1String(name))->isEnabled(), name);
        QVERIFY(
            m_main->findChild<QMenu *>(QStringLiteral("mnuOptions"))->menuAction()->isEnabled());
    }

    void startOnLoadNeedsASavedFile()
    {
        WatchingMessages shown;
        startWindows();
        QAction *item = m_main->command(QStringLiteral("StartOnLoad"));
        item->trigger(); // no file saved yet
        QVERIFY(!item->isChecked());
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")).toInt(), 0);
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text,
                 QStringLiteral("Ошибка создания файла настроек.\r\nСохраните настройки сети."));
        QCOMPARE(shown.shown[0].caption, QStringLiteral("Ощибка создания файла"));

        openSettings()->setValue(QStringLiteral("TreeFile"), m_dir.filePath("net.ini"));
        item->trigger();
        QVERIFY(item->isChecked());
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")).toInt(), 1);
        item->trigger();
        QCOMPARE(openSettings()->value(QStringLiteral("ReadOnLoad")).toInt(), 0);
        QCOMPARE(shown.shown.size(), 1);
    }

    void logKeepsEveryLineAndShowsTheNewest()
    {
        startWindows();
        MessageLog *log = m_main->messageLog();
        QCOMPARE(log->objectName(), QStringLiteral("ComboLog"));
        QCOMPARE(log->maxVisibleItems(), 8);
        log->appendLine(QStringLiteral("первая"), false);
        log->appendLine(QStringLiteral("вторая"), true);
        QCOMPARE(log->currentIndex(), 1);
        QVERIFY(log->isFailedLine(1));
        QVERIFY(!log->isFailedLine(0));
        QVERIFY(log->itemIcon(0).cacheKey() != log->itemIcon(1).cacheKey());
        log->setCurrentIndex(0);
        log->appendLine(QStringLiteral("третья"), false);
        QCOMPARE(log->currentIndex(), 2);
        QCOMPARE(log->lines(), (QStringList{"первая", "вторая", "третья"}));
    }

    // Each line is on the disk as soon as it is appended, in UTF-8; the journal never grows past
    // its bound and the rotated file plus the current one hold the newest lines in order.
    void logJournal()
    {
        startWindows();
        MessageLog *log = m_main->messageLog();
        QCOMPARE(log->journalPath(), dataFilePath(QStringLiteral("journal.log")));
        const QString path = m_dir.filePath("journal/j.log");
        const auto read = [](const QString &name) {
            QFile f(name);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QFile::remove(path);
        QFile::remove(path + ".1");
        log->setJournal(path, 50);
        QByteArray all;
        for (int i = 0; i < 12; ++i) {
            const QString text = QStringLiteral("Чтение %1").arg(i);
            log->appendLine(text, i % 3 == 0);
            all += (text + QLatin1Char('\n')).toUtf8();
            const QByteArray current = read(path);
            QVERIFY(current.endsWith((text + QLatin1Char('\n')).toUtf8()));
            QVERIFY(current.size() <= 50);
            QVERIFY(all.endsWith(read(path + ".1") + current));
        }
        QVERIFY(!read(path + ".1").isEmpty());

        // Not writable: given up without a word, the log goes on.
        WatchingMessages shown;
        log->setJournal(m_dir.filePath("journal/j.log/under-a-file"));
        log->appendLine(QStringLiteral("Запись"), false);
        QCOMPARE(log->lines().last(), QStringLiteral("Запись"));
        QVERIFY(shown.shown.isEmpty());
    }

    // "Статистика обмена": a row per tree device and one per port for the rest, live while
    // shown; the tree's tool tip sums its device up; saved as CSV; reset.
    void lineStatsWindow()
    {
        startWindows();
        addDevice(1);
        addDevice(2);
        ExchangeStats &stats = m_session->line().stats;
        stats.reset();
        const auto record = [&](int address, ExchangeKind kind, double ms) {
            stats.record({QStringLiteral("COM1"), std::uint8_t(address), 4, kind, 0, ms});
        };
        record(1, ExchangeKind::Good, 9.5);
        record(2, ExchangeKind::NoReply, -1);
        record(2, ExchangeKind::LrcError, -1);
        record(7, ExchangeKind::Good, 3.5); // a scan's probe
        m_main->command(QStringLiteral("mnuLineStats"))->trigger();
        auto *window = m_main->findChild<LineStatsWindow *>(QStringLiteral("frmLineStats"));
        QVERIFY(window && window->isVisible());
        QTableWidget *grid = window->grid();
        QCOMPARE(grid->rowCount(), 3);
        const auto cell = [&](int row, int column) { return grid->item(row, column)->text(); };
        QCOMPARE(cell(0, 2), QStringLiteral("1"));
        QCOMPARE(cell(0, 4), QStringLiteral("1"));
        QCOMPARE(cell(1, 5), QStringLiteral("1"));
        QCOMPARE(cell(1, 6), QStringLiteral("1"));
        QCOMPARE(cell(1, 12), QStringLiteral("100.0"));
        QCOMPARE(cell(2, 2), QStringLiteral("вне дерева"));
        QCOMPARE(cell(2, 14), QStringLiteral("3.5"));
        record(1, ExchangeKind::Exception, 12.0);
        QTRY_COMPARE(cell(0, 3), QStringLiteral("2"));
        QTRY_VERIFY(m_main->tree()->topLevelItem(1)->toolTip(0).contains(
            QStringLiteral("Запросов 2, ответов 0, без ответа 1, ошибок LRC 1")));

        WatchingMessages shown;
        const QString path = m_dir.filePath("stats/line.csv");
        QDir().mkpath(m_dir.filePath("stats"));
        shown.fileAnswers << path;
        window->findChild<QPushButton *>(QStringLiteral("ButtonSaveStats"))->click();
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'));
        QVERIFY(lines[0].startsWith(QStringLiteral("Устройство,Порт,Адрес,Запросов,")));
        QCOMPARE(lines.size(), 5); // header, three rows, the last line's end
        QVERIFY2(lines[1].contains(QStringLiteral(",COM1,1,2,1,0,0,0,0,0,1,0:1,0.0,12.0,9.5,")),
                 qPrintable(lines[1]));
        QVERIFY(shown.shown.isEmpty());

        window->findChild<QPushButton *>(QStringLiteral("ButtonResetStats"))->click();
        QVERIFY(stats.devices().empty());
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(cell(0, 3), QStringLiteral("0"));
        window->close();
    }

    void logSaveCommand()
    {
        startWindows();
        MessageLog *log = m_main->messageLog();
        WatchingMessages shown;
        const QString path = m_dir.filePath("saved.log");
        log->appendLine(QStringLiteral("Чтение"), false);
        shown.fileAnswers = {path};
        log->mnuSaveLogClick();
        QCOMPARE(shown.dialogs.size(), 1);
        QCOMPARE(shown.dialogs[0].kind, FileDialogRequest::Save);
        QVERIFY(shown.dialogs[0].filter.startsWith(QStringLiteral("Файлы отчета(*.log)")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), cp1251::encode(QStringLiteral("Чтение\r\n")));
        file.close();

        // Saved again: the same lines plus the newer ones, replacing the file without asking.
        log->appendLine(QStringLiteral("Запись"), true);
        shown.fileAnswers = {path};
        log->mnuSaveLogClick();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), cp1251::encode(QStringLiteral("Чтение\r\nЗапись\r\n")));
        QVERIFY(shown.shown.isEmpty());

        // Cancelled: nothing written, nothing said.
        log->mnuSaveLogClick();
        QCOMPARE(shown.dialogs.size(), 3);
        QVERIFY(shown.shown.isEmpty());

        shown.fileAnswers = {m_dir.filePath("missing-folder/x.log")};
        log->mnuSaveLogClick();
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Ошибка записи файла ") +
                                          m_dir.filePath("missing-folder/x.log") + "\r\n" +
                                          systemReason(ENOENT));
        QCOMPARE(shown.shown[0].caption, QStringLiteral("Сохранение лог-файла"));
        QCOMPARE(shown.shown[0].icon, MessageIcon::Error);
        QCOMPARE(log->count(), 2);
    }

    void closeWritesTheReport_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty log") << QStringList() << QByteArray();
        QTest::newRow("two lines")
            << QStringList{"09.12.2026 08:00:00 Чтение флагов:  (0x0001,5)", "b"}
            << cp1251::encode(
                   QStringLiteral("09.12.2026 08:00:00 Чтение флагов:  (0x0001,5)\r\nb\r\n"));
    }

    void closeWritesTheReport()
    {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, file);
        {
            QVERIFY(QDir().mkpath(dataFolder()));
            QFile old(reportPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older run's report, longer than the new one\r\n");
        }
        WatchingMessages shown;
        startWindows();
        showAndActivate();
        for (const QString &line : lines)
            m_main->messageLog()->appendLine(line, false);
        QVERIFY(m_main->close());
        QFile report(reportPath());
        QVERIFY(report.open(QIODevice::ReadOnly));
        QCOMPARE(report.readAll(), file);
        QVERIFY(shown.shown.isEmpty());
    }

    void closeSequenceOrder()
    {
        SingleInstanceEvent instance(QStringLiteral("LorvanEventCloseTest"));
        QVERIFY(instance.create());
        startWindows();
        m_main->setSingleInstanceEvent(&instance);
        addDevice(1);
        showAndActivate();
        int pollingActions = 0;
        QAction *polling = m_main->command(QStringLiteral("butEnableCycleReqDev"));
        polling->setEnabled(true);
        polling->setChecked(true);
        connect(polling, &QAction::toggled, this, [&] { ++pollingActions; });
        m_session->polling().VrTimer1()->start();
        m_session->polling().TimerUpdateData()->start();

        m_session->network().markFiled(); // nothing to save: the close asks nothing
        WatchingMessages shown;
        QVERIFY(m_main->close());
        QCOMPARE(m_main->windowTitle(), QStringLiteral("Завершение работы программы"));
        QVERIFY(!m_main->isEnabled());
        QVERIFY(!m_session->polling().VrTimer1()->isActive());
        QVERIFY(!m_session->polling().TimerUpdateData()->isActive());
        QVERIFY(!polling->isChecked());
        QCOMPARE(pollingActions, 0);
        QVERIFY(!instance.isHeld());
        QVERIFY(!m_session->line().port.IsOpen());
        for (EditorWindow *w : m_main->statefulWindows())
            QVERIFY(!w->storingEnabled());
        QVERIFY(!m_session->network().device(0));
        QCOMPARE(m_main->tree()->nodeCount(), 5); // the entries stay
        QVERIFY(QFile::exists(reportPath()));
        QVERIFY(shown.shown.isEmpty());
        // A later close runs nothing twice.
        QVERIFY(m_main->close());
    }

    void closeWaitsForARunningPollTick_data()
    {
        QTest::addColumn<int>("tickEndsMs");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("atMostMs");
        QTest::newRow("tick ends") << 300 << 280 << 2500;
        QTest::newRow("tick hangs") << -1 << 2950 << 6000;
    }

    void closeWaitsForARunningPollTick()
    {
        QFETCH(int, tickEndsMs);
        QFETCH(int, atLeastMs);
        QFETCH(int, atMostMs);
        startWindows();
        showAndActivate();
        m_session->line().pollIdle.reset();
        if (tickEndsMs >= 0)
            QTimer::singleShot(tickEndsMs, this, [this] { m_session->line().pollIdle.set(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(m_main->close());
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= atLeastMs && took <= atMostMs, qPrintable(QString::number(took)));
        QVERIFY(m_session->line().pollIdle.isSet());
    }

    void reportFailureIsSaidAndTheCloseCompletes()
    {
        QFile blocker(m_dir.filePath("blocker2"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        startWindows();
        showAndActivate();
        m_main->messageLog()->appendLine(QStringLiteral("line"), false);
        qputenv("LORVAN_HOME", blocker.fileName().toLocal8Bit() + "/data");
        WatchingMessages shown;
        const bool closed = m_main->close();
        qputenv("LORVAN_HOME", m_dir.filePath("data").toLocal8Bit());
        QVERIFY(closed);
        QVERIFY(!m_main->isVisible());
        QCOMPARE(shown.shown.size(), 1);
        QCOMPARE(shown.shown[0].text, QStringLiteral("Ошибка записи файла ") + blocker.fileName() +
                                          "/data/report.log\r\n" + systemReason(ENOTDIR));
        QCOMPARE(shown.shown[0].caption, QStringLiteral("Сохранение лог-файла"));
        for (EditorWindow *w : m_main->statefulWindows())
            QVERIFY(!w->storingEnabled());
    }

    // Every way of closing asks once, and only when the network changed since it was last
    // saved or loaded.
    void closeAsksOnlyAfterAChange_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<bool>("byExitCommand");
        QTest::addColumn<bool>("filed");
        QTest::addColumn<bool>("changedAfter");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("questions");
        QTest::addColumn<int>("saves");
        const int yes = int(MessageButton::Yes);
        const int no = int(MessageButton::No);
        QTest::newRow("empty tree") << 0 << true << false << false << yes << 0 << 0;
        QTest::newRow("answer no") << 2 << true << false << false << no << 1 << 0;
        QTest::newRow("answer yes") << 1 << true << false << false << yes << 1 << 1;
        QTest::newRow("title bar") << 2 << false << false << false << yes << 1 << 1;
        QTest::newRow("exit, as filed") << 2 << true << true << false << yes << 0 << 0;
        QTest::newRow("title bar, as filed") << 1 << false << true << false << yes << 0 << 0;
        QTest::newRow("period changed") << 1 << false << true << true << no << 1 << 0;
    }

    void closeAsksOnlyAfterAChange()
    {
        QFETCH(int, devices);
        QFETCH(bool, byExitCommand);
        QFETCH(bool, filed);
        QFETCH(bool, changedAfter);
        QFETCH(int, answer);
        QFETCH(int, questions);
        QFETCH(int, saves);
        startWindows();
        for (int i = 0; i < devices; ++i)
            addDevice(std::uint8_t(i + 1));
        showAndActivate();
        if (filed)
            m_session->network().markFiled();
        // Polling moves the next poll time and the answer picture: no change worth saving.
        if (devices > 0) {
            m_session->network().device(0)->setNextPollTime(12345);
            m_session->network().setImage(0, DeviceNetwork::kImageFailed);
        }
        if (changedAfter)
            m_session->network().device(0)->setPollPeriod(60);
        int saved = 0;
        m_files.save = [&] { ++saved; };
        m_session->setNetworkFileService(&m_files);
        WatchingMessages shown;
        shown.answers = {MessageButton(answer)};
        if (byExitCommand)
            m_main->command(QStringLiteral("mnuExitProg"))->trigger();
        else
            m_main->close();
        QCOMPARE(shown.shown.size(), questions);
        if (questions) {
            QCOMPARE(shown.shown[0].text, QStringLiteral("Сохранить дерево устройств?"));
            QCOMPARE(shown.shown[0].caption, QStringLiteral("Закрытие программы"));
            QCOMPARE(shown.shown[0].icon, MessageIcon::Question);
            QCOMPARE(shown.shown[0].buttons, int(MessageButton::Yes) | int(MessageButton::No));
        }
        QCOMPARE(saved, saves);
        QVERIFY(!m_main->isVisible());
        QVERIFY(QFile::exists(reportPath()));
    }
};

int main(int argc, char **argv)
{
    ConfiguratorApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
