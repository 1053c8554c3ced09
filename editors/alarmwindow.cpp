#include "editors/alarmwindow.h"

#include "device/alarmblock.h"
#include "device/channelblock.h"
#include "device/commonblock.h"
#include "device/pointposition.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "session/session.h"
#include "windowkit/controlnames.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr auto kReadFailure = "Ошибка чтения настроек сигнализации \r\nПроверьте подключение";
constexpr auto kWriteFailure = "Ошибка записи настроек сигнализации\r\nПроверьте подключение.";
// Both commands wait this long for another window's exchange to give up the port.
constexpr int kPortWaitMs = 10000;

const QColor kRed(255, 0, 0);

using Controls = AlarmWindow::ComparatorControls;

// A comparator's state: its text is aqua on red and navy on anything else, also when the
// background comes back from the stored per-device state, which keeps only the background.
class StateIndicator : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange) {
            const QColor text = palette().color(backgroundRole()) == kRed ? kAqua : kNavy;
            if (palette().color(foregroundRole()) != text) {
                QPalette p = palette();
                p.setColor(foregroundRole(), text);
                setPalette(p);
            }
        }
        QLabel::changeEvent(event);
    }
};

struct ListRow
{
    const char *caption;
    const char *name;
    QComboBox *Controls::*list;
    QStringList (*items)();
};
const ListRow kListRows[] = {
    {"Вход: ", "ComboInpAlarm", &Controls::input, &alarms::inputItems},
    {"Выход: ", "ComboOutAlarm", &Controls::output, &alarms::outputItems},
    {"Функция: ", "ComboFuncAlarm", &Controls::function, &alarms::functionItems},
};

// The hysteresis is an unsigned number: nothing below zero can be stored.
struct NumberRow
{
    const char *caption;
    const char *name;
    double minimum, maximum;
    int longest;
    NumericField *Controls::*field;
};
constexpr NumberRow kNumberRows[] = {
    {"Порог:", "EditLevelAlarm", -999.9, 99.9, 6, &Controls::threshold},
    {"Гистеризис:", "EditDeltaAlarm", 0, 99.9, 5, &Controls::hysteresis},
};

constexpr HoldingBlock kAlarmBlock{regmap::kAlarms, regmap::kAlarmsBytes};
constexpr HoldingBlock kCommon{regmap::kCommonBlock, regmap::kCommonBlockBytes};

// The first register of an input's channel block, which holds its point position.
HoldingBlock pointPositionRegister(int input)
{
    return {regmap::channel(input), 2};
}

// From the point position's byte, the second half of that register.
HoldingBlock pointPositionByte(int input, std::uint16_t length)
{
    return {std::uint16_t(regmap::channel(input) + 1), length};
}

QString head(int k)
{
    return QStringLiteral("№%1").arg(k);
}

} // namespace

AlarmWindow::AlarmWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Alarms))
{
    buildControls();
    declareCommandPanels({m_panel});
    resize(760, 520);
}

void AlarmWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    auto *comparators = new QGroupBox(QStringLiteral("Предельные компараторы"), this);
    comparators->setObjectName(QStringLiteral("GroupAlarmPar"));
    m_comparatorGroup = comparators;
    buildComparators(comparators);
    layout->addWidget(comparators);

    auto *lower = new QHBoxLayout;
    lower->addWidget(buildMode(), 1);
    auto *outputs = new QGroupBox(QStringLiteral("Состояние выходов"), this);
    outputs->setObjectName(QStringLiteral("GroupOutState"));
    lower->addWidget(outputs, 1);
    layout->addLayout(lower);

    const ReadWritePanel p = makeReadWritePanel(
        this, QStringLiteral("Panel1"), QStringLiteral("ButtonAlarmRead"),
        QStringLiteral("ButtonAlarmWrite"), [this] { ButtonAlarmReadClick(); },
        [this] { ButtonAlarmWriteClick(); });
    std::tie(m_panel, m_read, m_write) = std::tie(p.panel, p.read, p.write);
    layout->addWidget(m_panel);
}

void AlarmWindow::buildComparators(QWidget *group)
{
    auto *grid = new QGridLayout(group);
    // Row captions in the first column name comparator 1's control; every control carries
    // "caption №k" for assistive tools.
    int row = 0;
    auto caption = [&](const QString &text, QWidget *first) {
        auto *label = new QLabel(text, group);
        label->setBuddy(first);
        grid->addWidget(label, row, 0);
    };
    auto name = [](QWidget *w, const QString &base, int k, const QString &accessible) {
        w->setObjectName(base + QString::number(k));
        w->setAccessibleName(accessible.trimmed() + QLatin1Char(' ') + head(k));
    };

    for (int k = 1; k <= kComparators; ++k) {
        auto *label = new QLabel(head(k), group);
        label->setAlignment(Qt::AlignCenter);
        grid->addWidget(label, row, k);
    }
    ++row;
    for (int k = 1; k <= kComparators; ++k) {
        auto *cell = new QWidget(group);
        auto *box = new QVBoxLayout(cell);
        box->setContentsMargins(0, 0, 0, 0);
        auto *on = new QCheckBox(cell);
        name(on, QStringLiteral("CheckAlarm"), k, QStringLiteral("Статус"));
        auto *state = new StateIndicator(cell);
        name(state, QStringLiteral("StaticCompStat"), k, QStringLiteral("Состояние"));
        state->setAlignment(Qt::AlignCenter);
        state->setAutoFillBackground(true);
        QPalette p = state->palette();
        p.setColor(state->backgroundRole(), kAqua);
        state->setPalette(p);
        box->addWidget(on);
        box->addWidget(state);
        grid->addWidget(cell, row, k);
        m_comparators[k - 1].on = on;
        m_comparators[k - 1].state = state;
        connect(on, &QCheckBox::toggled, this, [this, on]() { CheckAlarmClick(on); });
        CheckAlarmClick(on);
        if (k == 1)
            caption(QStringLiteral("Статус:"), on);
    }
    ++row;
    for (const ListRow &r : kListRows) {
        for (int k = 1; k <= kComparators; ++k) {
            auto *combo = new QComboBox(group);
            combo->addItems(r.items());
            name(combo, QLatin1String(r.name), k, QString::fromUtf8(r.caption));
            m_comparators[k - 1].*r.list = combo;
            grid->addWidget(combo, row, k);
            if (k == 1)
                caption(QString::fromUtf8(r.caption), combo);
        }
        ++row;
    }
    for (const NumberRow &r : kNumberRows) {
        for (int k = 1; k <= kComparators; ++k) {
            auto *field = new NumericField(r.minimum, r.maximum, 0, r.longest, group);
            field->setDecimalsFollowValue(pointpos::kMaxPosition);
            name(field, QLatin1String(r.name), k, QString::fromUtf8(r.caption));
            m_comparators[k - 1].*r.field = field;
            grid->addWidget(field, row, k);
            if (k == 1)
                caption(QString::fromUtf8(r.caption), field);
        }
        ++row;
    }
}

QWidget *AlarmWindow::buildMode()
{
    auto *group = new QGroupBox(QStringLiteral("Режим работы"), this);
    group->setObjectName(QStringLiteral("GroupAlarmMode"));
    m_modeGroup = group;
    auto *layout = new QVBoxLayout(group);

    auto *paramRow = new QHBoxLayout;
    m_paramY2 = new QComboBox(group);
    m_paramY2->setObjectName(QStringLiteral("ComboParamY2"));
    m_paramY2->addItems(alarms::outputY2Items());
    auto *paramLabel = new QLabel(QStringLiteral("Параметр на выходе Y2:"), group);
    paramLabel->setBuddy(m_paramY2);
    paramRow->addWidget(paramLabel);
    paramRow->addWidget(m_paramY2, 1);
    layout->addLayout(paramRow);

    m_sound = new QCheckBox(QStringLiteral("Звуковой сигнал при срабатывании"), group);
    m_sound->setObjectName(QStringLiteral("CheckAlarmSound"));
    layout->addWidget(m_sound);
    m_offAfterTenSeconds = new QCheckBox(QStringLiteral("Отключение 10 сек/клавиша"), group);
    m_offAfterTenSeconds->setObjectName(QStringLiteral("CheckAlarmOff"));
    layout->addWidget(m_offAfterTenSeconds);

    auto *initial = new QGroupBox(QStringLiteral("Исходное состояние выходов"), group);
    initial->setObjectName(QStringLiteral("GroupIshOut"));
    auto *initialRow = new QHBoxLayout(initial);
    for (int y = 3; y <= 5; ++y) {
        auto *box = new QCheckBox(QStringLiteral("Выход Y%1").arg(y), initial);
        box->setObjectName(QStringLiteral("CheckIshY%1").arg(y));
        initialRow->addWidget(box);
        m_initialOutputs[y - 3] = box;
    }
    layout->addWidget(initial);
    return group;
}

// ---- Handlers shared by the comparators

void AlarmWindow::CheckAlarmClick(QObject *sender)
{
    if (auto *box = qobject_cast<QCheckBox *>(sender))
        box->setText(box->isChecked() ? QStringLiteral("Вкл.") : QStringLiteral("Выкл."));
}

void AlarmWindow::showState(QLabel *indicator, bool tripped)
{
    indicator->setText(tripped ? QStringLiteral("ВКЛ.") : QStringLiteral("ВЫКЛ."));
    QPalette p = indicator->palette();
    p.setColor(indicator->backgroundRole(), tripped ? kRed : kAqua);
    indicator->setPalette(p);
}

// ---- Reading and writing

ExchangeOutcome AlarmWindow::ButtonAlarmReadClick()
{
    ExchangeOptions options;
    options.takePortMutex = true;
    options.mutexTimeoutMs = kPortWaitMs;
    options.failureText = QString::fromUtf8(kReadFailure);
    options.busy = {m_panel, m_comparatorGroup, m_read};
    options.readsControls = true;
    // A failed read leaves the controls as they were.
    options.afterSuccess = [this] { AlarmRead(); };
    return runExchange(options, [this](ExchangeRun &run) { AlarmGet(run); });
}

ExchangeOutcome AlarmWindow::ButtonAlarmWriteClick()
{
    ExchangeOptions options;
    options.takePortMutex = true;
    options.mutexTimeoutMs = kPortWaitMs;
    options.failureText = QString::fromUtf8(kWriteFailure);
    options.busy = {m_write, m_panel, m_comparatorGroup, m_read};
    // Byte 1 of every comparator goes back as read: only from this device.
    options.writesFromControls = {kAlarmBlock};
    return runExchange(options, [this](ExchangeRun &run) {
        if (AlarmWrite(run))
            AlarmPut(run);
    });
}

void AlarmWindow::AlarmGet(ExchangeRun &run)
{
    readSettings(run, kAlarmBlock);
    for (int input = 1; input <= 4; ++input)
        readSettings(run, pointPositionByte(input, 1));
    readSettings(run, kCommon);
    // The states come without a log line, straight from the link.
    run.check(device().readDiscreteInputs(regmap::kAlarmStates, kComparators));
}

void AlarmWindow::AlarmRead()
{
    const AlarmBlock block = AlarmBlock::decode(imageBlock<AlarmBlock::kBytes>(kAlarmBlock));
    for (int k = 1; k <= kComparators; ++k) {
        const Comparator &c = block.comparators[k - 1];
        const ComparatorControls &w = controls(k);
        w.on->setChecked(c.on);
        w.input->setCurrentIndex(c.input);
        w.output->setCurrentIndex(c.output);
        w.function->setCurrentIndex(c.above ? 1 : 0);
        const int p =
            ChannelBlock::pointPositionOf(imageBlock<2>(pointPositionRegister(c.input + 1)));
        w.threshold->setValue(alarms::threshold(c, p));
        w.hysteresis->setValue(alarms::hysteresis(c, p));
    }

    const CommonBlock common = CommonBlock::decode(imageBlock<CommonBlock::kBytes>(kCommon));
    m_offAfterTenSeconds->setChecked(common.alarmOffAfterTenSeconds());
    m_sound->setChecked(common.alarmSound());
    for (int y = 3; y <= 5; ++y)
        m_initialOutputs[y - 3]->setChecked(common.initialOutput(y));
    // Codes the list lacks show no selection, and a write then keeps the device's code.
    const int param = common.outputY2Parameter();
    m_paramY2->setCurrentIndex(param < m_paramY2->count() ? param : -1);

    for (int k = 1; k <= kComparators; ++k)
        showState(controls(k).state, device().discreteInput(regmap::kAlarmStates + k - 1));
}

bool AlarmWindow::AlarmWrite(ExchangeRun &run)
{
    const int failuresBefore = run.failures();
    for (int input = 1; input <= 4; ++input)
        readSettings(run, pointPositionByte(input, 2));
    // Thresholds scaled by a point position that may no longer be the device's would trip the
    // comparators somewhere else.
    if (run.failures() > failuresBefore)
        return false;

    const auto bytes = imageBlock<AlarmBlock::kBytes>(kAlarmBlock);
    AlarmBlock block = AlarmBlock::decode(bytes);
    for (int k = 1; k <= kComparators; ++k) {
        Comparator &c = block.comparators[k - 1];
        const ComparatorControls &w = controls(k);
        c.on = w.on->isChecked();
        c.input = w.input->currentIndex() & 0x03;
        c.output = w.output->currentIndex() & 0x03;
        c.above = w.function->currentIndex() > 0;
        const int p =
            ChannelBlock::pointPositionOf(imageBlock<2>(pointPositionRegister(c.input + 1)));
        const auto threshold = alarms::storedThreshold(w.threshold->value(), p);
        const auto hysteresis = alarms::storedHysteresis(w.hysteresis->value(), p);
        // At the input's point position the number would reach the device as another one: a
        // wrong entry, not a failed exchange.
        if (!threshold || !hysteresis) {
            (threshold ? w.hysteresis : w.threshold)->refuseShown();
            return false;
        }
        c.threshold = *threshold;
        c.hysteresis = *hysteresis;
    }
    block.encode(bytes);
    return true;
}

void AlarmWindow::AlarmPut(ExchangeRun &run)
{
    writeSettings(run, kAlarmBlock);
    const bool off = m_offAfterTenSeconds->isChecked();
    const bool sound = m_sound->isChecked();
    const bool y3 = m_initialOutputs[0]->isChecked();
    const bool y4 = m_initialOutputs[1]->isChecked();
    const bool y5 = m_initialOutputs[2]->isChecked();
    const int param = m_paramY2->currentIndex();
    writeCommonBlock(run, [=](CommonBlock &common) {
        common.setAlarmSettings(off, sound, y3, y4, y5);
        common.setOutputY2Parameter(param >= 0 ? param : common.outputY2Parameter());
    });
}
