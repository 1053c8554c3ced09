#include "workstation/mainwindow.h"

#include "device/identity.h"
#include "platform/clock.h"
#include "platform/datafolder.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "platform/settings.h"
#include "session/networkscan.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/editorwindow.h"
#include "windowkit/images.h"
#include "windowkit/secondarywindow.h"
#include "windowkit/shownvalue.h"
#include "windowkit/togglecommand.h"
#include "workstation/dataview.h"
#include "workstation/devicetree.h"
#include "workstation/exportcommands.h"
#include "workstation/helpdocument.h"
#include "workstation/menubarkeys.h"
#include "workstation/messagelog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>

#include <algorithm>
#include <stdexcept>

namespace {

// Restores a flag on leaving a scope, also when an error travels through it.
class FlagScope
{
public:
    explicit FlagScope(bool &flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~FlagScope() { m_flag = m_old; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &m_flag;
    bool m_old;
};

const char *const kStatusPrefixes[] = {
    "Тип: ", "Адрес: ", "Скорость: ", "Дата выпуска: ", "Серийный: ", "Версия ПО: ", "Исполнение: ",
};
// The widest text each panel can get, which its width is made for.
const char *const kStatusSamples[] = {
    "Тип: Неизвестный", "Адрес: 888",       "Скорость: Неизвестна",  "Дата выпуска:  DD:DD ",
    "Серийный:  DDDD ", "Версия ПО:  2.55", "Исполнение:  2422 222",
};

} // namespace

MainWindow::MainWindow(Session &session, SettingsWindowKinds kinds, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_session(session), m_kinds(kinds)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Лорван"));
    images::initTheme();

    buildCommands();
    buildMenus();
    buildToolBar();
    buildClientArea();
    buildStatusBar();
    connectCommands();
    connectSession();

    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
}

MainWindow::~MainWindow()
{
    // The secondary windows work on the session through this window: they go first.
    for (auto w = m_windows.made.crbegin(); w != m_windows.made.crend(); ++w)
        delete *w;
}

QAction *MainWindow::addCommand(const QString &name, const QString &text, int image, bool toggle)
{
    QAction *action = toggle ? new ToggleCommand(text, this) : new QAction(text, this);
    action->setObjectName(name);
    if (image >= 0)
        action->setIcon(images::icon(image));
    m_commands.insert(name, action);
    return action;
}

QAction *MainWindow::command(const QString &name) const
{
    return m_commands.value(name);
}

void MainWindow::buildCommands()
{
    struct Button
    {
        const char *name;
        int image;
        const char *hint;
        bool enabled;
    };
    const Button buttons[] = {
        {"butLoadTree", images::kLoadTree, "Загрузить дерево устройств из файла", true},
        {"butFindDevices", images::kFindDevices, "Кнопка поиска устройств в сети", true},
        {"butNetworkParams", images::kNetworkParams, "Редактирование параметров устройств в сети",
         false},
        {"butEnableCycleReqDev", images::kPolling,
         "Вкл./Выкл. Циклического опроса устройств в сети", false},
        {"butShowHelpDoc", images::kHelp, "Справка", true},
    };
    auto addButton = [this](const Button &b) {
        const QString hint = QString::fromUtf8(b.hint);
        const QString name = QString::fromLatin1(b.name);
        QAction *a = addCommand(name, hint, b.image, name == QLatin1String("butEnableCycleReqDev"));
        a->setToolTip(hint);
        a->setEnabled(b.enabled);
    };
    // The settings windows' buttons come before help.
    const qsizetype help = std::size(buttons) - 1;
    for (qsizetype i = 0; i < help; ++i)
        addButton(buttons[i]);
    for (const SettingsWindowKind *kind : kindsByCommandSlot())
        addButton({kind->button, kind->image, kind->buttonHint, false});
    addButton(buttons[help]);

    struct Item
    {
        const char *name;
        const char *text;
        QKeySequence shortcut;
        bool enabled;
    };
    const Item items[] = {
        {"mnuLoadTree", "Загрузить параметры сети", QKeySequence(Qt::CTRL | Qt::Key_N), true},
        {"mnuExitProg", "Выход", QKeySequence(Qt::CTRL | Qt::Key_Q), true},
        {"mnuFindDevice", "Поиск устройств", QKeySequence(Qt::CTRL | Qt::Key_F), true},
        {"mnuNetworkParam", "Параметры сети", QKeySequence(Qt::CTRL | Qt::Key_P), false},
        {"mnuLineStats", "Статистика обмена", {}, true},
        {"mnuPortAssignment", "Назначение портов", {}, true},
        {"mnuAboutProgram", "О программе...", QKeySequence(Qt::Key_F2), true},
        {"mnuShowHelpDoc", "Справка", QKeySequence(Qt::Key_F1), true},
    };
    auto addItem = [this](const Item &i) {
        QAction *a = addCommand(QString::fromLatin1(i.name), QString::fromUtf8(i.text));
        a->setShortcut(i.shortcut);
        a->setEnabled(i.enabled);
    };
    // The "Настройка" menu's items come before the help menu's.
    const qsizetype about = std::size(items) - 2;
    for (qsizetype i = 0; i < about; ++i)
        addItem(items[i]);
    for (const SettingsWindowKind *kind : kindsByCommandSlot())
        addItem({kind->menuItem, kind->menuText, {}, true});
    for (qsizetype i = about; i < qsizetype(std::size(items)); ++i)
        addItem(items[i]);

    QAction *save =
        addCommand(QStringLiteral("SaveTree"), QStringLiteral(" Сохранить настройки сети"));
    QAction *load =
        addCommand(QStringLiteral("LoadTree"), QStringLiteral(" Загрузить настройки сети"));
    QAction *start =
        addCommand(QStringLiteral("StartOnLoad"), QStringLiteral(" Загружать при старте"));
    start->setCheckable(true);
    m_treePopup = new QMenu(this);
    m_treePopup->addAction(save);
    m_treePopup->addAction(load);
    m_treePopup->addAction(start);
}

void MainWindow::buildMenus()
{
    auto add = [this](QMenu *menu, const char *name) {
        menu->addAction(command(QString::fromLatin1(name)));
    };
    QMenu *file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->setObjectName(QStringLiteral("mnuFile"));
    add(file, "mnuLoadTree");
    file->addSeparator();
    add(file, "mnuExitProg");

    QMenu *network = menuBar()->addMenu(QStringLiteral("Сеть"));
    network->setObjectName(QStringLiteral("mnuNetwork"));
    add(network, "mnuFindDevice");
    add(network, "mnuNetworkParam");
    add(network, "mnuLineStats");
    network->addSeparator();
    add(network, "mnuPortAssignment");

    m_optionsMenu = menuBar()->addMenu(QStringLiteral("Настройка"));
    m_optionsMenu->setObjectName(QStringLiteral("mnuOptions"));
    for (const SettingsWindowKind *kind : kindsByCommandSlot())
        add(m_optionsMenu, kind->menuItem);
    // Disabled on the menu itself: its title follows, and enabling the window again does not
    // bring it back.
    m_optionsMenu->setEnabled(false);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Помощь"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    add(help, "mnuAboutProgram");
    add(help, "mnuShowHelpDoc");
    new MenuBarKeys(menuBar());
}

void MainWindow::buildToolBar()
{
    QToolBar *bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(24, 24));
    bar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    QList<const char *> names{"butLoadTree", "butFindDevices", "butNetworkParams",
                              "butEnableCycleReqDev", "|"};
    for (const SettingsWindowKind *kind : kindsByCommandSlot())
        names.append(kind->button);
    names.append({"|", "butShowHelpDoc"});
    for (const char *name : std::as_const(names)) {
        if (name[0] == '|') {
            bar->addSeparator();
            continue;
        }
        QAction *a = command(QString::fromLatin1(name));
        bar->addAction(a);
        if (QWidget *button = bar->widgetForAction(a))
            button->setObjectName(a->objectName());
    }
}

void MainWindow::buildClientArea()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    auto *row = new QHBoxLayout;
    row->setSpacing(3);
    column->addLayout(row, 1);

    auto *left = new QVBoxLayout;
    left->setSpacing(0);
    auto *header = new QLabel(QStringLiteral("  Устройства"), central);
    header->setObjectName(QStringLiteral("PanelDevices"));
    header->setFrameStyle(QFrame::Panel | QFrame::Raised);
    header->setFixedHeight(22);
    left->addWidget(header);
    m_tree = new DeviceTree(central);
    m_tree->setNetwork(&m_session.network());
    m_tree->setStats(&m_session.line().stats);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_treePopup->popup(m_tree->viewport()->mapToGlobal(pos));
    });
    left->addWidget(m_tree, 1);
    auto *leftBox = new QWidget(central);
    leftBox->setLayout(left);
    left->setContentsMargins(0, 0, 0, 0);
    leftBox->setFixedWidth(200);
    row->addWidget(leftBox);

    m_dataPanel = new QWidget(central);
    m_dataPanel->setObjectName(QStringLiteral("PanelData"));
    auto *right = new QVBoxLayout(m_dataPanel);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(3);
    auto *identity = new QGroupBox(m_dataPanel);
    identity->setObjectName(QStringLiteral("GroupBoxDevice"));
    auto *identityRow = new QHBoxLayout(identity);
    identityRow->setContentsMargins(4, 2, 4, 2);
    m_replyField = new QLineEdit(identity);
    m_replyField->setObjectName(QStringLiteral("Edit8"));
    m_replyField->setReadOnly(true);
    identityRow->addWidget(m_replyField);
    right->addWidget(identity);
    m_grid = new QTableView(m_dataPanel);
    m_grid->setObjectName(QStringLiteral("DBGridArhiv"));
    right->addWidget(m_grid, 2);
    m_chartView = new MeasurementChartView(m_dataPanel);
    right->addWidget(m_chartView, 3);
    m_dataView = std::make_unique<DataView>(m_grid, m_chartView);
    connect(m_dataView->tableExportAction(), &QAction::triggered, this, [this] {
        if (Excel1Click(m_dataView->table()))
            m_dataView->showNewestRow();
    });
    if (QAction *chartExport = m_dataView->chartExportAction())
        connect(chartExport, &QAction::triggered, this, [this] { ExportChartClick(m_chartView); });

    // The scan's progress and result, over the grid and chart while it is shown.
    auto *find = new QFrame(m_dataPanel);
    find->setObjectName(QStringLiteral("PanelFind"));
    find->setFrameStyle(QFrame::Panel | QFrame::Raised);
    find->setAutoFillBackground(true);
    find->setFixedSize(283, 97);
    auto *picture = new QLabel(find);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(images::icon(images::kFindDevices).pixmap(32, 32));
    picture->setGeometry(10, 10, 32, 32);
    const char *lines[] = {"StaticText1", "StaticText2", "StaticText3"};
    const char *captions[] = {"Поиск:", "Устройство не обнаружено", "Проверьте подключение"};
    for (int i = 0; i < 3; ++i) {
        auto *line = new QLabel(QString::fromUtf8(captions[i]), find);
        m_scanLines[i] = line;
        line->setObjectName(QString::fromLatin1(lines[i]));
        if (i == 0)
            line->setGeometry(50, 14, 225, 20);
        else
            line->setGeometry(4, 22 + 22 * i, 275, 20);
        line->setAlignment(i == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    }
    find->hide();
    m_panelFind = find;
    m_scanResultTimer = m_session.clock().createTimer(this);
    m_scanResultTimer->setSingleShot(true);
    m_scanResultTimer->setInterval(kScanResultShowMs);
    connect(m_scanResultTimer, &ClockTimer::timeout, find, &QWidget::hide);
    row->addWidget(m_dataPanel, 1);

    m_log = new MessageLog(central);
    m_log->setJournal(dataFilePath(QStringLiteral("journal.log")));
    column->addWidget(m_log);
    setCentralWidget(central);
}

void MainWindow::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    // The seven panels must fit the fixed window width whatever the desktop's font: the font
    // is made smaller until the widest texts fit.
    QFont font = bar->font();
    const int room = kClientWidth - 8;
    QList<int> widths;
    for (qreal size = font.pointSizeF(); size >= 5; size -= 0.5) {
        font.setPointSizeF(size);
        const QFontMetrics metrics(font);
        widths.clear();
        int total = 0;
        for (const char *sample : kStatusSamples) {
            widths.append(metrics.horizontalAdvance(QString::fromUtf8(sample)) + 10);
            total += widths.last() + 3;
        }
        if (total <= room)
            break;
    }
    for (int i = 0; i < 7; ++i) {
        auto *panel = new QLabel(QString::fromUtf8(kStatusPrefixes[i]), bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setFont(font);
        panel->setMinimumWidth(widths[i]);
        exposeShownValue(panel, captionAsName(QString::fromUtf8(kStatusPrefixes[i])));
        bar->addWidget(panel, i == 6 ? 1 : 0);
        m_statusPanels.append(panel);
    }
}

QLabel *MainWindow::statusPanel(int index) const
{
    return m_statusPanels.value(index);
}

void MainWindow::connectCommands()
{
    auto on = [this](const char *name, auto slot) {
        connect(command(QString::fromLatin1(name)), &QAction::triggered, this, slot);
    };
    auto opens = [this](auto Windows::*member) {
        return [this, member]() {
            makeWindowsNow();
            openWindow(static_cast<QWidget *>(m_windows.*member));
        };
    };
    auto opensSettings = [this](FeatureCode code) {
        return [this, code]() {
            makeWindowsNow();
            openWindow(settingsWindow(code));
        };
    };
    auto findDevices = [this]() {
        openWindow(m_windows.findDevices);
        EnableDeviceCommands();
    };
    auto loadTree = [this]() {
        if (NetworkFileService *file = m_session.networkFileService())
            file->loadTreeCommand();
    };
    on("butLoadTree", loadTree);
    on("mnuLoadTree", loadTree);
    on("butFindDevices", findDevices);
    on("mnuFindDevice", findDevices);
    on("butNetworkParams", opens(&Windows::networkConfig));
    on("mnuNetworkParam", opens(&Windows::networkConfig));
    on("mnuLineStats", opens(&Windows::lineStats));
    on("mnuPortAssignment", opens(&Windows::portAssignment));
    for (const SettingsWindowKind &kind : m_kinds) {
        on(kind.button, opensSettings(kind.feature));
        on(kind.menuItem, opensSettings(kind.feature));
    }
    on("butShowHelpDoc", &MainWindow::showHelpDocument);
    on("mnuShowHelpDoc", &MainWindow::showHelpDocument);
    on("mnuAboutProgram", &MainWindow::showAbout);
    on("mnuExitProg", &MainWindow::exitCommand);
    on("StartOnLoad", &MainWindow::StartOnLoadClick);
    on("SaveTree", [this]() {
        if (NetworkFileService *file = m_session.networkFileService())
            file->saveTreeCommand();
    });
    on("LoadTree", loadTree);
    on("butEnableCycleReqDev", &MainWindow::butEnableCycleReqDevClick);

    connect(m_tree, &DeviceTree::leftButtonReleased, this, &MainWindow::TreeView1MouseUp);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this]() { TreeView1DblClick(); });
    // A device renamed in place: the configuration window's name field shows the new name.
    connect(m_tree, &DeviceTree::nodeTextEdited, this, [this](QTreeWidgetItem *node) {
        if (DeviceTree::isDeviceNode(node))
            m_session.selected().showName(node->text(0));
    });
}

void MainWindow::connectSession()
{
    connect(&m_session, &Session::replyReceived, this,
            [this](const QByteArray &reply) { m_replyField->setText(QString::fromLatin1(reply)); });
    connect(&m_session, &Session::logLine, m_log, &MessageLog::appendLine);
    connect(&m_session.selected(), &SelectedDevice::identityDescribed, this,
            &MainWindow::showIdentity);

    PollingCycle &polling = m_session.polling();
    connect(&polling, &PollingCycle::switchedChanged, this, [this](bool on) {
        QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
        const QSignalBlocker quiet(button);
        button->setChecked(on);
    });
    connect(&polling, &PollingCycle::selectedDevicePolled, this,
            &MainWindow::showSelectedDevicePolled);
    connect(&polling, &PollingCycle::seriesTitlesRead, m_chartView,
            &MeasurementChartView::setSeriesTitles);
    connect(&polling, &PollingCycle::chartRedrawDue, this, &MainWindow::redrawChart);

    connect(&m_session.network(), &DeviceNetwork::replaced, this, [this] {
        if (m_session.network().deviceCount() == 0)
            showNoDevice();
    });

    NetworkScan &scan = m_session.scan();
    connect(&scan, &NetworkScan::started, this, [this] { m_scanResultTimer->stop(); });
    connect(&scan, &NetworkScan::probing, this, &MainWindow::showScanProbe);
    connect(&scan, &NetworkScan::deviceFound, this, [this](int index) {
        const DeviceNode *record = m_session.network().device(index);
        for (const FeatureEntry &e : featureEntries(record ? record->variant() : 0)) {
            if (const SettingsWindowKind *kind = findKind(m_kinds, e.code))
                command(QString::fromLatin1(kind->button))->setEnabled(true);
        }
        if (QTreeWidgetItem *item = m_tree->itemAtAbsoluteIndex(index))
            m_tree->expandItem(item);
    });
    connect(&scan, &NetworkScan::probesDone, this, &MainWindow::showScanResult);
    connect(&scan, &NetworkScan::finished, this, [this](int found) {
        if (found == 0)
            return;
        // The tree marks the device that grid, chart and status bar now show: the last found.
        highlightSelectedNode();
        try {
            ShowDeviceTable();
        } catch (const std::exception &e) {
            showGlobalError(QString::fromUtf8(e.what()));
        }
    });
}

void MainWindow::setWindows(const Windows &windows)
{
    m_windows = windows;
}

void MainWindow::setWindowsMadeLater(std::function<void()> make)
{
    m_makeWindows = std::move(make);
}

void MainWindow::makeWindowsNow()
{
    if (auto make = std::exchange(m_makeWindows, nullptr))
        make();
}

QList<EditorWindow *> MainWindow::statefulWindows() const
{
    QList<EditorWindow *> result;
    QList<EditorWindow *> all = m_windows.settings;
    all.append(m_windows.networkConfig);
    for (EditorWindow *w : std::as_const(all)) {
        if (w && w->remembersPerDevice())
            result.append(w);
    }
    return result;
}

EditorWindow *MainWindow::settingsWindow(FeatureCode code) const
{
    for (qsizetype i = 0; i < m_kinds.size() && i < m_windows.settings.size(); ++i) {
        if (m_kinds[i].feature == code)
            return m_windows.settings[i];
    }
    return nullptr;
}

QList<const SettingsWindowKind *> MainWindow::kindsByCommandSlot() const
{
    QList<const SettingsWindowKind *> kinds;
    for (const SettingsWindowKind &kind : m_kinds)
        kinds.append(&kind);
    std::sort(kinds.begin(), kinds.end(),
              [](const auto *a, const auto *b) { return a->commandSlot < b->commandSlot; });
    return kinds;
}

bool MainWindow::isPolling() const
{
    return command(QStringLiteral("butEnableCycleReqDev"))->isChecked() ||
           m_session.polling().isPolling();
}

void MainWindow::showIdentity(const IdentityTexts &t)
{
    const QString parts[] = {t.type,   t.address, t.speed,  t.releaseDate,
                             t.serial, t.version, t.variant};
    for (int i = 0; i < 7; ++i)
        m_statusPanels[i]->setText(QString::fromUtf8(kStatusPrefixes[i]) + parts[i]);
}

void MainWindow::highlightSelectedNode()
{
    if (QTreeWidgetItem *item = m_tree->itemAtAbsoluteIndex(m_session.selected().index()))
        m_tree->setCurrentItem(item);
}

void MainWindow::TreeView1MouseUp(QTreeWidgetItem *node)
{
    QTreeWidgetItem *device = DeviceTree::deviceOf(node);
    if (!device)
        return;
    m_session.polling().setTitlesRefreshDue(true);
    const int index = m_tree->absoluteIndex(device);
    if (index != m_session.selected().index() || m_session.network().deviceCount() == 1) {
        if (m_selectionBusy) {
            // A click delivered while the previous selection still runs: that one finishes
            // first, and its device stays highlighted.
            highlightSelectedNode();
            showMessage(QStringLiteral("Сохраняются параметры девайса "), QString(),
                        MessageIcon::None);
        } else {
            SelectDevice(index);
        }
    }
    m_chartView->autoScale();
}

void MainWindow::SelectDevice(int index)
{
    const int device = m_session.network().deviceOf(index);
    if (device < 0)
        return;
    FlagScope busy(m_selectionBusy);
    // The windows' state belongs to the device selected so far: it is stored before the new
    // device's name and identity go into the controls, or the old section would keep the new
    // device's values.
    const bool switchSections = m_session.network().deviceCount() != 1;
    if (switchSections)
        storeEditorState();
    m_session.selected().selectDeviceOf(device);
    auto showName = [this] {
        m_session.selected().showName(m_session.selected().name());
        m_session.selected().DescribeDevice(m_session.selected().CurrentDevice().identity());
    };
    showName();

    m_dataPanel->setEnabled(false);
    struct Reenable
    {
        QWidget *panel;
        ~Reenable() { panel->setEnabled(true); }
    } reenable{m_dataPanel};
    m_chartTitle = m_session.selected().name();
    emit chartTitleChanged(m_chartTitle);
    ShowDeviceTable();
    if (switchSections) {
        restoreEditorState();
        // The restored controls may carry an older name or identity; the network's are current.
        showName();
    }
    m_tree->viewport()->update();
}

void MainWindow::storeEditorState()
{
    for (EditorWindow *w : statefulWindows()) {
        if (w->storingEnabled())
            w->storeState();
    }
}

void MainWindow::restoreEditorState()
{
    const QString section = StatefulWindow::deviceSection(m_session.selected().index());
    for (EditorWindow *w : statefulWindows()) {
        w->setSection(section);
        w->restoreState();
    }
}

void MainWindow::EnableDeviceCommands()
{
    m_optionsMenu->setEnabled(true);
    command(QStringLiteral("butEnableCycleReqDev"))->setEnabled(true);
    setEditorButtonsEnabled(true);
    command(QStringLiteral("butNetworkParams"))->setEnabled(true);
    command(QStringLiteral("mnuNetworkParam"))->setEnabled(true);
}

void MainWindow::setEditorButtonsEnabled(bool on)
{
    for (const SettingsWindowKind &kind : m_kinds)
        command(QString::fromLatin1(kind.button))->setEnabled(on);
}

void MainWindow::TreeView1DblClick()
{
    const int index = m_tree->absoluteIndex(m_tree->currentItem());
    FeatureNode *feature = m_session.network().feature(index);
    if (!feature || m_session.network().isDevice(index))
        return;
    feature->opened = 1;
    if (isPolling())
        return;
    if (QWidget *window = settingsWindow(FeatureCode(feature->code))) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void MainWindow::ShowDeviceTable()
{
    if (m_session.network().deviceCount() == 0)
        return;
    const DeviceNode &current = m_session.selected().CurrentDevice();
    const QString path = current.tablePath();
    EnsureMeasurementTable(path);
    m_dataView->open(path);
    std::array<QColor, 4> colours;
    for (int c = 0; c < 4; ++c)
        colours[c] = colourFromDeviceValue(current.channelColour(c + 1));
    m_chartView->setSeriesColours(colours);
    m_chartTitle = m_session.selected().name();
    m_chartView->setChartTitle(m_chartTitle);
    m_dataView->model()->setTitles(MeasurementTableModel::defaultTitles());
    m_chartFullPage = false;
    m_dataView->refreshChart(false);
}

void MainWindow::showNoDevice()
{
    m_dataView->close();
    m_chartTitle = QStringLiteral("Устройство не выбрано");
    m_chartView->setChartTitle(m_chartTitle);
}

void MainWindow::showSelectedDevicePolled()
{
    m_dataView->follow(m_session.selected().CurrentDevice().tablePath());
    m_dataView->showNewestRow();
    MeasurementTableModel *model = m_dataView->model();
    if (model->titles().value(0) != QLatin1String("Номер "))
        model->setTitles(MeasurementTableModel::defaultTitles());
}

void MainWindow::redrawChart()
{
    m_chartFullPage = true;
    m_dataView->refreshChart(true);
}

void MainWindow::butEnableCycleReqDevClick(bool down)
{
    QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
    button->setEnabled(false);
    struct Reenable
    {
        QAction *button;
        ~Reenable() { button->setEnabled(true); }
    } reenable{button};
    setEditorButtonsEnabled(!down);
    m_session.polling().switchPolling(down);
}

void MainWindow::showScanProbe(const QString &text)
{
    setScanLine(2, QString());
    setScanLine(3, QString());
    setScanLine(1, text);
    if (QWidget *area = m_panelFind->parentWidget())
        m_panelFind->move((area->width() - m_panelFind->width()) / 2,
                          (area->height() - m_panelFind->height()) / 2);
    m_panelFind->show();
    m_panelFind->raise();
}

void MainWindow::showScanResult(int found)
{
    if (found > 0) {
        setScanLine(2, QStringLiteral("Найдено устройств: %1").arg(found));
        setScanLine(3, QStringLiteral("Идет инициализация..."));
    } else {
        setScanLine(1, QStringLiteral(" Ошибка обмена: %1").arg(m_session.scan().lastResult()));
        setScanLine(2, QStringLiteral(" Устройства не обнаружены."), true);
        setScanLine(3, QStringLiteral(" Проверьте подключение."), true);
    }
    m_panelFind->show();
    m_panelFind->raise();
    m_scanResultTimer->start();
}

void MainWindow::setScanLine(int line, const QString &text, bool red)
{
    QLabel *label = m_scanLines[line - 1];
    label->setText(text);
    label->setStyleSheet(red ? QStringLiteral("color: red;") : QString());
}

int MainWindow::ConfirmStopPolling()
{
    PollingCycle &polling = m_session.polling();
    if (!polling.isPolling())
        return 1;
    const MessageButton answer = showMessage(
        QStringLiteral("Активен режим сбора данных архива\r\n     Прервать чтение данных ?"),
        QStringLiteral("Останов опроса"), MessageIcon::Information,
        int(MessageButton::Yes) | int(MessageButton::No));
    if (answer != MessageButton::Yes)
        return 0;
    polling.stopQuietly();
    return 2;
}

void MainWindow::CenterOverMainWindow(QWidget *window)
{
    if (!window)
        return;
    const int top = menuBar()->isVisible() ? menuBar()->height() : 0;
    const QRect client(0, top, width(), height() - top);
    const QPoint centre =
        mapToGlobal(client.topLeft()) + QPoint(client.width() / 2, client.height() / 2);
    window->move(centre.x() - window->width() / 2, centre.y() - window->height() / 2);
}

void MainWindow::openWindow(QWidget *window)
{
    if (!window)
        return;
    showCentred(window);
    window->raise();
    window->activateWindow();
}

void MainWindow::showHelpDocument()
{
    // The desktop reports its own failures.
    QDesktopServices::openUrl(QUrl::fromLocalFile(helpDocument(
        currentHelpPlaces(), [](const QString &path) { return QFileInfo::exists(path); })));
}

void MainWindow::showAbout()
{
    QWidget *about = m_windows.about;
    if (!about)
        return;
    CenterOverMainWindow(about);
    if (auto *dialog = qobject_cast<QDialog *>(about))
        dialog->exec();
    else
        about->show();
}

void MainWindow::queueFirstActivation()
{
    if (m_activated || m_activationQueued)
        return;
    // Windows still to make wait for this window's first paint, and the activation with them.
    if (m_makeWindows && !m_painted)
        return;
    m_activationQueued = true;
    QTimer::singleShot(0, this, &MainWindow::FirstActivation);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Platforms without a window manager never activate a window; the first show stands in.
    queueFirstActivation();
}

void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        queueFirstActivation();
    }
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        queueFirstActivation();
}

void MainWindow::FirstActivation()
{
    if (m_activated || m_closing)
        return;
    makeWindowsNow();
    m_activated = true;
    repaint();
    setEnabled(false);
    if (!ensureDataFolder()) {
        showMessage(QStringLiteral("Ошибка инициализации BDE. Установите программу повторно."),
                    QString(), MessageIcon::None);
    }
    setEnabled(true);
    repaint();

    auto settings = openSettings();
    if (!settings->contains(QStringLiteral("ReadOnLoad")))
        settings->setValue(QStringLiteral("ReadOnLoad"), 0);
    const QString treeFile = settings->value(QStringLiteral("TreeFile")).toString();
    const bool readOnLoad = settings->value(QStringLiteral("ReadOnLoad")).toInt() != 0;
    settings.reset();
    command(QStringLiteral("StartOnLoad"))->setChecked(readOnLoad);
    if (!readOnLoad)
        return;

    if (treeFile.isEmpty() || !QFileInfo(treeFile).isFile()) {
        showMessage(QStringLiteral("Ошибка чтения файла настроек сети"),
                    QStringLiteral("Чтение файла настроек"), MessageIcon::Error);
        return;
    }
    QFile file(treeFile);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            (treeFile + QStringLiteral(": ") + file.errorString()).toStdString());
    NetworkFileService *reader = m_session.networkFileService();
    if (!reader) {
        // Without a reader plugged in, the file counts as unreadable.
        showMessage(QStringLiteral("Ошибка чтения файла дерева устройств"), QString(),
                    MessageIcon::None);
        return;
    }
    if (reader->loadNetworkFile(file) && m_session.network().entryCount() > 0) {
        highlightSelectedNode();
        setEditorButtonsEnabled(true);
    }
}

void MainWindow::StartOnLoadClick()
{
    QAction *item = command(QStringLiteral("StartOnLoad"));
    auto settings = openSettings();
    if (settings->contains(QStringLiteral("TreeFile"))) {
        settings->setValue(QStringLiteral("ReadOnLoad"), item->isChecked() ? 1 : 0);
        return;
    }
    settings->setValue(QStringLiteral("ReadOnLoad"), 0);
    settings.reset();
    showMessage(QStringLiteral("Ошибка создания файла настроек.\r\nСохраните настройки сети."),
                QStringLiteral("Ощибка создания файла"), MessageIcon::Error);
    item->setChecked(false);
}

void MainWindow::exitCommand()
{
    close();
}

bool MainWindow::askSaveNetwork()
{
    // Every way of closing asks here, once, and only when closing would lose a change.
    if (m_session.network().deviceCount() == 0 || !m_session.network().changedSinceFiled())
        return false;
    if (showMessage(QStringLiteral("Сохранить дерево устройств?"),
                    QStringLiteral("Закрытие программы"), MessageIcon::Question,
                    int(MessageButton::Yes) | int(MessageButton::No)) != MessageButton::Yes)
        return false;
    if (NetworkFileService *file = m_session.networkFileService())
        file->saveTreeCommand();
    return true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        m_closing = true;
        try {
            askSaveNetwork();
        } catch (const std::exception &e) {
            // A failed save is told; the close goes on, as the close sequence always does.
            showGlobalError(QString::fromUtf8(e.what()));
        }
        closeSequence();
    }
    event->accept();
}

void MainWindow::closeSequence()
{
    setEnabled(false);
    setWindowTitle(QStringLiteral("Завершение работы программы"));
    m_session.shutDown();
    {
        QAction *button = command(QStringLiteral("butEnableCycleReqDev"));
        const QSignalBlocker quiet(button);
        button->setChecked(false);
    }
    if (m_instanceEvent)
        m_instanceEvent->close();
    writeReport();

    for (EditorWindow *w : statefulWindows())
        w->setStoringEnabled(false);
    for (QWidget *w : std::as_const(m_windows.made)) {
        if (w)
            w->hide();
    }
    m_session.network().freeRecords();
}

void MainWindow::writeLateReport()
{
    if (m_reportedLines >= 0 && m_log->count() != m_reportedLines)
        writeReport();
}

void MainWindow::writeReport()
{
    m_reportedLines = m_log->count();
    const QString path = dataFilePath(QStringLiteral("report.log"));
    // A folder that cannot be made shows in the write, with its reason.
    QDir().mkpath(dataFolder());
    if (const auto failure = m_log->writeTo(path)) {
        // Reported, and the close goes on: losing the report must not keep the program open.
        showMessage(QStringLiteral("Ошибка записи файла ") + QDir::toNativeSeparators(path) +
                        QStringLiteral("\r\n") + failure->reason,
                    QStringLiteral("Сохранение лог-файла"), MessageIcon::Error);
    }
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    // A press on the window's bare background drags the window, as on its title bar.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QMainWindow::mousePressEvent(event);
}
