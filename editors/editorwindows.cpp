#include "editors/editorwindows.h"

#include "device/identity.h"
#include "editors/storedproperties.h"
#include "session/networkscan.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/windowhost.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ConfigWindow::ConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmConfig"), QStringLiteral("Конфигурация"),
                   host.mainWidget())
{
    declareStoredState(stored::configProperties());
    setStoresWindowState(true);
    resize(560, 460);

    // The identity and line fields, filled whenever a device is described.
    auto *layout = new QVBoxLayout(this);
    auto *identity = new QGroupBox(this);
    identity->setObjectName(QStringLiteral("GroupBoxIdent"));
    auto *form = new QFormLayout(identity);
    auto label = [this](const char *name) {
        auto *l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto edit = [this](const char *name, int maxLength) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        if (maxLength > 0)
            e->setMaxLength(maxLength);
        return e;
    };
    QLabel *type = label("StaticType2");
    QLineEdit *name = edit("EditDevString", 32);
    QLabel *version = label("StaticSoft2");
    QLabel *build = label("StaticBuild2");
    QLabel *serial = label("StaticSerial2");
    QLabel *variant = label("StaticIspoln2");
    form->addRow(QStringLiteral("Тип устройства :"), type);
    form->addRow(QStringLiteral("Описание устройства :"), name);
    form->addRow(QStringLiteral("Версия ПО:"), version);
    form->addRow(QStringLiteral("Дата выпуска:"), build);
    form->addRow(QStringLiteral("Серийный номер:"), serial);
    form->addRow(QStringLiteral("Исполнение:"), variant);
    QLineEdit *date = edit("MaskEditData", 0);
    date->setInputMask(QStringLiteral("99.99.99;_"));
    form->addRow(QStringLiteral("Дата прибора:"), date);
    QLineEdit *time = edit("MaskEditTime", 0);
    time->setInputMask(QStringLiteral("99:99:99;_"));
    form->addRow(QStringLiteral("Время прибора :"), time);
    QLineEdit *address = edit("EditNetAdr", 3);
    form->addRow(QStringLiteral("Адрес в сети:"), address);
    auto *speeds = new QComboBox(this);
    speeds->setObjectName(QStringLiteral("ComboBaudrate1"));
    // Item n is the text of line-speed code n.
    speeds->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                      QStringLiteral("57600"), QStringLiteral("115200")});
    speeds->setCurrentIndex(0);
    form->addRow(QStringLiteral("Cкорость обмена : "), speeds);
    layout->addWidget(identity);
    layout->addStretch(1);
    declareCommandPanels({speeds});

    connect(&session, &Session::identityDescribed, this, [=](const IdentityTexts &t) {
        type->setText(t.type);
        address->setText(t.address);
        version->setText(t.version);
        build->setText(t.releaseDate);
        serial->setText(t.serial);
        variant->setText(t.variant);
        date->setText(t.clockDate);
        time->setText(t.clockTime);
        speeds->setCurrentIndex(speeds->findText(t.speed)); // -1 for an unknown speed
    });
    connect(&session, &Session::selectedNameShown, name, &QLineEdit::setText);
    connect(&session, &Session::scanSpeedChosen, speeds,
            [speeds](const QString &text) { speeds->setCurrentIndex(speeds->findText(text)); });
    connect(&session.scan(), &NetworkScan::finished, this, [this, speeds](int found) {
        const int code = this->session().CurrentDevice().speedCode();
        speeds->setCurrentIndex(code < speeds->count() ? code : -1);
        // The scan ends a pending edit: the field being edited lets go of the focus.
        if (found > 0) {
            if (QWidget *editing = focusWidget())
                editing->clearFocus();
        }
    });
}

ProgramControlWindow::ProgramControlWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmProgramControl"),
                   QStringLiteral("Программное управление"), host.mainWidget(),
                   Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint)
{
    setFixedSize(760, 509);
}

ArchDataWindow::ArchDataWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmArchData"), QStringLiteral("Просмотр архива"),
                   host.mainWidget())
{
    resize(640, 480);
}

AlarmWindow::AlarmWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmAlarm"), QStringLiteral("Сигнализация"),
                   host.mainWidget())
{
    declareStoredState(stored::alarmProperties());
    resize(620, 440);
}

ChannelConfigWindow::ChannelConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmChannelConfig"),
                   QStringLiteral("Настройка каналов"), host.mainWidget())
{
    declareStoredState(stored::channelProperties());
    resize(640, 460);

    // The inputs' latest measured values, which the polling cycle puts in.
    auto *layout = new QFormLayout(this);
    QList<QDoubleSpinBox *> values;
    for (int i = 1; i <= 4; ++i) {
        auto *value = new QDoubleSpinBox(this);
        value->setObjectName(QStringLiteral("EditValX%1").arg(i));
        value->setReadOnly(true);
        value->setButtonSymbols(QAbstractSpinBox::NoButtons);
        value->setRange(-1e9, 1e9);
        value->setDecimals(3);
        layout->addRow(QStringLiteral("X%1:").arg(i), value);
        values.append(value);
    }
    connect(&session.polling(), &PollingCycle::valuesPolled, this,
            [this, values](int, const std::array<double, 4> &polled, bool selected) {
                if (!selected || !isVisible())
                    return;
                for (int c = 0; c < 4; ++c)
                    values[c]->setValue(polled[c]);
            });
}

ContursConfigWindow::ContursConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmContursConfig"),
                   QStringLiteral("Настройка контуров"), host.mainWidget())
{
    declareStoredState(stored::loopProperties());
    resize(660, 480);
}
