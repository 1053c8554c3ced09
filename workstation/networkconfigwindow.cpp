#include "workstation/networkconfigwindow.h"

#include "link/commport.h"
#include "link/porterror.h"
#include "platform/cp1251.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "platform/portassignment.h"
#include "platform/pumpedwait.h"
#include "session/networkscan.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/images.h"
#include "windowkit/windowhost.h"
#include "workstation/application.h"
#include "workstation/dataview.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

constexpr int kIndexRole = Qt::UserRole;
constexpr int kColourRole = Qt::UserRole;
constexpr int kCustomColourRole = Qt::UserRole + 1;
constexpr int kPortCount = 8;
constexpr int kProbeSettleMs = 10;

// A numeric field whose arrows keep to the bounds while typing is free up to its digits, so that
// an out-of-range entry reaches the rule applied when the field is left.
class SpinField : public QSpinBox
{
public:
    SpinField(int low, int high, int digits, QWidget *parent)
        : QSpinBox(parent), m_low(low), m_high(high)
    {
        int widest = 9;
        for (int i = 1; i < digits; ++i)
            widest = widest * 10 + 9;
        setRange(0, widest);
    }
    void stepBy(int steps) override
    {
        setValue(std::clamp(value() + steps * singleStep(), m_low, m_high));
        selectAll();
    }
    bool inBounds() const { return value() >= m_low && value() <= m_high; }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled e = StepNone;
        if (value() < m_high)
            e |= StepUpEnabled;
        if (value() > m_low)
            e |= StepDownEnabled;
        return e;
    }

private:
    int m_low;
    int m_high;
};

struct NamedColour
{
    const char *name;
    std::uint32_t value; // 0x00BBGGRR
};

// The sixteen colours of the classic palette.
const NamedColour kColours[] = {
    {"Чёрный", 0x000000},       {"Бордовый", 0x000080},    {"Зелёный", 0x008000},
    {"Оливковый", 0x008080},    {"Тёмно-синий", 0x800000}, {"Фиолетовый", 0x800080},
    {"Сине-зелёный", 0x808000}, {"Серый", 0x808080},       {"Серебристый", 0xC0C0C0},
    {"Красный", 0x0000FF},      {"Лайм", 0x00FF00},        {"Жёлтый", 0x00FFFF},
    {"Синий", 0xFF0000},        {"Фуксия", 0xFF00FF},      {"Голубой", 0xFFFF00},
    {"Белый", 0xFFFFFF},
};

QIcon swatch(std::uint32_t value)
{
    QPixmap p(14, 14);
    p.fill(colourFromDeviceValue(value));
    QPainter painter(&p);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 13, 13);
    return QIcon(p);
}

std::uint32_t deviceValue(const QColor &c)
{
    return std::uint32_t(c.red()) | std::uint32_t(c.green()) << 8 | std::uint32_t(c.blue()) << 16;
}

QLabel *label(const QString &text, QWidget *parent, int x, int y, int w = 150)
{
    auto *l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 21);
    return l;
}

} // namespace

QString measurementTableName(const QString &typed)
{
    const qsizetype cut =
        std::max(typed.lastIndexOf(QLatin1Char('/')), typed.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = typed.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > cut ? typed.left(dot) : typed;
    return stem + QStringLiteral(".dbf");
}

NetworkConfigWindow::NetworkConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmNetworkConfig"),
                   QStringLiteral("Настройки сети"), host.mainWidget(),
                   Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setFixedSize(kClientWidth, kClientHeight);
    setShowsReadOrigin(false);
    buildControls();
    declareCommandPanels({m_settings, m_chart});

    PollingCycle &polling = session.polling();
    polling.setChartUpdateOnPoll(m_updateGraph->isChecked());
    connect(m_updateGraph, &QCheckBox::toggled, &polling, &PollingCycle::setChartUpdateOnPoll);
    // A tick keeps the device settings locked until the panels are unlocked again.
    connect(&polling, &PollingCycle::tickStarted, m_settings,
            [this] { m_settings->setEnabled(false); });
}

void NetworkConfigWindow::buildControls()
{
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("TreeView1"));
    m_list->setGeometry(4, 4, 150, kClientHeight - 8);
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setIconSize(QSize(16, 16));
    // A press of either button selects; the settings follow the left button's release.
    m_list->setContextMenuPolicy(Qt::PreventContextMenu);
    connect(m_list, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        if (item)
            showDeviceSettings(item->data(0, kIndexRole).toInt());
    });

    m_settings = new QGroupBox(QStringLiteral("Настройки"), this);
    m_settings->setObjectName(QStringLiteral("GroupBox1"));
    m_settings->setGeometry(160, 2, 329, 172);
    const int field = 178;
    label(QStringLiteral("Номер порта :"), m_settings, 10, 20, 98);
    m_port = new QComboBox(m_settings);
    m_port->setObjectName(QStringLiteral("ComboPortNum"));
    for (int n = 1; n <= kPortCount; ++n)
        m_port->addItem(QStringLiteral("COM%1").arg(n));
    // Closer to its caption than the other fields, so that the device it leads to on this PC
    // fits beside it; the record keeps the number only.
    m_port->setGeometry(112, 20, 80, 22);
    auto *portDevice = new PortDeviceLabel(m_port, m_settings);
    portDevice->setGeometry(196, 20, 329 - 8 - 196, 21);
    connect(m_port, &QComboBox::activated, this, &NetworkConfigWindow::ComboPortNumChange);

    label(QStringLiteral("Cкорость порта: "), m_settings, 10, 46);
    m_baud = new QComboBox(m_settings);
    m_baud->setObjectName(QStringLiteral("ComboBaudrate"));
    m_baud->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                      QStringLiteral("57600"), QStringLiteral("115200")});
    m_baud->setGeometry(field, 46, 140, 22);
    connect(m_baud, &QComboBox::activated, this, [this](int item) {
        changePicked([item](DeviceNode &d) { d.identity()[7] = std::uint8_t(item); });
    });

    label(QStringLiteral("Сетевой адрес : "), m_settings, 10, 72);
    m_address = new SpinField(1, 127, 3, m_settings);
    m_address->setObjectName(QStringLiteral("EditNetAdr"));
    m_address->setGeometry(field, 72, 80, 22);
    m_address->setValue(1);
    connect(m_address, &QSpinBox::editingFinished, this, &NetworkConfigWindow::EditNetAdrExit);

    label(QStringLiteral("Период опроса (сек):"), m_settings, 10, 98);
    m_period = new SpinField(1, 3600, 4, m_settings);
    m_period->setObjectName(QStringLiteral("EditPeriod"));
    m_period->setSingleStep(10);
    m_period->setValue(30);
    m_period->setGeometry(field, 98, 80, 22);
    connect(m_period, &QSpinBox::editingFinished, this, &NetworkConfigWindow::EditPeriodExit);

    label(QStringLiteral("Путь к архиву данных:"), m_settings, 10, 122);
    m_arcPath = new QLineEdit(m_settings);
    m_arcPath->setObjectName(QStringLiteral("EditArcPath"));
    m_arcPath->setGeometry(10, 144, 280, 22);
    connect(m_arcPath, &QLineEdit::editingFinished, this, &NetworkConfigWindow::EditArcPathExit);
    // A full path is longer than the field: the tip gives it whole.
    connect(m_arcPath, &QLineEdit::textChanged, m_arcPath, &QWidget::setToolTip);
    auto *browse = new QToolButton(m_settings);
    browse->setObjectName(QStringLiteral("EditArcPathButton"));
    browse->setText(QStringLiteral("..."));
    browse->setGeometry(294, 144, 26, 22);
    connect(browse, &QToolButton::clicked, this, &NetworkConfigWindow::browseArcPath);

    m_chart = new QGroupBox(QStringLiteral("Настройки графика:"), this);
    m_chart->setObjectName(QStringLiteral("GroupBox2"));
    m_chart->setGeometry(160, 178, 329, 156);
    m_cyclic = new QCheckBox(QStringLiteral("Циклический опрос устройства"), m_chart);
    m_cyclic->setObjectName(QStringLiteral("CheckCyclOpros"));
    m_cyclic->setGeometry(10, 18, 310, 20);
    connect(m_cyclic, &QCheckBox::clicked, this,
            [this](bool on) { changePicked([on](DeviceNode &d) { d.setCyclicPoll(on); }); });
    // A poll of the selected device asks for a chart redraw only while this is checked.
    m_updateGraph = new QCheckBox(QStringLiteral("Обновление графика с каждым замером"), m_chart);
    m_updateGraph->setObjectName(QStringLiteral("CheckUpdateGraph"));
    m_updateGraph->setGeometry(10, 40, 310, 20);
    m_updateGraph->setChecked(true);
    connect(m_updateGraph, &QCheckBox::clicked, this,
            [this](bool on) { changePicked([on](DeviceNode &d) { d.setGraphRefresh(on); }); });
    for (int c = 0; c < 4; ++c) {
        const int y = 64 + 22 * c;
        auto *shown = new QCheckBox(QStringLiteral("Входной канал-%1:").arg(c + 1), m_chart);
        shown->setObjectName(QStringLiteral("CheckChan%1OnOff").arg(c + 1));
        shown->setGeometry(10, y, 160, 20);
        connect(shown, &QCheckBox::clicked, this, [this, c](bool on) {
            changePicked([c, on](DeviceNode &d) { d.setChannelShown(c + 1, on); });
        });
        m_shown[c] = shown;

        auto *colour = new QComboBox(m_chart);
        colour->setObjectName(QStringLiteral("ColorChan%1").arg(c + 1));
        colour->setGeometry(field, y, 140, 20);
        for (const NamedColour &nc : kColours) {
            colour->addItem(swatch(nc.value), QString::fromUtf8(nc.name));
            colour->setItemData(colour->count() - 1, nc.value, kColourRole);
        }
        colour->addItem(QStringLiteral("Другой..."));
        connect(colour, &QComboBox::activated, this,
                [this, c](int item) { colourPicked(c + 1, item); });
        m_colours[c] = colour;
    }
}

void NetworkConfigWindow::setColourPicker(QComboBox *picker, std::uint32_t colour)
{
    int found = -1;
    int custom = -1;
    for (int i = 0; i < picker->count(); ++i) {
        const QVariant v = picker->itemData(i, kColourRole);
        if (picker->itemData(i, kCustomColourRole).toBool())
            custom = i;
        if (v.isValid() && v.toUInt() == colour)
            found = i;
    }
    if (found < 0) {
        // A colour outside the list gets the one extra entry, shown by its value.
        if (custom < 0) {
            custom = picker->count() - 1;
            picker->insertItem(custom, QString());
            picker->setItemData(custom, true, kCustomColourRole);
        }
        picker->setItemIcon(custom, swatch(colour));
        picker->setItemText(custom,
                            QStringLiteral("$%1").arg(colour, 8, 16, QLatin1Char('0')).toUpper());
        picker->setItemData(custom, colour, kColourRole);
        found = custom;
    }
    picker->setCurrentIndex(found);
}

void NetworkConfigWindow::showDeviceSettings(int index)
{
    const DeviceNode *node =
        session().network().isDevice(index) ? session().network().device(index) : nullptr;
    if (!node)
        return;
    const DeviceNode record = *node;
    // A code the lists do not hold shows no choice rather than a wrong one.
    m_baud->setCurrentIndex(record.speedCode() < m_baud->count() ? record.speedCode() : -1);
    const int port = record.portNumber();
    m_port->setCurrentIndex(port >= 1 && port <= kPortCount ? port - 1 : -1);
    m_address->setValue(record.address());
    m_period->setValue(record.pollPeriod());
    m_arcPath->setText(record.tablePath());
    m_cyclic->setChecked(record.cyclicPoll());
    for (int c = 0; c < 4; ++c) {
        m_shown[c]->setChecked(record.channelShown(c + 1));
        setColourPicker(m_colours[c], record.channelColour(c + 1));
    }
}

void NetworkConfigWindow::fillList()
{
    m_list->clear();
    m_settings->setEnabled(false);
    m_chart->setEnabled(false);
    const DeviceNetwork &network = session().network();
    if (network.entryCount() == 0)
        return;
    // While polling runs the window only shows the values.
    if (!session().polling().switchedOn()) {
        m_settings->setEnabled(true);
        m_chart->setEnabled(true);
    }
    // The main window's selection is left as it is while the list is filled.
    for (int index : network.deviceIndices()) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, network.entry(index).text);
        // The list is narrower than a device description: the tip gives the whole text.
        item->setToolTip(0, network.entry(index).text);
        item->setIcon(0, images::icon(images::kDeviceAnswers));
        item->setData(0, kIndexRole, index);
    }
    if (m_list->topLevelItemCount() == 0)
        return;
    showDeviceSettings(m_list->topLevelItem(0)->data(0, kIndexRole).toInt());
    m_list->setCurrentItem(m_list->topLevelItem(0));
}

void NetworkConfigWindow::showEvent(QShowEvent *event)
{
    EditorWindow::showEvent(event);
    if (!event->spontaneous())
        fillList();
}

void NetworkConfigWindow::closeEvent(QCloseEvent *event)
{
    m_list->setFocus();
    EditorWindow::closeEvent(event);
    try {
        host().ShowDeviceTable();
    } catch (const TableError &e) {
        showGlobalError(e.message());
    }
}

DeviceNode *NetworkConfigWindow::PickDevice(bool *found)
{
    if (found)
        *found = false;
    QTreeWidgetItem *item = m_list->currentItem();
    if (!item) {
        if (m_list->topLevelItemCount() == 0)
            return nullptr;
        item = m_list->topLevelItem(0);
        m_list->setCurrentItem(item);
        showMessage(QStringLiteral("Ошибка доступа к полю дерева."), QString(), MessageIcon::None);
    }
    const int index = item->data(0, kIndexRole).toInt();
    DeviceNetwork &network = session().network();
    DeviceNode *record = network.isDevice(index) ? network.device(index) : nullptr;
    if (!record) {
        // The tree was replaced while the window was open: the list names an entry that is no
        // longer this device, or no device at all. Nothing is changed.
        showMessage(QStringLiteral("Ошибка записи настроек."), QString(), MessageIcon::None);
        return nullptr;
    }
    session().selected().select(index, *record);
    host().highlightSelectedNode();
    if (found)
        *found = true;
    return record;
}

template <typename Change> void NetworkConfigWindow::changePicked(Change change)
{
    bool found = false;
    if (DeviceNode *record = PickDevice(&found)) {
        change(*record);
        if (found)
            change(session().selected().CurrentDevice());
    }
    m_list->setFocus();
}

void NetworkConfigWindow::ComboPortNumChange(int item)
{
    const int chosen = item + 1;
    // An exchange holding the line right now cannot be disturbed; the chosen port is then taken
    // unchecked, and the next exchange on it reports it if it cannot be had.
    const std::optional<QString> refused = session().scan().tryPort(chosen, kProbeSettleMs);
    const bool opened = !refused;
    const QString why = refused.value_or(QString());
    if (!opened) {
        showGlobalError(
            QStringLiteral("Ошибка доступа к порту: COM%1\r\nУстановите другой порт").arg(chosen) +
            (why.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + why));
        m_list->setFocus();
        return;
    }
    changePicked([chosen](DeviceNode &d) { d.setPortNumber(chosen); });
}

void NetworkConfigWindow::EditNetAdrExit()
{
    auto *field = static_cast<SpinField *>(m_address);
    if (!field->inBounds())
        field->setValue(1);
    const int address = field->value();
    changePicked([address](DeviceNode &d) { d.identity()[6] = std::uint8_t(address); });
}

void NetworkConfigWindow::EditPeriodExit()
{
    auto *field = static_cast<SpinField *>(m_period);
    if (!field->inBounds())
        field->setValue(1);
    const int period = field->value();
    changePicked([period](DeviceNode &d) { d.setPollPeriod(period); });
}

void NetworkConfigWindow::EditArcPathExit()
{
    bool found = false;
    DeviceNode *record = PickDevice(&found);
    m_list->setFocus();
    if (!record)
        return;
    const QString typed = m_arcPath->text().trimmed();
    if (typed.isEmpty()) {
        m_arcPath->setText(record->tablePath());
        return;
    }
    const QString name = measurementTableName(typed);
    m_arcPath->setText(name);
    if (cp1251::encode(name).size() > DeviceNode::kTablePathSize - 1) {
        // The record keeps 255 characters: a longer path would log into another table than the
        // one created here.
        showMessage(QStringLiteral("Путь к архиву данных длиннее 255 символов."), QString(),
                    MessageIcon::Exclamation);
        m_arcPath->setText(record->tablePath());
        return;
    }
    try {
        EnsureMeasurementTable(name);
    } catch (const TableError &e) {
        showGlobalError(e.message());
        return;
    }
    record->setTablePath(name);
    if (found)
        session().selected().CurrentDevice().setTablePath(name);
}

void NetworkConfigWindow::browseArcPath()
{
    FileDialogRequest request;
    request.kind = FileDialogRequest::Save;
    request.filter = QStringLiteral("Файлы баз данных dBASE (*.dbf);;All files (*.*)");
    request.defaultSuffix = QStringLiteral("dbf");
    request.fileName = m_arcPath->text();
    const QString chosen = messages().askFileName(request);
    if (chosen.isEmpty())
        return;
    m_arcPath->setText(chosen);
    EditArcPathExit();
}

void NetworkConfigWindow::colourPicked(int channel, int item)
{
    QComboBox *picker = m_colours[channel - 1];
    QVariant value = picker->itemData(item, kColourRole);
    if (!value.isValid()) {
        // "Другой...": any colour at all.
        const QColor chosen = QColorDialog::getColor(Qt::white, this);
        if (!chosen.isValid()) {
            if (QTreeWidgetItem *listed = m_list->currentItem())
                showDeviceSettings(listed->data(0, kIndexRole).toInt());
            return;
        }
        value = deviceValue(chosen);
    }
    const std::uint32_t colour = value.toUInt();
    setColourPicker(picker, colour);
    changePicked([channel, colour](DeviceNode &d) { d.setChannelColour(channel, colour); });
}
