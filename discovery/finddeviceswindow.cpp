#include "discovery/finddeviceswindow.h"

#include "device/identity.h"
#include "link/porterror.h"
#include "platform/datafolder.h"
#include "platform/pumpedwait.h"
#include "platform/settings.h"
#include "workstation/application.h"
#include "workstation/devicetree.h"
#include "workstation/mainwindow.h"
#include "workstation/secondarywindows.h"
#include "workstation/statefulwindow.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

const FindDevicesWindow::ScanSpeed FindDevicesWindow::kSpeeds[8] = {
    {Baudrate::br1200, "1200", 100},  {Baudrate::br2400, "2400", 70},
    {Baudrate::br4800, "4800", 60},   {Baudrate::br9600, "9600", 50},
    {Baudrate::br19200, "19200", 40}, {Baudrate::br38400, "38400", 30},
    {Baudrate::br57600, "57600", 20}, {Baudrate::br115200, "115200", 10},
};

namespace {

// The toolbar button that opens the window a settings entry stands for.
const char *editorButtonFor(int image)
{
    switch (image) {
    case 3:
        return "butShowFormConfig";
    case 4:
        return "butShowFormChannelsConfig";
    case 5:
        return "butShowFormCountursConfig";
    case 6:
        return "butShowFormAlarmsConfig";
    case 7:
        return "butShowFormProgramControl";
    case 8:
        return "butShowFormArchData";
    default:
        return nullptr;
    }
}

} // namespace

FindDevicesWindow::FindDevicesWindow(MainWindow &main) : QWidget(&main, Qt::Window), m_main(main)
{
    makeSecondaryWindow(this, QStringLiteral("frmFindDevices"), QStringLiteral("Поиск устройств"));
    resize(330, 250);

    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Параметры"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(group);
    m_port = new QComboBox(group);
    m_port->setObjectName(QStringLiteral("ComboPortNum"));
    m_port->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                      QStringLiteral("COM4")});
    m_speed = new QComboBox(group);
    m_speed->setObjectName(QStringLiteral("ComboBaudrate"));
    for (const ScanSpeed &s : kSpeeds)
        m_speed->addItem(QString::fromLatin1(s.text));
    auto spin = [group](const char *name) {
        auto *box = new QSpinBox(group);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(1, 127);
        box->setValue(1);
        return box;
    };
    m_begin = spin("EditAdrBeg");
    m_end = spin("EditAdrEnd");
    grid->addWidget(new QLabel(QStringLiteral("Порт :"), group), 0, 0);
    grid->addWidget(m_port, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Cкорость : "), group), 1, 0);
    grid->addWidget(m_speed, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Поиск в интервале адресов:"), group), 2, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Начальный:"), group), 3, 0);
    grid->addWidget(m_begin, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Конечный:"), group), 4, 0);
    grid->addWidget(m_end, 4, 1);
    layout->addWidget(group);
    m_find = new QPushButton(QStringLiteral("Сканировать"), this);
    m_find->setObjectName(QStringLiteral("Find"));
    layout->addWidget(m_find);

    m_resultTimer = new QTimer(this);
    m_resultTimer->setSingleShot(true);
    m_resultTimer->setInterval(kResultShowMs);
    connect(m_resultTimer, &QTimer::timeout, this, [this]() {
        if (QWidget *panel = m_main.PanelFind())
            panel->hide();
    });

    m_port->setCurrentIndex(0);
    m_speed->setCurrentIndex(3);
    if (auto *speeds = qobject_cast<QComboBox *>(configControl("ComboBaudrate1")))
        speeds->setCurrentIndex(speeds->findText(QStringLiteral("9600")));
    connect(m_port, &QComboBox::currentIndexChanged, this, &FindDevicesWindow::ComboPortNumChange);
    connect(m_speed, &QComboBox::activated, this, &FindDevicesWindow::ComboBaudrateCloseUp);
    connect(m_begin, &QSpinBox::valueChanged, this, &FindDevicesWindow::EditAdrBegChange);
    connect(m_find, &QPushButton::clicked, this, &FindDevicesWindow::FindClick);

    m_main.link().Setup(m_main.commPort());
}

QWidget *FindDevicesWindow::configControl(const char *name) const
{
    QWidget *config = m_main.windows().config;
    return config ? config->findChild<QWidget *>(QString::fromLatin1(name)) : nullptr;
}

void FindDevicesWindow::ComboPortNumChange()
{
    CommPort &port = m_main.commPort();
    try {
        port.setPortNum(m_port->currentIndex() + 1);
    } catch (const PortError &e) {
        const QSignalBlocker quiet(m_port);
        m_port->setCurrentIndex(port.PortNum() - 1);
        showGlobalError(e.message());
    }
}

void FindDevicesWindow::ComboBaudrateCloseUp()
{
    const int i = m_speed->currentIndex();
    if (i < 0)
        return;
    m_main.commPort().setBaudrate(kSpeeds[i].rate);
    if (auto *speeds = qobject_cast<QComboBox *>(configControl("ComboBaudrate1")))
        speeds->setCurrentIndex(speeds->findText(m_speed->currentText()));
}

void FindDevicesWindow::EditAdrBegChange()
{
    if (m_end->value() < m_begin->value())
        m_end->setValue(m_begin->value());
}

void FindDevicesWindow::FindClick()
{
    // A press while a scan runs only asks it to stop; the running scan ends at its next probe
    // and keeps the devices it has found so far.
    if (m_running) {
        m_running = false;
        return;
    }
    if (!m_main.pollIdleEvent().isSet()) {
        // A poll tick is waiting for its reply below this click and holds the link; the scan
        // starts as soon as that tick has ended, with polling already switched off.
        m_main.stopPollingQuietly();
        QTimer::singleShot(kDeferMs, this, &FindDevicesWindow::FindClick);
        return;
    }
    m_running = true;
    m_find->setText(QStringLiteral("Остановить"));
    struct Idle
    {
        FindDevicesWindow *w;
        ~Idle()
        {
            w->m_find->setText(QStringLiteral("Сканировать"));
            w->m_running = false;
        }
    } idle{this};
    // A link failure ends this scan; the window goes back to idle, so the next press scans.
    try {
        scan();
    } catch (const ESendThreadError &e) {
        showGlobalError(e.message());
    } catch (const PortError &e) {
        showGlobalError(e.message());
    }
}

void FindDevicesWindow::scan()
{
    const int begin = m_begin->value();
    const int end = m_end->value();

    m_main.stopPollingQuietly();
    m_main.clearDeviceTree();
    openSettings()->remove(QStringLiteral("Forms"));
    m_resultTimer->stop();
    CommPort &port = m_main.commPort();
    port.setPortNum(m_port->currentIndex() + 1);

    const int firstSpeed = std::max(0, m_speed->currentIndex());
    for (int address = begin;
         address <= end && m_running && !m_main.isClosing() && m_main.deviceCount() < kMaxDevices;
         ++address)
        probeAddress(address, firstSpeed);

    DelayPumping(300);
    const int found = m_main.deviceCount();
    showResult(found);

    if (found > 0) {
        m_main.ApplyDeviceLineSpeed(port.baudrate());
        m_main.RefreshCurrentIdentity();
        try {
            m_main.ShowDeviceTable();
        } catch (const std::exception &e) {
            showGlobalError(QString::fromUtf8(e.what()));
        }
        if (QWidget *config = m_main.windows().config) {
            if (QWidget *editing = config->focusWidget())
                editing->clearFocus();
        }
    }
    auto *speeds = qobject_cast<QComboBox *>(configControl("ComboBaudrate1"));
    if (speeds) {
        speeds->setCurrentIndex(m_main.CurrentDevice().speedCode() < speeds->count()
                                    ? m_main.CurrentDevice().speedCode()
                                    : -1);
        const int i = m_speed->findText(speeds->currentText());
        if (i >= 0)
            m_speed->setCurrentIndex(i);
    }
}

void FindDevicesWindow::probeAddress(int address, int firstSpeed)
{
    CommPort &port = m_main.commPort();
    ModbusLink &link = m_main.link();
    setLine(2, QString());
    setLine(3, QString());
    int result = 999;
    for (int i = firstSpeed; i < 8 && result != 0 && m_running && !m_main.isClosing(); ++i) {
        port.setBaudrate(kSpeeds[i].rate);
        link.setResponseWait(kSpeeds[i].responseWait);
        setLine(1, QString::asprintf("Поиск: COM%.1d/%.3d/", port.PortNum(), address) +
                       QString::fromLatin1(kSpeeds[i].text));
        if (QWidget *panel = m_main.PanelFind()) {
            if (QWidget *area = panel->parentWidget())
                panel->move((area->width() - panel->width()) / 2,
                            (area->height() - panel->height()) / 2);
            panel->show();
            panel->raise();
        }
        result = link.ReadHoldingRegisters(std::uint8_t(address), 0, identity::kBytes);
        if (result == 0 && m_running)
            addFoundDevice(address);
    }
    m_lastResult = result;
}

void FindDevicesWindow::addFoundDevice(int address)
{
    DeviceTree *tree = m_main.tree();
    std::array<std::uint8_t, identity::kBytes> ident{};
    std::copy_n(m_main.images().holding.begin(), identity::kBytes, ident.begin());
    ident[6] = std::uint8_t(address);

    const int number = m_main.deviceCount() + 1;
    DeviceNode record =
        DeviceNode::found(number, m_main.commPort().PortNum(), ident,
                          dataFilePath(QStringLiteral("ArcData%1.dbf").arg(number)));
    // The selected copy starts with the mark clear; the tree's entry has it set.
    record.setGraphRefresh(false);
    DeviceTreeItem *item = nullptr;
    try {
        const QString description = m_main.DescribeDevice(ident).left(DeviceTree::kNameLength);
        if (QWidget *name = configControl("EditDevString"))
            name->setProperty("text", description);
        item = tree->addDevice(description, record);
        m_main.setSelectedIndex(tree->absoluteIndex(item));
        tree->addFeatures(item);
        for (const FeatureEntry &e : featureEntries(record.variant())) {
            if (const char *button = editorButtonFor(e.image))
                m_main.command(QString::fromLatin1(button))->setEnabled(true);
        }
        m_main.setDeviceCount(number);
        m_main.CurrentDevice() = record;
        item->device->setGraphRefresh(true);
        tree->expandItem(item);
    } catch (const std::exception &) {
        // A device whose entry cannot be made is left out; the scan goes on.
        delete item;
    }
}

void FindDevicesWindow::showResult(int found)
{
    QWidget *panel = m_main.PanelFind();
    if (!panel)
        return;
    if (found > 0) {
        setLine(2, QStringLiteral("Найдено устройств: %1").arg(found));
        setLine(3, QStringLiteral("Идет инициализация..."));
    } else {
        setLine(1, QStringLiteral(" Ошибка обмена: %1").arg(m_lastResult));
        setLine(2, QStringLiteral(" Устройства не обнаружены."), true);
        setLine(3, QStringLiteral(" Проверьте подключение."), true);
    }
    panel->show();
    panel->raise();
    m_resultTimer->start();
}

void FindDevicesWindow::setLine(int line, const QString &text, bool red)
{
    QWidget *panel = m_main.PanelFind();
    if (!panel)
        return;
    if (auto *label = panel->findChild<QLabel *>(QStringLiteral("StaticText%1").arg(line))) {
        label->setText(text);
        label->setStyleSheet(red ? QStringLiteral("color: red;") : QString());
    }
}
