#include "testtool/mainwindow.h"

#include "link/frame.h"
#include "platform/busycursor.h"
#include "platform/clock.h"
#include "platform/messageservice.h"
#include "platform/portassignment.h"
#include "testtool/hexgrid.h"
#include "testtool/interfacecheck.h"
#include "testtool/popups.h"
#include "testtool/receiveviewer.h"
#include "testtool/toolformat.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <optional>

namespace {

constexpr int kReceiveBufferSize = 1025;
constexpr int kViewerBytes = 1024;
constexpr std::uint16_t kIdentityRegisters = 10;
constexpr std::uint16_t kClockRegister = 6;
constexpr int kRetryMs = 50;

QLabel *caption(QWidget *parent, const QString &text, int x, int y, int w = 110)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, 16);
    return label;
}

QLabel *sunkenText(QWidget *parent, const char *name, int x, int y, int w)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setGeometry(x, y, w, 18);
    return label;
}

} // namespace

LinkTestWindow::LinkTestWindow(Clock &clock, QWidget *parent) : QWidget(parent), m_clock(clock)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Лорван MODBUS тест"));
    setFixedSize(336, 332);
    // The layout is fixed to the pixel; a small face keeps every caption inside its control.
    QFont face = font();
    face.setPixelSize(11);
    setFont(face);
    buildControls();

    // Window creation.
    setPanel(1, QStringLiteral(" Устройство не обнаружено"));
    setPanel(0, QStringLiteral(" COM1 закрыт"));
    m_link.setResponseWait(100);
    m_link.setRtsControl(true);
    m_deviceAddress = 0;
    m_pollActive = false;
    Timer1->stop();
    {
        const QSignalBlocker blocker(ComboBaudrate);
        ComboBaudrate->setCurrentText(QStringLiteral("19200"));
    }
    m_link.Setup(m_port);
    m_receiveBuffer = std::make_shared<ByteBlock>();
    // Before any reply the viewer shows an empty buffer: every byte FF.
    m_receiveBuffer->bytes.assign(kReceiveBufferSize, 0xFF);
    m_receiveBuffer->count = kReceiveBufferSize;
    ClearIdentity();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    Timer2->start();
    GetRealTime();
}

LinkTestWindow::~LinkTestWindow()
{
    m_closing = true;
}

void LinkTestWindow::buildControls()
{
    auto *portGroup = new QGroupBox(QStringLiteral("Параметры порта"), this);
    portGroup->setObjectName(QStringLiteral("GroupBox4"));
    portGroup->setGeometry(6, 2, 324, 92);

    caption(portGroup, QStringLiteral("Порт :"), 10, 20, 80);
    ComboPortNum = new QComboBox(portGroup);
    ComboPortNum->setObjectName(QStringLiteral("ComboPortNum"));
    ComboPortNum->setEditable(true);
    ComboPortNum->setInsertPolicy(QComboBox::NoInsert);
    ComboPortNum->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                            QStringLiteral("COM4")});
    ComboPortNum->setGeometry(10, 38, 62, 22);
    ButtonPorts = new QToolButton(portGroup);
    ButtonPorts->setObjectName(QStringLiteral("ButtonPorts"));
    ButtonPorts->setText(QStringLiteral("..."));
    ButtonPorts->setToolTip(QStringLiteral("Назначение портов"));
    ButtonPorts->setGeometry(72, 38, 22, 22);
    connect(ButtonPorts, &QToolButton::clicked, this, &LinkTestWindow::showPortAssignment);

    caption(portGroup, QStringLiteral("Cкорость: "), 102, 20, 90);
    ComboBaudrate = new QComboBox(portGroup);
    ComboBaudrate->setObjectName(QStringLiteral("ComboBaudrate"));
    ComboBaudrate->setEditable(true);
    ComboBaudrate->setInsertPolicy(QComboBox::NoInsert);
    for (const auto &s : toolSpeeds())
        ComboBaudrate->addItem(s.text);
    ComboBaudrate->setCurrentText(QStringLiteral("115200"));
    ComboBaudrate->setGeometry(102, 38, 92, 22);

    auto *addressLabel = caption(portGroup, QStringLiteral("Сетевой адрес:"), 202, 20, 112);
    addressLabel->setToolTip(QStringLiteral("Сетевой адрес устройства"));
    Edit1 = new QLineEdit(QStringLiteral("0"), portGroup);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(202, 38, 112, 22);

    CheckBox2 = new QCheckBox(QStringLiteral("Аппаратный контроль"), portGroup);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setChecked(true);
    CheckBox2->setToolTip(
        QStringLiteral("Включить,  если используется преобразователь  RS232-RS485"));
    CheckBox2->setGeometry(10, 66, 164, 20);
    // What the port box leads to on this PC.
    StaticPortDevice = new PortDeviceLabel(ComboPortNum, portGroup);
    StaticPortDevice->setGeometry(176, 66, 138, 20);

    auto *deviceGroup = new QGroupBox(QStringLiteral("Параметры устройства"), this);
    deviceGroup->setObjectName(QStringLiteral("GroupBox1"));
    deviceGroup->setGeometry(6, 96, 324, 148);

    auto *typeLabel = caption(deviceGroup, QStringLiteral("Тип устройства:"), 10, 22);
    typeLabel->setObjectName(QStringLiteral("StaticText4"));
    typeLabel->setToolTip(QStringLiteral("Тип устройства : Дулан , Лорван ;\n"
                                         "при обнаружении иного устройства - Неизвестный"));
    StaticText5 = sunkenText(deviceGroup, "StaticText5", 124, 21, 190);
    caption(deviceGroup, QStringLiteral("Версия ПО:"), 10, 44);
    StaticText7 = sunkenText(deviceGroup, "StaticText7", 124, 43, 190);
    caption(deviceGroup, QStringLiteral("Дата выпуска:"), 10, 66);
    StaticText9 = sunkenText(deviceGroup, "StaticText9", 124, 65, 190);
    caption(deviceGroup, QStringLiteral("Серийный номер:"), 10, 88);
    StaticText11 = sunkenText(deviceGroup, "StaticText11", 124, 87, 190);

    auto *dateLabel = caption(deviceGroup, QStringLiteral("Дата:"), 10, 118, 40);
    dateLabel->setToolTip(QStringLiteral("Дата читается из часов реального времени"));
    MaskEditDate = new QLineEdit(deviceGroup);
    MaskEditDate->setObjectName(QStringLiteral("MaskEditDate"));
    MaskEditDate->setInputMask(QStringLiteral(" 99.99.99;_"));
    MaskEditDate->setToolTip(QStringLiteral("Введите дату и нажмите Enter\n"
                                            "Для установки по умолчанию дважды щелкните."));
    MaskEditDate->setGeometry(52, 115, 90, 22);

    auto *timeLabel = caption(deviceGroup, QStringLiteral("Время:"), 170, 118, 50);
    timeLabel->setToolTip(QStringLiteral("Время читается из часов реального времени"));
    MaskEditTime = new QLineEdit(deviceGroup);
    MaskEditTime->setObjectName(QStringLiteral("MaskEditTime"));
    MaskEditTime->setInputMask(QStringLiteral(" 99:99:99;_"));
    MaskEditTime->setToolTip(QStringLiteral("Введите время и нажмите Enter\n"
                                            "Для установки текущего времени дважды щелкнуть"));
    MaskEditTime->setGeometry(224, 115, 90, 22);

    CheckBox1 = new QCheckBox(QStringLiteral("Циклический опрос"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setChecked(true);
    const QString pollHint =
        QStringLiteral("Вкл. - циклический опрос параметров устройства с периодом 1сек\n"
                       "( действует только при установлении связи  с прибором )");
    CheckBox1->setToolTip(pollHint);
    CheckBox1->setGeometry(4, 250, 160, 18);
    auto *pollSecondLine = caption(this, QStringLiteral("параметров устройства"), 23, 268, 140);
    pollSecondLine->setToolTip(pollHint);

    Find = new QPushButton(QStringLiteral(" &Поиск \nустройств"), this);
    Find->setObjectName(QStringLiteral("Find"));
    Find->setGeometry(164, 248, 76, 40);
    Test = new QPushButton(QStringLiteral(" Проверка \nинтерфейса"), this);
    Test->setObjectName(QStringLiteral("Test"));
    Test->setGeometry(244, 248, 86, 40);

    Edit8 = new QLineEdit(this);
    Edit8->setObjectName(QStringLiteral("Edit8"));
    Edit8->setReadOnly(true);
    Edit8->setCursor(Qt::PointingHandCursor);
    Edit8->setToolTip(QStringLiteral("Просмотр буфера приема"));
    Edit8->setGeometry(8, 289, 152, 20);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const int widths[3] = {100, 150, 100};
    // The panels keep their fixed widths; the font shrinks until the longest state text fits.
    QFont panelFont = StatusBar1->font();
    panelFont.setPointSizeF(QFontInfo(panelFont).pointSizeF());
    const QString widest = QStringLiteral(" Устройство не обнаружено");
    while (panelFont.pointSizeF() > 6.0 &&
           QFontMetrics(panelFont).horizontalAdvance(widest) > widths[1] - 20)
        panelFont.setPointSizeF(panelFont.pointSizeF() - 0.5);
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(StatusBar1);
        m_panels[i]->setFont(panelFont);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panels[i]->setFixedWidth(widths[i]);
        StatusBar1->addWidget(m_panels[i]);
    }
    // The three widths add up to more than the window: the clock, last, takes what is left,
    // which its text needs only part of.
    m_panels[2]->setMinimumWidth(0);
    m_panels[2]->setMaximumWidth(widths[2]);
    StatusBar1->setGeometry(0, 312, 336, 20);

    Timer1 = m_clock.createTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    m_retryTimer = m_clock.createTimer(this);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(kRetryMs);
    connect(m_retryTimer, &ClockTimer::timeout, this, &LinkTestWindow::runDeferred);
    Timer2 = m_clock.createTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);

    connect(ComboPortNum, &QComboBox::currentIndexChanged, this,
            &LinkTestWindow::ComboPortNumChange);
    // A typed port name takes effect as soon as it names a port, as a typed speed does.
    connect(ComboPortNum, &QComboBox::currentTextChanged, this, [this](const QString &text) {
        const int index = ComboPortNum->findText(text.trimmed(), Qt::MatchFixedString);
        if (index >= 0 && index != ComboPortNum->currentIndex())
            ComboPortNum->setCurrentIndex(index);
    });
    connect(ComboPortNum->lineEdit(), &QLineEdit::editingFinished, this,
            &LinkTestWindow::portPathTyped);
    connect(ComboBaudrate, &QComboBox::currentTextChanged, this,
            &LinkTestWindow::ComboBaudrateChange);
    connect(Edit1, &QLineEdit::textChanged, this, &LinkTestWindow::Edit1Change);
    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) { m_pollActive = on; });
    connect(CheckBox2, &QCheckBox::toggled, this, [this](bool on) { m_link.setRtsControl(on); });
    connect(MaskEditDate, &QLineEdit::textChanged, this, &LinkTestWindow::ParametrChange);
    connect(MaskEditTime, &QLineEdit::textChanged, this, &LinkTestWindow::ParametrChange);
    connect(Find, &QPushButton::clicked, this, [this] { FindClick(); });
    connect(Test, &QPushButton::clicked, this, &LinkTestWindow::TestClick);
    connect(Timer1, &ClockTimer::timeout, this, &LinkTestWindow::UpDateCFG);
    connect(Timer2, &ClockTimer::timeout, this, &LinkTestWindow::GetRealTime);
    for (QObject *o : {static_cast<QObject *>(MaskEditDate), static_cast<QObject *>(MaskEditTime),
                       static_cast<QObject *>(Edit8)})
        o->installEventFilter(this);
}

void LinkTestWindow::attach(SearchPopup *search, ReceiveBufferWindow *viewer,
                            ExchangeErrorPopup *error, InterfaceCheckWindow *check)
{
    m_search = search;
    m_viewer = viewer;
    m_error = error;
    m_check = check;
}

QString LinkTestWindow::panelText(int panel) const
{
    return m_panels[panel]->text();
}

void LinkTestWindow::setPanel(int panel, const QString &text)
{
    m_panels[panel]->setText(text);
}

void LinkTestWindow::showPortAssignment()
{
    if (!m_portAssignment)
        m_portAssignment = new PortAssignmentWindow(this);
    m_portAssignment->show();
    m_portAssignment->raise();
    m_portAssignment->activateWindow();
}

QWidget *LinkTestWindow::portAssignmentWindow()
{
    if (!m_portAssignment)
        m_portAssignment = new PortAssignmentWindow(this);
    return m_portAssignment;
}

void LinkTestWindow::portPathTyped()
{
    const QString typed = ComboPortNum->currentText().trimmed();
    if (typed.isEmpty() || ComboPortNum->findText(typed, Qt::MatchFixedString) >= 0)
        return;
    // A path typed instead of a COM number is the device itself.
    const bool kept = m_pollActive;
    m_pollActive = false;
    try {
        m_port.setDeviceName(typed);
    } catch (const PortError &e) {
        showMessage(e.message(), QString(), MessageIcon::Error);
        return;
    }
    setPanel(0, typed);
    m_pollActive = kept;
}

void LinkTestWindow::ComboPortNumChange(int index)
{
    if (index < 0)
        return; // a typed text that names no port changes nothing
    const bool kept = m_pollActive;
    m_pollActive = false;
    try {
        m_port.setDeviceName(QStringLiteral("COM%d"));
        m_port.setPortNum(index + 1);
    } catch (const PortError &e) {
        {
            const QSignalBlocker blocker(ComboPortNum);
            ComboPortNum->setCurrentIndex(m_currentPortIndex);
        }
        showMessage(e.message(), QString(), MessageIcon::Error);
        return; // polling stays paused until the user ticks it again
    }
    m_currentPortIndex = index;
    setPanel(0, ComboPortNum->itemText(index));
    m_pollActive = kept;
}

void LinkTestWindow::ComboBaudrateChange(const QString &text)
{
    const auto speed = toolSpeedForText(text);
    if (!speed)
        return;
    const bool kept = m_pollActive;
    m_pollActive = false;
    m_port.setBaudrate(speed->rate);
    m_link.setResponseWait(speed->chosenWait);
    m_pollActive = kept;
}

void LinkTestWindow::Edit1Change(const QString &text)
{
    Timer1->stop();
    m_deviceAddress = parseDeviceAddress(text);
    Timer1->start();
}

void LinkTestWindow::ParametrChange()
{
    m_pollActive = false;
}

void LinkTestWindow::showSpeedInList(Baudrate rate)
{
    if (const auto speed = toolSpeedFor(rate)) {
        const QSignalBlocker blocker(ComboBaudrate);
        ComboBaudrate->setCurrentText(speed->text);
    }
}

bool LinkTestWindow::deferWhileBusy(const std::function<void()> &action)
{
    // An action taken while an exchange waits for its reply runs inside that wait; waiting for
    // the exchange there would never end, and the link would refuse a second one. Such actions
    // queue up and run in the order the user took them once the line is free.
    if (!lineBusy() && (m_replaying || m_deferred.isEmpty()))
        return false;
    m_deferred.append(action);
    if (!m_retryTimer->isActive())
        m_retryTimer->start();
    return true;
}

void LinkTestWindow::runDeferred()
{
    if (m_deferred.isEmpty() || m_closing)
        return;
    if (lineBusy()) {
        m_retryTimer->start();
        return;
    }
    const std::function<void()> action = m_deferred.takeFirst();
    if (!m_deferred.isEmpty())
        m_retryTimer->start();
    m_replaying = true;
    action();
    m_replaying = false;
}

QString LinkTestWindow::portFailureText(const PortError &error) const
{
    const QString why =
        explainPortProblem(m_port.displayName(), m_port.lastOpenProblem(),
                           QStringLiteral("кнопка «Назначение портов» рядом с полем порта"));
    return why.isEmpty() ? error.message() : error.message() + QStringLiteral("\n\n") + why;
}

int LinkTestWindow::readIdentity(std::uint8_t address, QString *portError)
{
    if (m_exchanging)
        return kNoReply;
    m_exchanging = true;
    int result = kNoReply;
    try {
        result = m_link.Read(address, 0, kIdentityRegisters);
    } catch (const PortError &e) {
        if (portError)
            *portError = portFailureText(e);
        result = kNoReply;
    }
    m_exchanging = false;
    return result;
}

int LinkTestWindow::writeClock(QString *portError)
{
    if (m_exchanging)
        return kNoReply;
    m_exchanging = true;
    int result = kNoReply;
    try {
        result = m_link.Write(m_deviceAddress, kClockRegister, 3);
    } catch (const PortError &e) {
        *portError = portFailureText(e);
        result = kNoReply;
    }
    m_exchanging = false;
    return result;
}

int LinkTestWindow::FindClick()
{
    if (m_searching)
        return kNoReply;
    if (deferWhileBusy([this] { FindClick(); })) {
        Find->setEnabled(false); // one search queued is enough
        return kNoReply;
    }
    m_searching = true;
    const QString portText = ComboPortNum->currentText();
    setPanel(0, portText + QStringLiteral(" Открыт"));
    m_search->StaticText2->clear();
    m_search->StaticText3->clear();
    Find->setEnabled(false);
    Timer1->stop();

    int result = kNoReply;
    QString portError;
    Baudrate tried = Baudrate::br115200;
    // From 1200 baud up the search takes seconds.
    std::optional<BusyCursor> busy(std::in_place);
    for (const auto &speed : toolSpeeds()) {
        if (m_closing)
            break;
        tried = speed.rate;
        m_port.setBaudrate(speed.rate);
        m_link.setResponseWait(speed.searchWait);
        result = readIdentity(0, &portError);
        m_search->popup();
        m_search->StaticText1->setText(QStringLiteral("Скорость: ") + speed.text);
        m_search->repaint();
        // Every speed fails the same way on a port that cannot be opened.
        if (!portError.isEmpty())
            break;
        m_clock.delay(300);
        if (result == kReplyOk)
            break;
    }
    m_clock.delay(500);
    busy.reset();

    if (result == kReplyOk) {
        setPanel(1, QStringLiteral(" Устройство обнаружено"));
        m_search->StaticText2->setText(QStringLiteral("Связь установлена"));
        m_search->StaticText3->setText(QStringLiteral("Идет инициализация..."));
        showSpeedInList(tried);
        m_pollActive = true;
        refreshIdentity();
        Timer1->start();
        m_pollActive = true;
    } else {
        setPanel(1, QStringLiteral(" Устройство не обнаружено"));
        m_search->StaticText1->setText(QStringLiteral(" Ошибка обмена: %1").arg(result));
        m_search->StaticText2->setText(QStringLiteral(" Устройство не обнаружено"));
        m_search->StaticText3->setText(QStringLiteral(" Проверьте подключение"));
    }
    m_search->repaint();
    if (!m_closing)
        m_clock.delay(1000);
    m_search->hide();

    showSpeedInList(tried);
    Find->setEnabled(true);
    setPanel(0, portText + QStringLiteral(" Закрыт"));
    m_searching = false;
    if (!portError.isEmpty())
        showMessage(portError, QString(), MessageIcon::Error);
    return result;
}

void LinkTestWindow::UpDateCFG()
{
    // A search or the interface check owns the line until it ends.
    if (m_searching || m_checking)
        return;
    refreshIdentity();
}

void LinkTestWindow::refreshIdentity()
{
    if (!m_pollActive || m_reading || m_exchanging || m_closing)
        return;
    // The line counts as busy from the pause on, so that a click meanwhile waits for the read.
    m_reading = true;
    m_clock.delay(50);
    QString portError;
    const int result = m_pollActive && !m_closing ? readIdentity(m_deviceAddress, &portError) : -1;
    m_reading = false;
    // Polling switched off during the pause or the wait (the user began typing a date or time):
    // the fields are the user's now.
    if (result < 0 || !m_pollActive)
        return;
    if (result == kReplyOk) {
        setPanel(1, QStringLiteral(" Чтение "));
        const ToolIdentityTexts t = describeRegisters(m_link.values.data());
        StaticText5->setText(t.type);
        StaticText7->setText(t.version);
        StaticText9->setText(t.release);
        StaticText11->setText(t.serial);
        Edit1->setText(QString::number(t.address));
        MaskEditDate->setText(t.date);
        MaskEditTime->setText(t.time);
        m_pollActive = CheckBox1->isChecked();
        m_error->hide();
        m_toldPortFailure.clear();
        return;
    }
    setPanel(1, QStringLiteral(" Ошибка чтения : %1").arg(result));
    ClearIdentity();
    m_pollActive = CheckBox1->isChecked();
    if (portError.isEmpty()) {
        m_error->StaticText1->setText(QStringLiteral("Ошибка обмена: %1").arg(result));
        m_error->show();
        return;
    }
    // A port that has gone away is told once, in one box; the cyclic read goes on, so that
    // the device is read again as soon as its converter is back.
    m_error->hide();
    if (portError == m_toldPortFailure)
        return;
    m_toldPortFailure = portError;
    showMessage(portError, QString(), MessageIcon::Error);
}

void LinkTestWindow::SetDeviceClock()
{
    m_settingClock = true;
    const bool kept = m_pollActive;
    m_pollActive = false;
    Timer1->stop();
    m_clock.delay(100);

    const auto date = parseClockDate(MaskEditDate->text());
    const auto time = parseClockTime(MaskEditTime->text());
    if (!date || !time) {
        MessageRequest invalid;
        invalid.text = QStringLiteral("Неверный ввод даты или времени");
        invalid.untitled = true;
        messages().showMessage(invalid);
    } else {
        const auto registers = clockRegisters(*date, *time);
        std::copy(registers.begin(), registers.end(), m_link.values.begin());
        QString portError;
        const int result = writeClock(&portError);
        if (!portError.isEmpty()) {
            showMessage(portError, QString(), MessageIcon::Error);
        } else if (result == kReplyOk) {
            showMessage(QStringLiteral("Дата и время установлены"),
                        QStringLiteral("Установка даты и времени"), MessageIcon::Information);
        } else {
            showMessage(QStringLiteral("Ошибка обмена:%1").arg(result),
                        QStringLiteral("Ошибка обмена"), MessageIcon::Error);
        }
        CheckBox1->setChecked(kept);
        m_pollActive = kept;
    }
    Timer1->start();
    m_pollActive = true;
    m_settingClock = false;
}

void LinkTestWindow::MaskEditDateKeyPress()
{
    if (m_pollActive || deferWhileBusy([this] { MaskEditDateKeyPress(); }))
        return;
    SetDeviceClock();
    CheckBox1->setChecked(false);
    m_pollActive = false;
}

void LinkTestWindow::DateDefault()
{
    if (deferWhileBusy([this] { DateDefault(); }))
        return;
    const bool kept = m_pollActive;
    m_pollActive = false;
    MaskEditDate->setText(clockDateText(QDate::currentDate()));
    SetDeviceClock();
    m_pollActive = kept;
}

void LinkTestWindow::TimeDefault()
{
    if (deferWhileBusy([this] { TimeDefault(); }))
        return;
    const bool kept = m_pollActive;
    m_pollActive = false;
    MaskEditTime->setText(clockTimeText(QTime::currentTime()));
    SetDeviceClock();
    m_pollActive = kept;
}

void LinkTestWindow::TestClick()
{
    CheckBox1->setChecked(false);
    m_pollActive = false;
    m_check->show();
    m_check->raise();
    m_check->activateWindow();
}

void LinkTestWindow::Edit8Click()
{
    fillReceiveBuffer(m_link.replyText(), *m_receiveBuffer);
    m_viewer->HexGrid1->viewport()->update();
    m_receiveBuffer->count = kViewerBytes;
    m_viewer->HexGrid1->adoptBlock(m_receiveBuffer);
    m_viewer->setEnabled(true);
    m_viewer->show();
    m_viewer->raise();
    m_viewer->activateWindow();
}

void LinkTestWindow::GetRealTime()
{
    setPanel(2, QStringLiteral("   ") + longTimeText(QLocale::system(), QTime::currentTime()));
}

void LinkTestWindow::ClearIdentity()
{
    StaticText5->clear();
    StaticText7->clear();
    StaticText9->clear();
    StaticText11->clear();
}

bool LinkTestWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == Edit8) {
        if (type == QEvent::MouseButtonPress)
            Edit8Click();
        return false;
    }
    if (type == QEvent::MouseButtonPress) {
        ParametrChange();
    } else if (type == QEvent::MouseButtonDblClick) {
        if (watched == MaskEditDate)
            DateDefault();
        else
            TimeDefault();
        return true;
    } else if (type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            MaskEditDateKeyPress();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LinkTestWindow::closeEvent(QCloseEvent *event)
{
    // Searches and the check end their sweeps early once the program is closing.
    m_closing = true;
    Timer1->stop();
    for (QWidget *w : {static_cast<QWidget *>(m_search), static_cast<QWidget *>(m_viewer),
                       static_cast<QWidget *>(m_error), static_cast<QWidget *>(m_check)}) {
        if (w)
            w->hide();
    }
    event->accept();
}

LinkTestWindow::CheckState LinkTestWindow::beginInterfaceCheck(int responseWait)
{
    CheckState state;
    state.keptPoll = m_pollActive;
    CheckBox1->setChecked(false);
    FindClick();
    m_checking = true;
    Find->setEnabled(false);
    Timer1->stop();
    m_pollActive = false;
    m_link.setResponseWait(responseWait);
    state.keptRate = m_port.baudrate();
    return state;
}

void LinkTestWindow::endInterfaceCheck(const CheckState &state)
{
    m_checking = false;
    m_port.setBaudrate(state.keptRate);
    CheckBox1->setChecked(state.keptPoll);
    m_pollActive = state.keptPoll;
    m_clock.delay(50);
    Find->setEnabled(true);
    Timer1->start();
}

QString LinkTestWindow::searchOutcome() const
{
    return m_search ? m_search->StaticText2->text() : QString();
}
