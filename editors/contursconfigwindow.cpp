#include "editors/contursconfigwindow.h"

#include "device/channelblock.h"
#include "device/loopblock.h"
#include "device/pointposition.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "platform/messageservice.h"
#include "session/session.h"
#include "windowkit/controlnames.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr auto kReadFailure = "Ошибка чтения настроек контура-%1\r\nПроверьте подключение.";
constexpr auto kWriteFailure = "Ошибка записи настроек контура-%1\r\nПроверьте подключение.";
constexpr auto kViewFailure = "Ошибка чтения отладочных параметров\r\nПроверьте подключение.";
constexpr auto kInvalidEntry = "Проверьте правильность ввода";

constexpr double kUnbounded = 1e12;
// Fields that show a device number divided back show as many decimals as it has, at most these.
constexpr int kAsManyAsItHas = 6;

using Controls = ContursConfigWindow::LoopControls;

// The unbounded number fields of "Параметры управления" below the setpoint row.
struct NumberRow
{
    const char *caption;
    const char *name;
    int longest;
    NumericField *Controls::*field;
};
constexpr NumberRow kControlRows[] = {
    {"Время изменения Xзд :", "EditVzd", 12, &Controls::vzd},
    {"Нижняя граница DX (%):", "EditDXn", 5, &Controls::dxLow},
    {"Верхняя граница DX (%):", "EditDXv", 12, &Controls::dxHigh},
    {"Время перемещ.Тиу (Ун):", "EditTiu_Un", 12, &Controls::tiu},
    {"Мин. длит. имп. Тимп (Ув):", "EditTimp_Uv", 12, &Controls::timp},
    {"Постоянная времени To:", "EditTo", 12, &Controls::to},
    {"Коэфф. активности Ko:", "EditKo", 12, &Controls::ko},
    {"Время запаздывания Tz:", "EditTz", 12, &Controls::tz},
    {"Параметр V5:", "EditV5", 12, &Controls::v5},
};

struct LawRow
{
    const char *caption;
    const char *name;
    double maximum;
    int decimals;
    NumericField *Controls::*field;
};
constexpr LawRow kLawRows[] = {
    {"Коэффициент Кп:", "EditKp_a", 99.99, 2, &Controls::kp},
    {"Коэффициент Ки:", "EditKi_b", 0.9999, 4, &Controls::ki},
    {"Коэффициент Кд:", "EditKd_c", 999, 0, &Controls::kd},
};

struct CheckRow
{
    const char *caption;
    const char *name;
    QCheckBox *Controls::*box;
};
constexpr CheckRow kModeRows[] = {
    {"Автоматический режим", "RevimKont", &Controls::manual},
    {"Контур выключен", "CheckOn_Off", &Controls::on},
    {"Лианеризация CX контура", "CheckLinCX", &Controls::linearization},
    {"Прогноз", "CheckPrognoz", &Controls::forecast},
    {"Регулирование по программе", "CheckProg", &Controls::byProgram},
};

HoldingBlock descriptionBlock(int n)
{
    return {regmap::loopName(n), regmap::kNameBytes};
}
HoldingBlock mainBlock(int n)
{
    return {regmap::loopMain(n), regmap::kLoopMainBytes};
}
HoldingBlock coefficientsBlock(int n)
{
    return {regmap::loopExtra(n), regmap::kLoopExtraBytes};
}
HoldingBlock linearizationBlock(int n)
{
    return {regmap::loopTuning(n), regmap::kLoopTuningBytes};
}
HoldingBlock channelBlock(int input)
{
    return {regmap::channel(input), regmap::kChannelBytes};
}

QString numbered(const char *name, int n)
{
    return QLatin1String(name) + QString::number(n);
}

} // namespace

ContursConfigWindow::ContursConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Loops))
{
    auto *layout = new QVBoxLayout(this);
    auto *pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    pages->setAccessibleName(QStringLiteral("Страницы контуров"));
    pages->tabBar()->setAccessibleName(QStringLiteral("Страницы контуров"));
    layout->addWidget(pages);
    for (int n = 1; n <= loop::kLoops; ++n)
        pages->addTab(buildLoopPage(n), QStringLiteral("Контур-%1").arg(n));
    pages->addTab(buildViewPage(), QStringLiteral("Просмотр контуров"));
    // A field without bounds refuses only what is no number; it falls back to no value rather
    // than to its nominal lower bound.
    for (NumericField *f : findChildren<NumericField *>()) {
        if (f->minimum() == -kUnbounded)
            f->setFallback(0);
    }

    // The view's lines are the live values of the device they were read from.
    connect(&session.selected(), &SelectedDevice::selectionChanged, this,
            &ContursConfigWindow::clearView);
    declareCommandPanels(
        {controls(1).panel, controls(2).panel, controls(1).refresh, controls(2).refresh});
}

QWidget *ContursConfigWindow::buildLoopPage(int n)
{
    LoopControls &c = m_loops[n - 1];
    auto *page = new QWidget;
    page->setObjectName(numbered("TabKont", n));
    auto *columns = new QHBoxLayout(page);
    auto *left = new QVBoxLayout;
    auto *right = new QVBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    auto label = [](const QString &text, QWidget *buddy, QWidget *parent) {
        auto *l = new QLabel(text, parent);
        l->setBuddy(buddy);
        return l;
    };
    auto number = [&](const char *name, double minimum, double maximum, int decimals, int longest,
                      QWidget *parent) {
        auto *f = new NumericField(minimum, maximum, decimals, longest, parent);
        if (decimals == kAsManyAsItHas)
            f->setDecimalsFollowValue(kAsManyAsItHas);
        f->setObjectName(numbered(name, n));
        return f;
    };
    auto list = [&](const char *name, const QStringList &items, QWidget *parent) {
        auto *combo = new QComboBox(parent);
        combo->setObjectName(numbered(name, n));
        combo->addItems(items);
        return combo;
    };

    // "Конфигурация контура"
    auto *config = new QGroupBox(QStringLiteral("Конфигурация контура"), page);
    auto *configGrid = new QGridLayout(config);
    c.input = list("ComboInp", loop::inputItems(), config);
    c.output = list("ComboOut", loop::outputItems(), config);
    c.law = list("ComboZakon", loop::lawItems(), config);
    c.program = list("ComboN_Prog", loop::programItems(), config);
    const std::pair<const char *, QComboBox *> configRows[] = {{"Рабочие входы:", c.input},
                                                               {"Рабочие выходы:", c.output},
                                                               {"Закон:", c.law},
                                                               {"Номер программы :", c.program}};
    int row = 0;
    for (const auto &[caption, combo] : configRows) {
        configGrid->addWidget(label(QString::fromUtf8(caption), combo, config), row, 0);
        configGrid->addWidget(combo, row++, 1);
    }
    left->addWidget(config);

    auto *descriptionRow = new QHBoxLayout;
    c.description = new QLineEdit(page);
    c.description->setObjectName(numbered("EditOpisKont", n));
    c.description->setMaxLength(channel::kDescriptionChars);
    descriptionRow->addWidget(label(QStringLiteral("Описание контура: "), c.description, page));
    descriptionRow->addWidget(c.description, 1);
    left->addLayout(descriptionRow);

    // "Параметры управления"
    auto *control = new QGroupBox(QStringLiteral("Параметры управления"), page);
    auto *controlGrid = new QGridLayout(control);
    row = 0;
    c.setpoint = number("EditXzd", -kUnbounded, kUnbounded, kAsManyAsItHas, 12, control);
    c.percent = new QCheckBox(QStringLiteral("%"), control);
    c.percent->setObjectName(numbered("CheckXzdRazm", n));
    c.percent->setAccessibleName(QStringLiteral("Задание в %"));
    controlGrid->addWidget(label(QStringLiteral("Xзд в авт. режиме:"), c.setpoint, control), row,
                           0);
    auto *setpointRow = new QHBoxLayout;
    setpointRow->addWidget(c.setpoint, 1);
    setpointRow->addWidget(c.percent);
    controlGrid->addLayout(setpointRow, row++, 1);
    for (const NumberRow &r : kControlRows) {
        NumericField *f =
            number(r.name, -kUnbounded, kUnbounded, kAsManyAsItHas, r.longest, control);
        c.*r.field = f;
        controlGrid->addWidget(label(QString::fromUtf8(r.caption), f, control), row, 0);
        controlGrid->addWidget(f, row++, 1);
    }
    controlGrid->addWidget(new QLabel(QStringLiteral("Коэфф. рассогласования:"), control), row++, 0,
                           1, 2);
    auto *mismatch = new QGridLayout;
    for (int k = 0; k < loop::kMismatch; ++k) {
        auto *f = new NumericField(-kUnbounded, kUnbounded, kAsManyAsItHas, 12, control);
        f->setDecimalsFollowValue(kAsManyAsItHas);
        f->setObjectName(QStringLiteral("EditRassA%1%2").arg(k + 1).arg(n));
        c.mismatch[k] = f;
        mismatch->addWidget(label(QStringLiteral("A%1:").arg(k + 1), f, control), k / 3,
                            2 * (k % 3));
        mismatch->addWidget(f, k / 3, 2 * (k % 3) + 1);
    }
    controlGrid->addLayout(mismatch, row++, 0, 1, 2);
    controlGrid->setColumnStretch(1, 1);
    for (NumericField *f : control->findChildren<NumericField *>())
        f->setMinimumWidth(f->fontMetrics().horizontalAdvance(QStringLiteral("-00000,00")));
    left->addWidget(control);

    // "Параметры закона регулирования"
    auto *law = new QGroupBox(QStringLiteral("Параметры закона регулирования"), page);
    auto *lawGrid = new QGridLayout(law);
    row = 0;
    for (const LawRow &r : kLawRows) {
        NumericField *f = number(r.name, 0, r.maximum, r.decimals, 12, law);
        c.*r.field = f;
        lawGrid->addWidget(label(QString::fromUtf8(r.caption), f, law), row, 0);
        lawGrid->addWidget(f, row++, 1);
    }
    right->addWidget(law);

    // "Линеаризация  контура": shown and written with the loop, never edited here.
    auto *lin = new QGroupBox(QStringLiteral("Линеаризация  контура"), page);
    lin->setObjectName(numbered("GroupLin", n));
    auto *linGrid = new QGridLayout(lin);
    auto *yiLabel = new QLabel(QStringLiteral("Yi : "), lin);
    auto *yoLabel = new QLabel(QStringLiteral("Yo :"), lin);
    linGrid->addWidget(yiLabel, 1, 0);
    linGrid->addWidget(yoLabel, 2, 0);
    for (int k = 0; k < loop::kPoints; ++k) {
        linGrid->addWidget(new QLabel(QString::number(k), lin), 0, k + 1, Qt::AlignCenter);
        for (int side = 0; side < 2; ++side) {
            auto *f = new NumericField(-kUnbounded, kUnbounded, kAsManyAsItHas, 6, lin);
            f->setDecimalsFollowValue(kAsManyAsItHas);
            f->setObjectName(QStringLiteral("EditLin_Y%1%2%3")
                                 .arg(side == 0 ? QLatin1Char('i') : QLatin1Char('o'))
                                 .arg(k)
                                 .arg(n));
            f->setAccessibleName(QStringLiteral("Y%1 %2")
                                     .arg(side == 0 ? QLatin1Char('i') : QLatin1Char('o'))
                                     .arg(k));
            (side == 0 ? c.yi : c.yo)[k] = f;
            linGrid->addWidget(f, side + 1, k + 1);
        }
    }
    yiLabel->setBuddy(c.yi[0]);
    yoLabel->setBuddy(c.yo[0]);
    lin->setEnabled(false);
    right->addWidget(lin);

    // "Режим работы"
    auto *mode = new QGroupBox(QStringLiteral("Режим работы"), page);
    auto *modeBox = new QVBoxLayout(mode);
    for (const CheckRow &r : kModeRows) {
        auto *box = new QCheckBox(QString::fromUtf8(r.caption), mode);
        box->setObjectName(numbered(r.name, n));
        c.*r.box = box;
        modeBox->addWidget(box);
    }
    right->addWidget(mode);
    right->addStretch(1);

    // Loop 1's buttons lie on Panel2, loop 2's on Panel1.
    const ReadWritePanel p = makeReadWritePanel(
        page, QStringLiteral("Panel%1").arg(3 - n), numbered("ButtonReadKont", n),
        numbered("ButtonWriteKont", n), [this, n] { ButtonReadKontClick(n); },
        [this, n] { ButtonWriteKontClick(n); });
    std::tie(c.panel, c.read, c.write) = std::tie(p.panel, p.read, p.write);
    left->addStretch(1);
    left->addWidget(c.panel);

    connect(c.law, &QComboBox::activated, this, [this, w = c.law]() { ComboZakonCloseUp(w); });
    connect(c.output, &QComboBox::activated, this, [this, w = c.output]() { ComboOutCloseUp(w); });
    connect(c.byProgram, &QCheckBox::toggled, this,
            [this, w = c.byProgram]() { CheckProgClick(w); });
    connect(c.on, &QCheckBox::toggled, this, [this, w = c.on]() { CheckOn_OffClick(w); });
    connect(c.manual, &QCheckBox::toggled, this, [this, w = c.manual]() { RevimKontClick(w); });
    CheckProgClick(c.byProgram);
    return page;
}

QWidget *ContursConfigWindow::buildViewPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("TabViewKont"));
    auto *layout = new QVBoxLayout(page);
    auto *groups = new QHBoxLayout;
    layout->addLayout(groups, 1);
    for (int n = 1; n <= loop::kLoops; ++n) {
        LoopControls &c = m_loops[n - 1];
        c.viewGroup = new QGroupBox(QStringLiteral("Контур-%1").arg(n), page);
        c.viewGroup->setObjectName(numbered("GroupBoxViewKont", n));
        auto *box = new QVBoxLayout(c.viewGroup);
        c.viewList = new QTableWidget(0, 2, c.viewGroup);
        c.viewList->setObjectName(numbered("ValueListEditor", n));
        c.viewList->setAccessibleName(QStringLiteral("Параметры контура-%1").arg(n));
        c.viewList->setHorizontalHeaderLabels(
            {QStringLiteral("Описание"), QStringLiteral("Значение")});
        c.viewList->verticalHeader()->hide();
        c.viewList->horizontalHeader()->setStretchLastSection(true);
        c.viewList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        c.viewList->setWordWrap(false);
        c.viewList->setEditTriggers(QAbstractItemView::NoEditTriggers);
        c.refresh = new QPushButton(QStringLiteral("Обновить параметры"), c.viewGroup);
        c.refresh->setObjectName(numbered("BitBtnOtladka", n));
        box->addWidget(c.viewList, 1);
        box->addWidget(c.refresh);
        groups->addWidget(c.viewGroup);
        connect(c.refresh, &QPushButton::clicked, this, [this, n]() { BitBtnOtladkaClick(n); });
    }
    auto *shared = new QGridLayout;
    m_measuringPeriod = new NumericField(-kUnbounded, kUnbounded, 0, 12, page);
    m_measuringPeriod->setObjectName(QStringLiteral("EditTizm"));
    m_coldJunction = new NumericField(-kUnbounded, kUnbounded, 2, 12, page);
    m_coldJunction->setObjectName(QStringLiteral("EditTemperComp"));
    int row = 0;
    for (auto [caption, field] :
         {std::pair{"Период измерения каналов (Tизм) мс:", m_measuringPeriod},
          std::pair{"Темпер. холодного спая (°C):", m_coldJunction}}) {
        field->setReadOnly(true);
        auto *l = new QLabel(QString::fromUtf8(caption), page);
        l->setBuddy(field);
        shared->addWidget(l, row, 0);
        shared->addWidget(field, row++, 1);
    }
    layout->addLayout(shared);
    return page;
}

// ---- Handlers shared by the two loops

void ContursConfigWindow::ComboZakonCloseUp(QObject *sender)
{
    const int n = controlNumber(sender, loop::kLoops);
    if (n == 0)
        return;
    const LoopControls &c = controls(n);
    const int code = c.law->currentIndex();
    const bool withVzd = code == loop::PidC || code == loop::UswoC;
    c.vzd->setEnabled(withVzd);
    if (withVzd)
        c.output->setCurrentIndex(1);
    if (code == loop::PidS)
        c.output->setCurrentIndex(loop::Y4Y5);
    if (code == loop::PidNC)
        c.output->setCurrentIndex(loop::Y3);
    const bool onOff = code == loop::OnOff;
    for (NumericField *f : {c.to, c.ko, c.tz})
        f->setEnabled(!onOff);
    if (onOff)
        c.output->setCurrentIndex(loop::Y3);
    if (code >= loop::UswoC && code <= loop::UswoNC) {
        showMessage(
            QStringLiteral("Закон регулирования USWO не поддерживается\r\nв этой версии программы"),
            QString(), MessageIcon::Information);
        c.law->setCurrentIndex(loop::PidNC);
    }
}

void ContursConfigWindow::ComboOutCloseUp(QObject *sender)
{
    auto *list = qobject_cast<QComboBox *>(sender);
    if (list && list->currentIndex() == loop::NoOutput)
        list->setCurrentIndex(1);
}

void ContursConfigWindow::CheckProgClick(QObject *sender)
{
    const int n = controlNumber(sender, loop::kLoops);
    if (n != 0)
        controls(n).program->setEnabled(controls(n).byProgram->isChecked());
}

void ContursConfigWindow::CheckOn_OffClick(QObject *sender)
{
    if (auto *box = qobject_cast<QCheckBox *>(sender))
        box->setText(box->isChecked() ? QStringLiteral("Контур - включен")
                                      : QStringLiteral("Контур - выключен"));
}

void ContursConfigWindow::RevimKontClick(QObject *sender)
{
    if (auto *box = qobject_cast<QCheckBox *>(sender))
        box->setText(box->isChecked() ? QStringLiteral("Ручной режим")
                                      : QStringLiteral("Автоматический режим"));
}

// ---- Commands

ExchangeOutcome ContursConfigWindow::ButtonReadKontClick(int n)
{
    const LoopControls &c = controls(n);
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kReadFailure).arg(n);
    options.busy = {controls(1).panel, controls(2).panel, c.read};
    options.readsControls = true;
    return runExchange(options, [this, n](ExchangeRun &run) { KontParRead(run, n); });
}

ExchangeOutcome ContursConfigWindow::ButtonWriteKontClick(int n)
{
    const LoopControls &c = controls(n);
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kWriteFailure).arg(n);
    options.busy = {controls(1).panel, controls(2).panel, c.write};
    options.writesFromControls = {descriptionBlock(n), mainBlock(n), coefficientsBlock(n),
                                  linearizationBlock(n)};
    return runExchange(options, [this, n](ExchangeRun &run) { KontParWrite(run, n); });
}

ExchangeOutcome ContursConfigWindow::BitBtnOtladkaClick(int n)
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kViewFailure);
    return runExchange(options, [this, n](ExchangeRun &run) { GetKontParam(run, n); });
}

bool ContursConfigWindow::KontParRead(ExchangeRun &run, int n)
{
    const int failuresBefore = run.failures();
    const LoopControls &c = controls(n);

    if (readSettings(run, descriptionBlock(n)) == 0)
        c.description->setText(
            channel::description(imageBlock<channel::kDescriptionBytes>(descriptionBlock(n))));

    if (readSettings(run, mainBlock(n)) == 0) {
        const LoopBlock b = LoopBlock::decode(imageBlock<LoopBlock::kBytes>(mainBlock(n)));
        c.input->setCurrentIndex(b.input);
        c.output->setCurrentIndex(b.output == loop::NoOutput ? 1 : b.output);
        // The setpoint's scale is its input's point position; without it the field keeps what
        // it shows rather than a number scaled wrongly.
        const HoldingBlock input = channelBlock(b.input + 1);
        const bool scaled = readSettings(run, input) == 0;
        c.law->setCurrentIndex(b.law < c.law->count() ? b.law : -1);
        c.program->setCurrentIndex(b.program);
        c.on->setChecked(b.on);
        c.forecast->setChecked(b.forecast);
        c.byProgram->setChecked(b.byProgram);
        c.linearization->setChecked(b.linearization);
        const auto f = loop::Figures::shown(
            b,
            scaled
                ? std::optional(
                      ChannelBlock::decode(imageBlock<ChannelBlock::kBytes>(input)).pointPosition)
                : std::nullopt);
        c.to->setValue(f.to);
        c.ko->setValue(f.ko);
        c.tz->setValue(f.tz);
        c.tiu->setValue(f.tiu);
        c.timp->setValue(f.timp);
        c.dxLow->setValue(f.dxLow);
        c.dxHigh->setValue(f.dxHigh);
        c.v5->setValue(f.v5);
        if (f.setpoint)
            c.setpoint->setValue(*f.setpoint);
        c.percent->setChecked(b.percentSetpoint);
        c.vzd->setValue(f.vzd);
        for (int k = 0; k < loop::kMismatch; ++k)
            c.mismatch[k]->setValue(f.mismatch[k]);
    }

    const auto coil = regmap::manualModeCoil(n);
    if (run.check(device().readCoils(coil, 1)) == 0)
        c.manual->setChecked(device().coil(coil));

    if (readSettings(run, coefficientsBlock(n)) == 0) {
        const auto k =
            LoopCoefficients::decode(imageBlock<LoopCoefficients::kBytes>(coefficientsBlock(n)));
        c.kp->setValue(k.kp);
        c.ki->setValue(k.ki);
        c.kd->setValue(k.kd);
    }

    if (readSettings(run, linearizationBlock(n)) == 0) {
        const auto points =
            LoopLinearization::decode(imageBlock<LoopLinearization::kBytes>(linearizationBlock(n)));
        for (int k = 0; k < loop::kPoints; ++k) {
            c.yi[k]->setValue(loop::shownWhole(points.yi[k]));
            c.yo[k]->setValue(loop::shownWhole(points.yo[k]));
        }
    }
    return run.failures() > failuresBefore;
}

bool ContursConfigWindow::composeFields(const LoopControls &c, LoopBlock &b, int pointPosition)
{
    loop::Figures f;
    f.to = c.to->value(), f.ko = c.ko->value(), f.tz = c.tz->value(), f.tiu = c.tiu->value();
    f.timp = c.timp->value();
    f.dxLow = c.dxLow->value(), f.dxHigh = c.dxHigh->value(), f.v5 = c.v5->value();
    f.setpoint = c.setpoint->value();
    f.vzd = c.vzd->value();
    for (int k = 0; k < loop::kMismatch; ++k)
        f.mismatch[k] = c.mismatch[k]->value();
    if (!f.storeInto(b, pointPosition)) {
        // A number that does not fit its field would reach the device as another number.
        showMessage(QString::fromUtf8(kInvalidEntry), QString(), MessageIcon::Information);
        return false;
    }
    return true;
}

bool ContursConfigWindow::KontParWrite(ExchangeRun &run, int n)
{
    const int failuresBefore = run.failures();
    auto failed = [&] { return run.failures() > failuresBefore; };
    const LoopControls &c = controls(n);

    const auto description = imageBlock<channel::kDescriptionBytes>(descriptionBlock(n));
    channel::setDescription(description, c.description->text());
    c.description->setText(channel::description(description));
    writeSettings(run, descriptionBlock(n));

    // Byte 17 is not the window's: it must be this device's before the block goes out.
    if (ensureOwn(run, mainBlock(n)) != 0)
        return failed();
    LoopBlock b = LoopBlock::decode(imageBlock<LoopBlock::kBytes>(mainBlock(n)));
    b.input = c.input->currentIndex();
    b.output = c.output->currentIndex();
    // Without the input's point position the setpoint cannot be scaled: the block stays unwritten.
    const HoldingBlock input = channelBlock((b.input & 3) + 1);
    if (readSettings(run, input) != 0)
        return failed();
    const int p = ChannelBlock::decode(imageBlock<ChannelBlock::kBytes>(input)).pointPosition;
    b.law = c.law->currentIndex();
    b.program = c.program->currentIndex();
    b.on = c.on->isChecked();
    b.forecast = c.forecast->isChecked();
    b.byProgram = c.byProgram->isChecked();
    b.linearization = c.linearization->isChecked();
    b.percentSetpoint = c.percent->isChecked();

    // A setpoint in % above 99 is a typing error; a running loop must not get 1 instead.
    if (b.percentSetpoint && std::trunc(c.setpoint->value()) > 99) {
        showMessage(QStringLiteral("Проверьте установку задания"), QString(),
                    MessageIcon::Information);
        c.setpoint->setValue(1);
        return failed();
    }
    if (!composeFields(c, b, p))
        return failed();

    // The other loop as the device holds it, so that the check sees no stale outputs.
    const int other = 3 - n;
    if (ensureOwn(run, mainBlock(other)) != 0)
        return failed();
    const LoopBlock o = LoopBlock::decode(imageBlock<LoopBlock::kBytes>(mainBlock(other)));
    if (n == 1 ? loop::outputsConflict(b, o) : loop::outputsConflict(o, b)) {
        showMessage(QStringLiteral("Контуры подключены к одному выходу"), QString(),
                    MessageIcon::Information);
        return failed();
    }
    b.encode(imageBlock<LoopBlock::kBytes>(mainBlock(n)));
    writeSettings(run, mainBlock(n));

    const LoopCoefficients k{float(c.kp->value()), float(c.ki->value()), float(c.kd->value())};
    k.encode(imageBlock<LoopCoefficients::kBytes>(coefficientsBlock(n)));
    writeSettings(run, coefficientsBlock(n));

    // Registers 10 and 21 of the points are not the window's either.
    if (ensureOwn(run, linearizationBlock(n)) == 0) {
        const auto bytes = imageBlock<LoopLinearization::kBytes>(linearizationBlock(n));
        LoopLinearization points = LoopLinearization::decode(bytes);
        for (int i = 0; i < loop::kPoints; ++i) {
            points.yi[i] =
                loop::keptWholeU16(c.yi[i]->value(), points.yi[i]).value_or(points.yi[i]);
            points.yo[i] =
                loop::keptWholeU16(c.yo[i]->value(), points.yo[i]).value_or(points.yo[i]);
        }
        points.encode(bytes);
        writeSettings(run, linearizationBlock(n));
    }

    const auto coil = regmap::manualModeCoil(n);
    device().setCoil(coil, c.manual->isChecked());
    run.check(device().writeCoils(coil, 1));
    return failed();
}

void ContursConfigWindow::clearView()
{
    for (int n = 1; n <= loop::kLoops; ++n) {
        const LoopControls &c = controls(n);
        c.viewList->setRowCount(0);
        c.viewGroup->setTitle(QStringLiteral("Контур-%1").arg(n));
    }
    m_measuringPeriod->clear();
    m_coldJunction->clear();
}

bool ContursConfigWindow::GetKontParam(ExchangeRun &run, int n)
{
    const int failuresBefore = run.failures();
    const LoopControls &c = controls(n);
    c.viewList->setRowCount(0);

    if (readSettings(run, descriptionBlock(n)) == 0)
        c.viewGroup->setTitle(
            QStringLiteral("Параметры ") +
            channel::description(imageBlock<channel::kDescriptionBytes>(descriptionBlock(n))));

    if (readSettings(run, mainBlock(n)) != 0)
        return true;
    const LoopBlock b = LoopBlock::decode(imageBlock<LoopBlock::kBytes>(mainBlock(n)));
    // The live values come without a log line.
    constexpr auto quiet = SelectedDevice::Log::Quiet;
    run.check(device().readInputs(0, 44, quiet));
    run.check(device().readInputs(44, 44, quiet));
    readSettings(run, coefficientsBlock(n));
    const HoldingBlock input = channelBlock(b.input + 1);
    readSettings(run, input);
    // Lines made of what the image held before would pass for this device's live values.
    if (run.failures() > failuresBefore)
        return true;

    const auto live = LoopLiveValues::decode(
        field::block<LoopLiveValues::kBytes>(device().inputs(), 0), n, b.output);
    const auto view = loop::viewLines(
        b, LoopCoefficients::decode(imageBlock<LoopCoefficients::kBytes>(coefficientsBlock(n))),
        ChannelBlock::decode(imageBlock<ChannelBlock::kBytes>(input)), live,
        QLocale().decimalPoint().front());
    for (const auto &[description, value] : view.lines) {
        const int row = c.viewList->rowCount();
        c.viewList->insertRow(row);
        c.viewList->setItem(row, 0, new QTableWidgetItem(description));
        c.viewList->setItem(row, 1, new QTableWidgetItem(value));
    }
    m_measuringPeriod->setValue(live.measuringPeriod * 5);
    m_coldJunction->setValue(live.coldJunction);
    if (view.parameterError)
        showMessage(QStringLiteral("Невозможно отобразить отладочные параметры.\r\n"
                                   "Проверьте установленные параметры контура."),
                    QStringLiteral("Ошибка параметров контура"), MessageIcon::Error);
    return false;
}
