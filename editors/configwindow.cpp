#include "editors/configwindow.h"

#include "device/commonblock.h"
#include "device/generalconfig.h"
#include "device/identity.h"
#include "device/registermap.h"
#include "editors/numericfield.h"
#include "editors/settingswindows.h"
#include "platform/messageservice.h"
#include "session/networkscan.h"
#include "session/session.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const kButtonFunctions[] = {
    "Отключение",          "Ручной режим",     "Автоматический режим", "Основные настройки",
    "Резервные настройки", "Запуск программы", "Фиксация управления",  "Ввод поправки"};

constexpr auto kReadFailure = "Ошибка чтения настроек конфигурации \r\nПроверьте подключение";
constexpr auto kWriteFailure = "Ошибка записи настроек конфигурации \r\nПроверьте подключение";

QString loopCaption(bool secondLoop)
{
    return secondLoop ? QStringLiteral("№2") : QStringLiteral("№1");
}

} // namespace

void CloseUpComboBox::showPopup()
{
    m_open = true;
    emit listOpened();
    QComboBox::showPopup();
}

void CloseUpComboBox::hidePopup()
{
    QComboBox::hidePopup();
    if (!m_open)
        return;
    m_open = false;
    // The choice made in the list is in place only once the list has finished closing.
    QTimer::singleShot(0, this, &CloseUpComboBox::listClosed);
}

void CloseUpComboBox::keyPressEvent(QKeyEvent *event)
{
    const int before = currentIndex();
    QComboBox::keyPressEvent(event);
    if (!m_open && currentIndex() != before) {
        // The key chose an item without the list: report it as an opened and closed list, with
        // the old item shown until the change has been made.
        const int chosen = currentIndex();
        {
            const QSignalBlocker quiet(this);
            setCurrentIndex(before);
        }
        emit listOpened();
        setCurrentIndex(chosen);
        emit listClosed();
    }
}

void CloseUpComboBox::wheelEvent(QWheelEvent *event)
{
    // Turning the wheel over the box would change the device's line speed by accident.
    event->ignore();
}

ConfigWindow::ConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, settingsWindowKind(FeatureCode::Config))
{
    setStoresWindowState(true);
    buildControls();
    declareCommandPanels({m_panel, m_speed});
    followSession();
}

void ConfigWindow::followSession()
{
    Session &s = session();
    connect(&s.selected(), &SelectedDevice::identityDescribed, this,
            [this](const IdentityTexts &t) {
                m_type->setText(t.type);
                m_address->setText(t.address);
                m_version->setText(t.version);
                m_build->setText(t.releaseDate);
                m_serial->setText(t.serial);
                m_variant->setText(t.variant);
                m_date->setText(t.clockDate);
                m_time->setText(t.clockTime);
                m_speed->setCurrentIndex(m_speed->findText(t.speed)); // -1 for an unknown speed
            });
    connect(&s.selected(), &SelectedDevice::nameShown, m_description, &QLineEdit::setText);
    connect(&s.scan(), &NetworkScan::speedChosen, m_speed,
            [this](const QString &text) { m_speed->setCurrentIndex(m_speed->findText(text)); });
    // A device's identity read again ends a pending edit of its address or line speed.
    connect(&s, &Session::currentIdentityRefreshed, this, &ConfigWindow::endEdit);
    connect(&s.scan(), &NetworkScan::finished, this, [this](int found) {
        const int code = session().selected().CurrentDevice().speedCode();
        m_speed->setCurrentIndex(code < m_speed->count() ? code : -1);
        // The scan ends a pending edit: the field being edited lets go of the focus.
        if (found > 0) {
            endEdit();
            if (QWidget *editing = focusWidget())
                editing->clearFocus();
        }
    });
}

void ConfigWindow::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    auto *columns = new QHBoxLayout;
    columns->addWidget(buildIdentityGroup());
    auto *right = new QVBoxLayout;
    right->addWidget(buildMeasurementGroup());
    right->addWidget(buildButtonsGroup());
    right->addWidget(buildScreensGroup());
    right->addStretch(1);
    columns->addLayout(right);
    layout->addLayout(columns);

    const ReadWritePanel p = makeReadWritePanel(
        this, QStringLiteral("Panel1"), QStringLiteral("ButtonConfigRead"),
        QStringLiteral("ButtonSaveConfig"), [this] { ButtonConfigReadClick(); },
        [this] { ButtonSaveConfigClick(); });
    std::tie(m_panel, m_read, m_save) = std::tie(p.panel, p.read, p.write);
    layout->addWidget(m_panel);
}

QWidget *ConfigWindow::buildIdentityGroup()
{
    auto *group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("GroupBoxIdent"));
    auto *form = new QFormLayout(group);
    auto label = [group](const char *name) {
        auto *l = new QLabel(group);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
        return l;
    };
    auto edit = [group](const char *name) {
        auto *e = new QLineEdit(group);
        e->setObjectName(QString::fromLatin1(name));
        return e;
    };
    auto number = [group](const char *name, double min, double max, int longest) {
        auto *n = new NumericField(min, max, 0, longest, group);
        n->setObjectName(QString::fromLatin1(name));
        return n;
    };

    m_type = label("StaticType2");
    form->addRow(QStringLiteral("Тип устройства :"), m_type);
    m_description = edit("EditDevString");
    // The description takes up to 32 characters: it has a row of its own, the group's width.
    auto *descriptionLabel = new QLabel(QStringLiteral("Описание устройства :"), group);
    descriptionLabel->setBuddy(m_description);
    form->addRow(descriptionLabel);
    form->addRow(m_description);
    m_version = label("StaticSoft2");
    form->addRow(QStringLiteral("Версия ПО:"), m_version);
    m_build = label("StaticBuild2");
    form->addRow(QStringLiteral("Дата выпуска:"), m_build);
    m_serial = label("StaticSerial2");
    form->addRow(QStringLiteral("Серийный номер:"), m_serial);
    m_variant = label("StaticIspoln2");
    form->addRow(QStringLiteral("Исполнение:"), m_variant);
    // Unfilled places show as blanks; a date or time with a blank left turns the field red.
    m_date = edit("MaskEditData");
    m_date->setInputMask(QStringLiteral("00.00.00; "));
    form->addRow(QStringLiteral("Дата прибора:"), m_date);
    m_time = edit("MaskEditTime");
    m_time->setInputMask(QStringLiteral("00:00:00; "));
    form->addRow(QStringLiteral("Время прибора :"), m_time);
    m_address = edit("EditNetAdr");
    m_address->setMaxLength(3);
    form->addRow(QStringLiteral("Адрес в сети:"), m_address);
    m_speed = new CloseUpComboBox(group);
    m_speed->setObjectName(QStringLiteral("ComboBaudrate1"));
    m_speed->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                       QStringLiteral("57600"), QStringLiteral("115200")});
    form->addRow(QStringLiteral("Cкорость обмена : "), m_speed);
    m_timeCorrection = number("EditPoprT", -128, 127, 4);
    // A refused entry must not turn into the largest correction the device takes.
    m_timeCorrection->setFallback(0);
    form->addRow(QStringLiteral("Поправка времени:"), m_timeCorrection);
    m_cycle = number("EditCycleRegistr", 0, 9999, 4);
    m_cycle->setEnabled(false);
    form->addRow(QStringLiteral("Период регистрации:"), m_cycle);
    const char *passwordCaptions[] = {
        "Пароль служебн. реж::", "Пароль конфигурирования:", "Пароль калибровки:"};
    for (int i = 0; i < 3; ++i) {
        m_passwords[i] = number(QStringLiteral("EditPass%1").arg(i + 1).toLatin1(), 0, 9999, 4);
        form->addRow(QString::fromUtf8(passwordCaptions[i]), m_passwords[i]);
    }

    m_address->installEventFilter(this);
    m_date->installEventFilter(this);
    m_time->installEventFilter(this);
    m_description->installEventFilter(this);
    connect(m_speed, &CloseUpComboBox::listOpened, this, [this]() { beginEdit(); });
    connect(m_speed, &CloseUpComboBox::listClosed, this, &ConfigWindow::changeLineSpeed);
    // A text put in by the program (a device described, a stored state) is no typed clock.
    connect(m_date, &QLineEdit::textChanged, this, [this]() {
        if (!m_date->isModified())
            m_typedDate.reset();
    });
    connect(m_time, &QLineEdit::textChanged, this, [this]() {
        if (!m_time->isModified())
            m_typedTime.reset();
    });
    return group;
}

QWidget *ConfigWindow::buildMeasurementGroup()
{
    auto *group = new QGroupBox(QStringLiteral("Режим измерений"), this);
    group->setObjectName(QStringLiteral("GroupBoxMode"));
    auto *box = new QVBoxLayout(group);
    auto check = [group, box](const char *name, const char *caption) {
        auto *c = new QCheckBox(QString::fromUtf8(caption), group);
        c->setObjectName(QString::fromLatin1(name));
        box->addWidget(c);
        return c;
    };
    m_overlaid = check("CheckNalovOn", "Наложеное управление");
    m_oneChannel = check("CheckOneChan", "Измерять только один канал");
    m_thermo = check("CheckTermoComp", "Термокомпенсация");
    return group;
}

QWidget *ConfigWindow::buildButtonsGroup()
{
    auto *group = new QGroupBox(QStringLiteral("Наложенное управление"), this);
    group->setObjectName(QStringLiteral("GroupBoxNalov"));
    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Функция наложен. управления:"), group), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Контур:"), group), 0, 2);
    QStringList functions;
    for (const char *f : kButtonFunctions)
        functions.append(QString::fromUtf8(f));
    for (int n = 1; n <= 4; ++n) {
        const QString caption = QStringLiteral("Кнопка-%1:").arg(n);
        auto *label = new QLabel(caption, group);
        auto *function = new QComboBox(group);
        function->setObjectName(QStringLiteral("ComboNalovFunc%1").arg(n));
        function->addItems(functions);
        label->setBuddy(function);
        auto *loop = new QCheckBox(loopCaption(false), group);
        loop->setObjectName(QStringLiteral("CheckNalovKont%1").arg(n));
        loop->setAccessibleName(QStringLiteral("Контур кнопки %1").arg(n));
        connect(loop, &QCheckBox::toggled, loop,
                [loop](bool on) { loop->setText(loopCaption(on)); });
        grid->addWidget(label, n, 0);
        grid->addWidget(function, n, 1);
        grid->addWidget(loop, n, 2);
        m_functions[n - 1] = function;
        m_loops[n - 1] = loop;
    }
    return group;
}

QWidget *ConfigWindow::buildScreensGroup()
{
    auto *group = new QGroupBox(QStringLiteral("Индикатор рабочего режима"), this);
    group->setObjectName(QStringLiteral("GroupBoxView"));
    auto *grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Номер экрана -  вид экрана"), group), 0, 0, 1, 4);
    for (int n = 1; n <= generalconfig::kScreens; ++n) {
        auto *label = new QLabel(QString::number(n), group);
        auto *screen = new QComboBox(group);
        screen->setObjectName(QStringLiteral("ComboView%1").arg(n));
        for (int i = 1; i <= 10; ++i)
            screen->addItem(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
        if (generalconfig::screenItemCount(n) > 10)
            screen->addItem(QString());
        label->setBuddy(screen);
        screen->setAccessibleName(QStringLiteral("Экран %1").arg(n));
        const int row = 1 + (n - 1) % 5;
        const int column = 2 * ((n - 1) / 5);
        grid->addWidget(label, row, column);
        grid->addWidget(screen, row, column + 1);
        m_screens[n - 1] = screen;
    }
    return group;
}

// ---- Reading and writing

namespace {

constexpr HoldingBlock kScreenBlock{regmap::kDisplaySelection, regmap::kDisplaySelectionBytes};
constexpr HoldingBlock kPasswordBlock{regmap::kAccessCodes, regmap::kAccessCodesBytes};
constexpr HoldingBlock kCommonBlockBytes{regmap::kCommonBlock, regmap::kCommonBlockBytes};
constexpr HoldingBlock kIdentityBlock{regmap::kIdentity, regmap::kIdentityBytes};
// Registers 6..8: the device's date and time.
constexpr HoldingBlock kClockBlock{identity::kClockDate, identity::kBytes - identity::kClockDate};

} // namespace

ExchangeOutcome ConfigWindow::ButtonConfigReadClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kReadFailure);
    options.busy = {m_speed, m_panel, m_read};
    options.readsControls = true;
    return runExchange(options, [this](ExchangeRun &run) { ConfigRead(run); });
}

ExchangeOutcome ConfigWindow::ButtonSaveConfigClick()
{
    ExchangeOptions options;
    options.failureText = QString::fromUtf8(kWriteFailure);
    options.busy = {m_speed, m_save, m_address};
    options.writesFromControls = {kScreenBlock, kPasswordBlock, kCommonBlockBytes};
    return runExchange(options, [this](ExchangeRun &run) { SaveConfig(run); });
}

void ConfigWindow::ConfigRead(ExchangeRun &run)
{
    if (readSettings(run, kScreenBlock) == 0)
        showScreens();
    if (readSettings(run, kPasswordBlock) == 0)
        showPasswords();
    if (readSettings(run, kCommonBlockBytes) != 0)
        return;
    showCommonBlock();
    if (readSettings(run, kIdentityBlock) == 0) {
        const auto read = imageBlock<identity::kBytes>(kIdentityBlock);
        std::copy(read.begin(), read.end(),
                  session().selected().CurrentDevice().identity().begin());
        session().selected().DescribeDevice(session().selected().CurrentDevice().identity());
    }
}

void ConfigWindow::showRegistrationCycle(double cycle)
{
    m_cycle->setValue(cycle);
}

void ConfigWindow::showScreens()
{
    const auto indexes =
        generalconfig::screenIndexes(imageBlock<generalconfig::kScreens>(kScreenBlock));
    for (int n = 0; n < generalconfig::kScreens; ++n)
        m_screens[n]->setCurrentIndex(indexes[n]);
}

void ConfigWindow::showPasswords()
{
    const auto values =
        generalconfig::passwords(imageBlock<generalconfig::kPasswordBytes>(kPasswordBlock));
    for (int i = 0; i < generalconfig::kPasswords; ++i)
        m_passwords[i]->setValue(double(values[i]));
}

void ConfigWindow::showCommonBlock()
{
    const CommonBlock block =
        CommonBlock::decode(imageBlock<CommonBlock::kBytes>(kCommonBlockBytes));
    m_timeCorrection->setValue(block.timeCorrection());
    m_cycle->setValue(block.registrationCycle());
    for (int n = 1; n <= 4; ++n) {
        m_loops[n - 1]->setChecked(block.buttonOnSecondLoop(n));
        m_functions[n - 1]->setCurrentIndex(
            generalconfig::buttonItemIndex(block.buttonFunction(n)));
    }
    m_overlaid->setChecked(block.overlaidControl());
    m_oneChannel->setChecked(block.oneChannelOnly());
    m_thermo->setChecked(block.thermoCompensation());
}

void ConfigWindow::composeGeneralSettings(CommonBlock &block) const
{
    block.setTimeCorrection(std::int8_t(std::int64_t(m_timeCorrection->value()) & 0xFF));
    block.setRegistrationCycle(std::uint16_t(std::int64_t(m_cycle->value()) & 0xFFFF));
    for (int n = 1; n <= 4; ++n) {
        // A function code the list does not hold stays as the device has it.
        const int index = m_functions[n - 1]->currentIndex();
        block.setButton(n, index >= 0 ? index : block.buttonFunction(n),
                        m_loops[n - 1]->isChecked());
    }
    block.setConfigFlags(m_thermo->isChecked(), m_overlaid->isChecked(), m_oneChannel->isChecked());
}

void ConfigWindow::SaveConfig(ExchangeRun &run)
{
    // Half a clock typed: the other half is the device's as it is now, not as some earlier read
    // found it. Without that read nothing is written.
    const bool clockTyped = m_typedDate || m_typedTime;
    if (clockTyped && !(m_typedDate && m_typedTime) &&
        run.check(device().readHolding(kClockBlock)) != 0)
        return;

    std::array<int, generalconfig::kScreens> screens{};
    for (int n = 0; n < generalconfig::kScreens; ++n)
        screens[n] = m_screens[n]->currentIndex();
    generalconfig::setScreenIndexes(imageBlock<generalconfig::kScreens>(kScreenBlock), screens);
    writeSettings(run, kScreenBlock);

    generalconfig::setPasswords(
        imageBlock<generalconfig::kPasswordBytes>(kPasswordBlock),
        {m_passwords[0]->value(), m_passwords[1]->value(), m_passwords[2]->value()});
    writeSettings(run, kPasswordBlock);

    writeCommonBlock(run, [this](CommonBlock &block) { composeGeneralSettings(block); });

    const std::uint8_t address = generalconfig::addressByte(m_address->text());
    m_address->setText(QString::number(address));
    if (const QString refusal = generalconfig::addressRefusal(address); !refusal.isEmpty()) {
        showMessage(refusal, QString(), MessageIcon::None);
        return;
    }
    // The selected device's own identity, not whatever identity the image last took.
    IdentityBlock ident = IdentityBlock::decode(session().selected().CurrentDevice().identity());
    ident.setAddress(address);
    if (clockTyped) {
        const IdentityBlock device =
            IdentityBlock::decode(imageBlock<identity::kBytes>(kIdentityBlock));
        ident.setClockDate(m_typedDate.value_or(device.clockDate()));
        ident.setClockTime(m_typedTime.value_or(device.clockTime()));
    }
    ident.encode(imageBlock<identity::kBytes>(kIdentityBlock));
    // The clock goes out only when it was typed: the last read may be days old.
    const std::uint16_t length = clockTyped ? identity::kBytes : identity::kClockDate;
    if (writeSettings(run, {regmap::kIdentity, length}) == 0) {
        m_typedDate.reset();
        m_typedTime.reset();
        session().selected().adoptIdentity(ident);
        session().selected().DescribeDevice(session().selected().CurrentDevice().identity());
    } else {
        holdingImage()[identity::kAddress] = session().selected().CurrentDevice().address();
    }
}

void ConfigWindow::beginEdit()
{
    m_editPending = true;
    m_editStartText = m_address->text();
}

void ConfigWindow::endEdit()
{
    m_editPending = false;
}

// ---- Address and line speed

void ConfigWindow::changeLineSpeed()
{
    // A poll tick may still wait for its reply (polling was just switched off): its exchange
    // owns the port and its speed, so the change follows once the tick has ended.
    if (session().deferBehindTick(this, [this]() { changeLineSpeed(); }))
        return;
    const int code = m_speed->currentIndex();
    const int oldCode = device().record().speedCode();
    // Nothing chosen, or the speed the device has already: no write.
    if (code < 0 || code == oldCode) {
        endEdit();
        return;
    }
    m_speed->setEnabled(false);
    const auto enable = qScopeGuard([this] { m_speed->setEnabled(true); });
    if (!m_editPending)
        beginEdit();
    if (device().moveToSpeedCode(std::uint8_t(code)) != 0) {
        showMessage(QStringLiteral("Ошибка установки скорости"), QStringLiteral("Ошибка"),
                    MessageIcon::Error);
        // The device kept its speed, and so does the box.
        const QSignalBlocker quiet(m_speed);
        m_speed->setCurrentIndex(oldCode < m_speed->count() ? oldCode : -1);
        return;
    }
    endEdit();
}

void ConfigWindow::changeAddress()
{
    if (session().deferBehindTick(this, [this]() { changeAddress(); }))
        return;
    const std::uint8_t address = generalconfig::addressByte(m_address->text());
    if (const QString refusal = generalconfig::addressRefusal(address); !refusal.isEmpty()) {
        showMessage(refusal, QString(), MessageIcon::None);
        return;
    }
    if (const int result = device().moveToAddress(address); result != 0) {
        showMessage(QStringLiteral("Ошибка при смене сетевого адреса: %1").arg(result), QString(),
                    MessageIcon::None);
        return;
    }
    m_address->setText(QStringLiteral("%1").arg(address, 3, 10, QLatin1Char('0')));
    endEdit();
}

void ConfigWindow::addressKey(QKeyEvent *event, bool *handled)
{
    const int key = event->key();
    // Moving between controls is no edit.
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
        return;
    if (!m_editPending) {
        beginEdit();
        *handled = true;
        return;
    }
    if (key == Qt::Key_Escape) {
        m_address->setText(m_editStartText);
        endEdit();
        *handled = true;
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        changeAddress();
        *handled = true;
    }
}

void ConfigWindow::leaveAddressField()
{
    if (!m_editPending)
        return;
    m_address->setText(m_editStartText);
    endEdit();
}

// ---- Field checks

void ConfigWindow::checkClockField(QLineEdit *field, bool date)
{
    const QString text = field->displayText();
    const auto bytes =
        date ? generalconfig::clockDateBytes(text) : generalconfig::clockTimeBytes(text);
    QPalette p = field->palette();
    p.setColor(QPalette::Base, bytes ? palette().color(QPalette::Base) : QColor(Qt::red));
    field->setPalette(p);
    if (!bytes)
        return;
    std::copy(bytes->begin(), bytes->end(),
              holdingImage().begin() + (date ? identity::kClockDate : identity::kClockTime));
    (date ? m_typedDate : m_typedTime) = *bytes;
}

void ConfigWindow::checkDescription()
{
    // Only what the user typed names the device: a key that changed nothing (Tab, Alt) over a
    // text the program put in would otherwise rename the entry to it, even to nothing.
    if (session().network().deviceCount() < 1 || !m_description->isModified())
        return;
    QString text = m_description->text();
    if (text.size() > DeviceNetwork::kNameLength) {
        showMessage(QStringLiteral("Описание устройства не более 32 символов"), QString(),
                    MessageIcon::None);
        m_description->setText(text.left(DeviceNetwork::kNameLength));
        return;
    }
    if (session().network().isDevice(session().selected().index()))
        session().network().setText(session().selected().index(), text);
}

bool ConfigWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_address) {
        if (event->type() == QEvent::KeyPress) {
            bool handled = false;
            addressKey(static_cast<QKeyEvent *>(event), &handled);
            return handled;
        }
        if (event->type() == QEvent::FocusOut)
            leaveAddressField();
    } else if (event->type() == QEvent::KeyRelease) {
        if (watched == m_date || watched == m_time)
            checkClockField(static_cast<QLineEdit *>(watched), watched == m_date);
        else if (watched == m_description)
            checkDescription();
    }
    return StatefulWindow::eventFilter(watched, event);
}
