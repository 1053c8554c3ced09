#include "workstation/mainwindow.h"

#include "device/identity.h"
#include "platform/datafolder.h"
#include "platform/messageservice.h"
#include "platform/settings.h"
#include "workstation/dataview.h"
#include "workstation/devicetree.h"
#include "workstation/images.h"
#include "workstation/messagelog.h"
#include "workstation/statefulwindow.h"

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

const char *const kEditorButtons[] = {
    "butShowFormConfig",       "butShowFormChannelsConfig", "butShowFormCountursConfig",
    "butShowFormAlarmsConfig", "butShowFormProgramControl", "butShowFormArchData",
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

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_access(
          m_link, m_port, [this]() -> const DeviceNode & { return m_current; },
          [this](const QString &line, bool failed) { m_log->appendLine(line, failed); })
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Лорван"));
    images::initTheme();

    m_port.setBaudrate(Baudrate::br9600);
    m_port.setPortNum(1);
    m_link.setResponseWait(100);
    m_link.showReply = [this](const QByteArray &reply) {
        m_replyField->setText(QString::fromLatin1(reply));
    };

    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName(QStringLiteral("VrTimer1"));
    m_pollTimer->setInterval(kTickGapMs);
    m_updateTimer = new QTimer(this);
    m_updateTimer->setObjectName(QStringLiteral("TimerUpdateData"));
    m_updateTimer->setInterval(kChartUpdateMs);

    buildCommands();
    buildMenus();
    buildToolBar();
    buildClientArea();
    buildStatusBar();
    connectCommands();

    showDeviceTable = [this]() { ShowDeviceTable(); };
    autoScaleChart = [this]() { m_chartView->autoScale(); };
    connect(m_pollTimer, &QTimer::timeout, this, &MainWindow::VrThread1Execute);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWindow::TimerUpdateDataTimer);
    connect(command(QStringLiteral("butEnableCycleReqDev")), &QAction::triggered, this,
            &MainWindow::butEnableCycleReqDevClick);
    auto entriesGo = [this]() { ++m_treeGeneration; };
    connect(m_tree->model(), &QAbstractItemModel::rowsAboutToBeRemoved, this, entriesGo);
    connect(m_tree->model(), &QAbstractItemModel::modelAboutToBeReset, this, entriesGo);

    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
}

MainWindow::~MainWindow()
{
    // The tree outlives this destructor (QWidget deletes the children later) and empties its
    // model on the way out: nothing of this window may be told about that.
    m_tree->model()->disconnect(this);
    // The secondary windows work on this window's port, link and images: they go first.
    for (QWidget *w :
         {m_windows.about, m_windows.networkConfig, static_cast<QWidget *>(m_windows.contursConfig),
          static_cast<QWidget *>(m_windows.channelConfig), static_cast<QWidget *>(m_windows.alarm),
          m_windows.archData, m_windows.programControl, m_windows.findDevices,
          static_cast<QWidget *>(m_windows.config)})
        delete w;
}

QAction *MainWindow::addCommand(const QString &name, const QString &text, int image)
{
    auto *action = new QAction(text, this);
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
        {"butShowFormConfig", images::kConfig, "Окно настроек конфигурации", false},
        {"butShowFormChannelsConfig", images::kChannels, "Окно настроек каналов", false},
        {"butShowFormCountursConfig", images::kLoops, "Окно настроек контуров", false},
        {"butShowFormAlarmsConfig", images::kAlarms, "Окно настроек сигнализации", false},
        {"butShowFormProgramControl", images::kPrograms, "Окно программного управления", false},
        {"butShowFormArchData", images::kArchive, "Окно внутреннего архива данных устройства",
         false},
        {"butShowHelpDoc", images::kHelp, "Справка", true},
    };
    for (const Button &b : buttons) {
        const QString hint = QString::fromUtf8(b.hint);
        QAction *a = addCommand(QString::fromLatin1(b.name), hint, b.image);
        a->setToolTip(hint);
        a->setEnabled(b.enabled);
    }
    command(QStringLiteral("butEnableCycleReqDev"))->setCheckable(true);

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
        {"mnuOptConfig", "Конфигурации", {}, true},
        {"mnuOptChannel", "Каналов", {}, true},
        {"mnuOptConturs", "Контуров", {}, true},
        {"mnuOptAlarms", "Сигнализации", {}, true},
        {"mnuOptPrograms", "Программ", {}, true},
        {"mnuOptArchData", "Внутренний архив", {}, true},
        {"mnuAboutProgram", "О программе...", QKeySequence(Qt::Key_F2), true},
        {"mnuShowHelpDoc", "Справка", QKeySequence(Qt::Key_F1), true},
    };
    for (const Item &i : items) {
        QAction *a = addCommand(QString::fromLatin1(i.name), QString::fromUtf8(i.text));
        a->setShortcut(i.shortcut);
        a->setEnabled(i.enabled);
    }

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

    m_optionsMenu = menuBar()->addMenu(QStringLiteral("Настройка"));
    m_optionsMenu->setObjectName(QStringLiteral("mnuOptions"));
    for (const char *name : {"mnuOptConfig", "mnuOptChannel", "mnuOptConturs", "mnuOptAlarms",
                             "mnuOptPrograms", "mnuOptArchData"})
        add(m_optionsMenu, name);
    // Disabled on the menu itself: its title follows, and enabling the window again does not
    // bring it back.
    m_optionsMenu->setEnabled(false);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Помощь"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    add(help, "mnuAboutProgram");
    add(help, "mnuShowHelpDoc");
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
    for (const char *name :
         {"butLoadTree", "butFindDevices", "butNetworkParams", "butEnableCycleReqDev", "|",
          "butShowFormConfig", "butShowFormChannelsConfig", "butShowFormCountursConfig",
          "butShowFormAlarmsConfig", "butShowFormProgramControl", "butShowFormArchData", "|",
          "butShowHelpDoc"}) {
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
        line->setObjectName(QString::fromLatin1(lines[i]));
        if (i == 0)
            line->setGeometry(50, 14, 225, 20);
        else
            line->setGeometry(4, 22 + 22 * i, 275, 20);
        line->setAlignment(i == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    }
    find->hide();
    m_panelFind = find;
    row->addWidget(m_dataPanel, 1);

    m_log = new MessageLog(central);
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
    auto opens = [this](QWidget *Windows::*member) {
        return [this, member]() { openWindow(m_windows.*member); };
    };
    auto openStateful = [this](StatefulWindow *Windows::*member) {
        return [this, member]() { openWindow(m_windows.*member); };
    };
    auto findDevices = [this]() {
        openWindow(m_windows.findDevices);
        EnableDeviceCommands();
    };
    auto loadTree = [this]() {
        if (loadTreeCommand)
            loadTreeCommand();
    };
    on("butLoadTree", loadTree);
    on("mnuLoadTree", loadTree);
    on("butFindDevices", findDevices);
    on("mnuFindDevice", findDevices);
    on("butNetworkParams", opens(&Windows::networkConfig));
    on("mnuNetworkParam", opens(&Windows::networkConfig));
    on("butShowFormConfig", openStateful(&Windows::config));
    on("mnuOptConfig", openStateful(&Windows::config));
    on("butShowFormChannelsConfig", openStateful(&Windows::channelConfig));
    on("mnuOptChannel", openStateful(&Windows::channelConfig));
    on("butShowFormCountursConfig", openStateful(&Windows::contursConfig));
    on("mnuOptConturs", openStateful(&Windows::contursConfig));
    on("butShowFormAlarmsConfig", openStateful(&Windows::alarm));
    on("mnuOptAlarms", openStateful(&Windows::alarm));
    on("butShowFormProgramControl", opens(&Windows::programControl));
    on("mnuOptPrograms", opens(&Windows::programControl));
    on("butShowFormArchData", opens(&Windows::archData));
    on("mnuOptArchData", opens(&Windows::archData));
    on("butShowHelpDoc", &MainWindow::showHelpDocument);
    on("mnuShowHelpDoc", &MainWindow::showHelpDocument);
    on("mnuAboutProgram", &MainWindow::showAbout);
    on("mnuExitProg", &MainWindow::exitCommand);
    on("StartOnLoad", &MainWindow::StartOnLoadClick);
    on("SaveTree", [this]() {
        if (saveTreeCommand)
            saveTreeCommand();
    });
    on("LoadTree", loadTree);

    connect(m_tree, &DeviceTree::leftButtonReleased, this, &MainWindow::TreeView1MouseUp);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this]() { TreeView1DblClick(); });
    connect(m_tree, &DeviceTree::nodeTextEdited, this, &MainWindow::TreeView1Edited);
}

void MainWindow::setWindows(const Windows &windows)
{
    m_windows = windows;
}

QList<StatefulWindow *> MainWindow::statefulWindows() const
{
    QList<StatefulWindow *> result;
    for (StatefulWindow *w :
         {m_windows.config, m_windows.alarm, m_windows.channelConfig, m_windows.contursConfig}) {
        if (w)
            result.append(w);
    }
    return result;
}

QWidget *MainWindow::windowFor(FeatureCode code) const
{
    switch (code) {
    case FeatureCode::Config:
        return m_windows.config;
    case FeatureCode::Channels:
        return m_windows.channelConfig;
    case FeatureCode::Loops:
        return m_windows.contursConfig;
    case FeatureCode::Alarms:
        return m_windows.alarm;
    case FeatureCode::Archive:
        return m_windows.archData;
    case FeatureCode::Programs:
        return m_windows.programControl;
    }
    return nullptr;
}

bool MainWindow::isPolling() const
{
    return command(QStringLiteral("butEnableCycleReqDev"))->isChecked() || m_pollTimer->isActive();
}

template <typename T> T *MainWindow::configControl(const char *name) const
{
    return m_windows.config ? m_windows.config->findChild<T *>(QString::fromLatin1(name)) : nullptr;
}

QString MainWindow::DescribeDevice(std::span<const std::uint8_t> identity)
{
    const IdentityTexts t = describeIdentity(identity);
    const QString parts[] = {t.type,   t.address, t.speed,  t.releaseDate,
                             t.serial, t.version, t.variant};
    for (int i = 0; i < 7; ++i)
        m_statusPanels[i]->setText(QString::fromUtf8(kStatusPrefixes[i]) + parts[i]);

    auto setText = [this](const char *name, const QString &text) {
        if (QWidget *control = configControl<QWidget>(name))
            control->setProperty("text", text);
    };
    setText("StaticType2", t.type);
    setText("EditNetAdr", t.address);
    setText("StaticSoft2", t.version);
    setText("StaticBuild2", t.releaseDate);
    setText("StaticSerial2", t.serial);
    setText("StaticIspoln2", t.variant);
    setText("MaskEditData", t.clockDate);
    setText("MaskEditTime", t.clockTime);
    if (auto *speeds = configControl<QComboBox>("ComboBaudrate1"))
        speeds->setCurrentIndex(speeds->findText(t.speed)); // -1 for an unknown speed
    return t.description();
}

void MainWindow::ApplyDeviceLineSpeed(Baudrate fallback)
{
    m_port.setBaudrate(baudrateForSpeedCode(m_current.speedCode()).value_or(fallback));
}

void MainWindow::highlightSelectedNode()
{
    if (QTreeWidgetItem *item = m_tree->itemAtAbsoluteIndex(m_selectedIndex))
        m_tree->setCurrentItem(item);
}

void MainWindow::TreeView1MouseUp(QTreeWidgetItem *node)
{
    DeviceTreeItem *device = DeviceTree::deviceOf(node);
    if (!device)
        return;
    m_titlesRefreshDue = true;
    const int index = m_tree->absoluteIndex(device);
    if (index != m_selectedIndex || m_deviceCount == 1) {
        if (m_selectionBusy) {
            // A click delivered while the previous selection still runs: that one finishes
            // first, and its device stays highlighted.
            highlightSelectedNode();
            showMessage(QStringLiteral("Сохраняются параметры девайса "), QString(),
                        MessageIcon::None);
        } else {
            SelectDevice(device);
        }
    }
    if (autoScaleChart)
        autoScaleChart();
}

void MainWindow::SelectDevice(QTreeWidgetItem *node)
{
    DeviceTreeItem *device = DeviceTree::deviceOf(node);
    if (!device)
        return;
    FlagScope busy(m_selectionBusy);
    // The windows' state belongs to the device selected so far: it is stored before the new
    // device's name and identity go into the controls, or the old section would keep the new
    // device's values.
    const bool switchSections = m_deviceCount != 1;
    if (switchSections)
        storeEditorState();
    m_selectedIndex = m_tree->absoluteIndex(device);
    if (device->device)
        m_current = *device->device;
    showSelectedName(device);

    m_dataPanel->setEnabled(false);
    struct Reenable
    {
        QWidget *panel;
        ~Reenable() { panel->setEnabled(true); }
    } reenable{m_dataPanel};
    m_chartTitle = device->text(0);
    emit chartTitleChanged(m_chartTitle);
    if (showDeviceTable)
        showDeviceTable();
    if (switchSections) {
        restoreEditorState();
        // The restored controls may carry an older name or identity; the tree's are current.
        showSelectedName(device);
    }
    m_tree->viewport()->update();
}

void MainWindow::showSelectedName(QTreeWidgetItem *device)
{
    if (QWidget *name = configControl<QWidget>("EditDevString"))
        name->setProperty("text", device->text(0));
    DescribeDevice(m_current.identity());
}

void MainWindow::storeEditorState()
{
    for (StatefulWindow *w : statefulWindows()) {
        if (w->storingEnabled())
            w->storeState();
    }
}

void MainWindow::restoreEditorState()
{
    const QString section = StatefulWindow::deviceSection(m_selectedIndex);
    for (StatefulWindow *w : statefulWindows()) {
        w->setSection(section);
        w->restoreState();
    }
}

void MainWindow::SwitchEditorStateSection()
{
    storeEditorState();
    restoreEditorState();
}

void MainWindow::FreeNodeRecords()
{
    m_tree->freeNodeRecords();
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
    for (const char *name : kEditorButtons)
        command(QString::fromLatin1(name))->setEnabled(on);
}

void MainWindow::RefreshCurrentIdentity()
{
    if (m_deviceCount <= 1)
        return;
    ApplyDeviceLineSpeed(Baudrate::br9600);
    if (m_link.ReadHoldingRegisters(m_current.address(), 0, identity::kBytes) != 0)
        return;
    std::copy_n(m_images.holding.begin(), identity::kBytes, m_current.identity().begin());
    DescribeDevice(m_current.identity());
    m_updateTimer->start();
}

void MainWindow::TreeView1DblClick()
{
    DeviceTreeItem *item = DeviceTree::asNode(m_tree->currentItem());
    if (!item || DeviceTree::isDeviceNode(item) || !item->feature)
        return;
    item->feature->opened = 1;
    if (isPolling())
        return;
    if (QWidget *window = windowFor(FeatureCode(item->feature->code))) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void MainWindow::TreeView1Edited(QTreeWidgetItem *node)
{
    if (!DeviceTree::isDeviceNode(node))
        return;
    if (QWidget *name = configControl<QWidget>("EditDevString"))
        name->setProperty("text", node->text(0));
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
    CenterOverMainWindow(window);
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindow::showHelpDocument()
{
    // The document is looked for in the current folder; the desktop reports its own failures.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("ЛорванHelp.doc"))));
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

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Platforms without a window manager never activate a window; the first show stands in.
    if (!m_activated && !m_activationQueued) {
        m_activationQueued = true;
        QTimer::singleShot(0, this, &MainWindow::FirstActivation);
    }
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_activated &&
        !m_activationQueued) {
        m_activationQueued = true;
        QTimer::singleShot(0, this, &MainWindow::FirstActivation);
    }
}

void MainWindow::FirstActivation()
{
    if (m_activated || m_closing)
        return;
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
    if (!loadNetworkFile) {
        // This build has no reader for the file yet: report it as unreadable.
        showMessage(QStringLiteral("Ошибка чтения файла дерева устройств"), QString(),
                    MessageIcon::None);
        return;
    }
    if (loadNetworkFile(file) && m_tree->nodeCount() > 0) {
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
    if (m_deviceCount > 0 &&
        showMessage(QStringLiteral("Сохранить дерево устройств?"),
                    QStringLiteral("Закрытие программы"), MessageIcon::Question,
                    int(MessageButton::Yes) | int(MessageButton::No)) == MessageButton::Yes) {
        if (saveTreeCommand)
            saveTreeCommand();
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        m_closing = true;
        closeSequence();
    }
    event->accept();
}

void MainWindow::closeSequence()
{
    setEnabled(false);
    m_updateTimer->stop();
    setWindowTitle(QStringLiteral("Завершение работы программы"));

    m_pollTimer->stop();
    {
        QAction *polling = command(QStringLiteral("butEnableCycleReqDev"));
        const QSignalBlocker quiet(polling);
        polling->setChecked(false);
    }
    m_pollIdle.wait(kPollIdleWaitMs);

    m_pollIdle.set();
    if (m_instanceEvent)
        m_instanceEvent->close();

    m_port.Close();
    writeReport();

    for (StatefulWindow *w : statefulWindows())
        w->setStoringEnabled(false);
    for (QWidget *w :
         {static_cast<QWidget *>(m_windows.config), m_windows.findDevices, m_windows.programControl,
          m_windows.archData, static_cast<QWidget *>(m_windows.alarm),
          static_cast<QWidget *>(m_windows.channelConfig),
          static_cast<QWidget *>(m_windows.contursConfig), m_windows.networkConfig,
          m_windows.about}) {
        if (w)
            w->hide();
    }
    FreeNodeRecords();
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
    QString error;
    bool written = QDir().mkpath(dataFolder()) && m_log->writeTo(path, &error);
    if (!written) {
        // Reported, and the close goes on: losing the report must not keep the program open.
        showMessage(QStringLiteral("Ошибка записи файла ") + QDir::toNativeSeparators(path),
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
