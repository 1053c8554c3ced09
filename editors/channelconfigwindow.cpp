#include "editors/channelconfigwindow.h"

#include "device/channelblock.h"
#include "device/imagefields.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "platform/messageservice.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/controlnames.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr auto kReadFailure =
    "Ошибка чтения параметров каналов.\r\nПроверьте параметры настройки сети.";
constexpr auto kWriteFailure = "Ошибка записи настроек каналов \r\nПроверьте подключение";

using Controls = ChannelConfigWindow::ChannelControls;

// The numeric fields of an input: caption, name, bounds, decimals shown, longest entry.
struct NumberRow
{
    const char *caption;
    const char *name;
    double minimum, maximum;
    int decimals, longest;
    NumericField *Controls::*field;
};
constexpr NumberRow kNumberRows[] = {
    {"Начало диап.: ", "EditDiapBg", -9999, 9999, 0, 5, &Controls::rangeStart},
    {"Конец диап.: ", "EditDiapEnd", -9999, 9999, 0, 6, &Controls::rangeEnd},
    {"Поправка темп.: ", "EditPoprT", -9.9, 9.9, 1, 4, &Controls::correction},
    {"Время фильтр.: ", "EditTf", 0, 99.9, 1, 4, &Controls::filter},
};

struct ListRow
{
    const char *caption;
    const char *name;
    QComboBox *Controls::*list;
};
constexpr ListRow kListRows[] = {
    {"Тип датчика: ", "ComboTypeD", &Controls::type},
    {"Характеристика: ", "ComboHarakt", &Controls::characteristic},
    {"Подключение: ", "ComboShema", &Controls::scheme},
    {"Положение точки: ", "ComboZptPos", &Controls::point},
};

} // namespace

ChannelConfigWindow::ChannelConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Channels))
{
    buildControls();
    declareCommandPanels({m_panel});
    // The polled values of the selected device, while the window shows.
    connect(&session.polling(), &PollingCycle::valuesPolled, this,
            [this](int, const std::array<double, 4> &values, bool selected) {
                if (!selected || !isVisible())
                    return;
                for (int n = 1; n <= channel::kChannels; ++n)
                    controls(n).value->setValue(values[n - 1]);
            });
}

void ChannelConfigWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Настройки каналов"), this);
    group->setObjectName(QStringLiteral("GroupChanInfo"));
    m_group = group;
    auto *grid = new QGridLayout(group);
    layout->addWidget(group);

    // Row captions in the first column; each row's caption names the X1 control, and every
    // control carries "caption Xn" for assistive tools.
    int row = 0;
    auto caption = [&](const QString &text, QWidget *first) {
        auto *label = new QLabel(text, group);
        label->setBuddy(first);
        grid->addWidget(label, row, 0);
    };
    auto place = [&](QWidget *w, const QString &name, int n, const QString &accessible) {
        w->setObjectName(name + QString::number(n));
        w->setAccessibleName(accessible.trimmed() + QStringLiteral(" X%1").arg(n));
        grid->addWidget(w, row, n);
    };

    for (int n = 1; n <= channel::kChannels; ++n) {
        auto *head = new QLabel(QStringLiteral("X%1").arg(n), group);
        head->setAlignment(Qt::AlignCenter);
        grid->addWidget(head, row, n);
    }
    ++row;
    for (int n = 1; n <= channel::kChannels; ++n) {
        auto *on = new QCheckBox(group);
        m_channels[n - 1].on = on;
        place(on, QStringLiteral("CheckChanOnOff"), n, QStringLiteral("Канал"));
        connect(on, &QCheckBox::toggled, this, [this, on]() { CheckChanOnOff1Click(on); });
        CheckChanOnOff1Click(on);
    }
    ++row;
    for (int n = 1; n <= channel::kChannels; ++n) {
        auto *text = new QLineEdit(group);
        m_channels[n - 1].description = text;
        text->setMaxLength(channel::kDescriptionChars);
        place(text, QStringLiteral("EditInpOpisStr"), n, QStringLiteral("Описание"));
        if (n == 1)
            caption(QStringLiteral("Описание: "), text);
    }
    ++row;
    for (int n = 1; n <= channel::kChannels; ++n) {
        auto *cell = new QWidget(group);
        auto *box = new QHBoxLayout(cell);
        box->setContentsMargins(0, 0, 0, 0);
        auto *value = new NumericField(-1e9, 1e9, 2, 12, cell);
        value->setObjectName(QStringLiteral("EditValX%1").arg(n));
        value->setAccessibleName(QStringLiteral("Значение X%1").arg(n));
        value->setReadOnly(true);
        m_channels[n - 1].value = value;
        auto *unit = new QCheckBox(cell);
        m_channels[n - 1].unit = unit;
        unit->setObjectName(QStringLiteral("CheckRazm%1").arg(n));
        unit->setAccessibleName(QStringLiteral("Единица X%1").arg(n));
        connect(unit, &QCheckBox::toggled, this, [this, unit]() { CheckRazmClick(unit); });
        CheckRazmClick(unit);
        box->addWidget(value, 1);
        box->addWidget(unit);
        grid->addWidget(cell, row, n);
        if (n == 1)
            caption(QStringLiteral("Значение: "), value);
    }
    ++row;
    for (int n = 1; n <= channel::kChannels; ++n) {
        auto *sqrt = new QCheckBox(QStringLiteral("Корнеизвлечение"), group);
        m_channels[n - 1].squareRoot = sqrt;
        place(sqrt, QStringLiteral("CheckSqrt"), n, QStringLiteral("Корнеизвлечение"));
    }
    ++row;

    for (const ListRow &list : kListRows) {
        for (int n = 1; n <= channel::kChannels; ++n) {
            auto *combo = new QComboBox(group);
            m_channels[n - 1].*list.list = combo;
            place(combo, QLatin1String(list.name), n, QString::fromUtf8(list.caption));
            if (n == 1)
                caption(QString::fromUtf8(list.caption), combo);
        }
        ++row;
    }
    for (const NumberRow &r : kNumberRows) {
        for (int n = 1; n <= channel::kChannels; ++n) {
            auto *field = new NumericField(r.minimum, r.maximum, r.decimals, r.longest, group);
            m_channels[n - 1].*r.field = field;
            place(field, QLatin1String(r.name), n, QString::fromUtf8(r.caption));
            if (n == 1)
                caption(QString::fromUtf8(r.caption), field);
        }
        ++row;
    }

    for (int n = 1; n <= channel::kChannels; ++n) {
        const ChannelControls &c = controls(n);
        QComboBox *type = c.type, *scheme = c.scheme, *characteristic = c.characteristic;
        type->addItems(channel::sensorTypeItems());
        scheme->addItems(channel::schemeItems(n));
        scheme->setEnabled(false);
        c.point->addItems(channel::pointPositionItems());
        connect(type, &QComboBox::activated, this, [this, type]() { ComboTypeDChange(type); });
        connect(characteristic, &QComboBox::activated, this,
                [this, characteristic]() { ComboHaraktChange(characteristic); });
        if (n > 1)
            connect(scheme, &QComboBox::activated, this,
                    [this, scheme]() { ComboHaraktChange(scheme); });
    }

    const ReadWritePanel p = makeReadWritePanel(
        this, QStringLiteral("Panel1"), QStringLiteral("ButtonChanRead"),
        QStringLiteral("ButtonChanWrite"), [this] { ButtonChanReadClick(); },
        [this] { ButtonChanWriteClick(); });
    std::tie(m_panel, m_read, m_write) = std::tie(p.panel, p.read, p.write);
    layout->addWidget(m_panel);
}

// ---- Handlers shared by the four inputs

void ChannelConfigWindow::CheckChanOnOff1Click(QObject *sender)
{
    auto *box = qobject_cast<QCheckBox *>(sender);
    if (!box)
        return;
    const bool on = box->isChecked();
    box->setText(on ? QStringLiteral("Включен") : QStringLiteral("Выключен"));
    QPalette p = box->palette();
    p.setColor(QPalette::Window, on ? kAqua : kNavy);
    p.setColor(QPalette::Button, on ? kAqua : kNavy);
    p.setColor(QPalette::WindowText, on ? kNavy : kAqua);
    p.setColor(QPalette::ButtonText, on ? kNavy : kAqua);
    box->setPalette(p);
    box->setAutoFillBackground(true);
}

void ChannelConfigWindow::CheckRazmClick(QObject *sender)
{
    if (auto *box = qobject_cast<QCheckBox *>(sender))
        box->setText(box->isChecked() ? QStringLiteral("%") : QStringLiteral("°C"));
}

void ChannelConfigWindow::ComboTypeDChange(QObject *sender)
{
    const int n = controlNumber(sender, channel::kChannels);
    if (n == 0)
        return;
    const ChannelControls &c = controls(n);
    QComboBox *type = c.type, *characteristic = c.characteristic, *point = c.point,
              *scheme = c.scheme;
    QCheckBox *unit = c.unit;
    NumericField *start = c.rangeStart, *end = c.rangeEnd;

    // No type and codes the list lacks count as a thermocouple; a resistance thermometer is
    // allowed on X1 only.
    bool moved = false;
    const int code = channel::shownSensorType(type->currentIndex(), n, &moved);
    type->setCurrentIndex(code);
    if (moved)
        showMessage(
            QStringLiteral("  Термометр сопротивления включается\r\n\tтолько на первый канал"),
            QString(), MessageIcon::Information);

    characteristic->clear();
    characteristic->addItems(channel::characteristicItems(code));
    characteristic->setCurrentIndex(0);
    start->setEnabled(true);
    end->setEnabled(true);
    switch (code) {
    case channel::Thermocouple:
        point->setCurrentIndex(0);
        point->setEnabled(false);
        // X1's list has an empty item to show; the others show no selection.
        scheme->setCurrentIndex(n == 1 ? 0 : -1);
        scheme->setEnabled(false);
        unit->setVisible(true);
        break;
    case channel::UnifiedSignal:
        scheme->setCurrentIndex(n == 1 ? 0 : -1);
        scheme->setEnabled(false);
        point->setEnabled(true);
        unit->setVisible(false);
        break;
    case channel::ResistanceThermometer:
        point->setCurrentIndex(1);
        point->setEnabled(false);
        scheme->setCurrentIndex(1);
        scheme->setEnabled(true);
        unit->setVisible(true);
        break;
    }
    ComboHaraktChange(sender);
}

void ChannelConfigWindow::ComboHaraktChange(QObject *sender)
{
    const int n = controlNumber(sender, channel::kChannels);
    if (n == 0)
        return;
    const ChannelControls &c = controls(n);
    const int type = c.type->currentIndex();
    const int characteristic = c.characteristic->currentIndex();
    QComboBox *point = c.point;
    if (type == channel::NoSensor || type == channel::Thermocouple)
        point->setCurrentIndex(0);
    const auto range = channel::defaultRange(type, characteristic);
    if (!range)
        return;
    c.rangeStart->setValue(range->start);
    c.rangeEnd->setValue(range->end);
    if (range->pointPosition)
        point->setCurrentIndex(*range->pointPosition);
}

// ---- Reading and writing

namespace {

HoldingBlock descriptionBlock(int n)
{
    return {regmap::channelName(n), regmap::kNameBytes};
}

HoldingBlock settingsBlock(int n)
{
    return {regmap::channel(n), regmap::kChannelBytes};
}

} // namespace

ExchangeOutcome ChannelConfigWindow::ButtonChanReadClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kReadFailure);
    options.busy = {m_panel, m_group, m_read};
    options.readsControls = true;
    return runExchange(options, [this](ExchangeRun &run) { ChanRead(run); });
}

ExchangeOutcome ChannelConfigWindow::ButtonChanWriteClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kWriteFailure);
    options.busy = {m_group, m_write};
    for (int n = 1; n <= channel::kChannels; ++n)
        options.writesFromControls << descriptionBlock(n) << settingsBlock(n);
    return runExchange(options, [this](ExchangeRun &run) { ChanWrite(run); });
}

void ChannelConfigWindow::ChanRead(ExchangeRun &run)
{
    for (int n = 1; n <= channel::kChannels; ++n) {
        if (ReadChanInfo(run, n))
            break;
    }
}

void ChannelConfigWindow::ChanWrite(ExchangeRun &run)
{
    for (int n = 1; n <= channel::kChannels; ++n) {
        if (WriteChanInfo(run, n))
            break;
    }
}

bool ChannelConfigWindow::ReadChanInfo(ExchangeRun &run, int n)
{
    const int failuresBefore = run.failures();
    const ChannelControls &c = controls(n);

    if (readSettings(run, descriptionBlock(n)) == 0)
        c.description->setText(
            channel::description(imageBlock<channel::kDescriptionBytes>(descriptionBlock(n))));

    if (readSettings(run, settingsBlock(n)) == 0) {
        const ChannelBlock block =
            ChannelBlock::decode(imageBlock<ChannelBlock::kBytes>(settingsBlock(n)));
        c.on->setChecked(block.on);
        c.squareRoot->setChecked(block.squareRoot);
        c.type->setCurrentIndex(block.sensorType < c.type->count() ? block.sensorType : 0);
        ComboTypeDChange(c.type);
        auto select = [](QComboBox *list, int index) {
            list->setCurrentIndex(index < list->count() ? index : -1);
        };
        select(c.scheme, block.scheme);
        select(c.characteristic, block.characteristic);
        select(c.point, block.pointPosition);
        c.unit->setChecked(block.percent);
        c.rangeStart->setDecimals(block.pointPosition);
        c.rangeEnd->setDecimals(block.pointPosition);
        c.rangeStart->setValue(block.rangeStart);
        c.rangeEnd->setValue(block.rangeEnd);
        c.correction->setValue(block.correction);
        c.filter->setValue(block.filterTenths / 10.0);
    }

    if (readData(run, regmap::measuredValue(n), 4) == 0)
        c.value->setValue(double(
            channel::measuredValue(field::block<4>(device().inputs(), regmap::measuredValue(n)))));

    return run.failures() > failuresBefore;
}

bool ChannelConfigWindow::WriteChanInfo(ExchangeRun &run, int n)
{
    const int failuresBefore = run.failures();
    const ChannelControls &c = controls(n);

    const auto description = imageBlock<channel::kDescriptionBytes>(descriptionBlock(n));
    channel::setDescription(description, c.description->text());
    c.description->setText(channel::description(description));
    writeSettings(run, descriptionBlock(n));

    // Byte 3 is not the window's: it must be this device's before the block goes out.
    if (ensureOwn(run, settingsBlock(n)) == 0) {
        const auto bytes = imageBlock<ChannelBlock::kBytes>(settingsBlock(n));
        ChannelBlock block = ChannelBlock::decode(bytes);
        block.on = c.on->isChecked();
        block.sensorType = c.type->currentIndex();
        block.characteristic = c.characteristic->currentIndex();
        block.squareRoot = c.squareRoot->isChecked();
        block.pointPosition = c.point->currentIndex();
        block.percent = c.unit->isChecked();
        block.scheme = channel::schemeCode(c.scheme->currentIndex());
        block.rangeStart = float(c.rangeStart->value());
        block.rangeEnd = float(c.rangeEnd->value());
        block.correction = float(c.correction->value());
        block.filterTenths = channel::filterTenths(c.filter->value()).value_or(block.filterTenths);
        block.encode(bytes);
        writeSettings(run, settingsBlock(n));
    }
    return run.failures() > failuresBefore;
}
