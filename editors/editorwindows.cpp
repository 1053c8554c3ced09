#include "editors/editorwindows.h"

#include "editors/storedproperties.h"
#include "workstation/mainwindow.h"
#include "workstation/secondarywindows.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ConfigWindow::ConfigWindow(MainWindow &main)
    : StatefulWindow(QStringLiteral("frmConfig"), QStringLiteral("Конфигурация"), &main),
      m_main(main)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setStoredProperties(stored::configProperties());
    setStoresWindowState(true);
    resize(560, 460);

    // The identity and line fields, which the main window fills whenever a device is described.
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
    form->addRow(QStringLiteral("Тип устройства :"), label("StaticType2"));
    form->addRow(QStringLiteral("Описание устройства :"), edit("EditDevString", 32));
    form->addRow(QStringLiteral("Версия ПО:"), label("StaticSoft2"));
    form->addRow(QStringLiteral("Дата выпуска:"), label("StaticBuild2"));
    form->addRow(QStringLiteral("Серийный номер:"), label("StaticSerial2"));
    form->addRow(QStringLiteral("Исполнение:"), label("StaticIspoln2"));
    QLineEdit *date = edit("MaskEditData", 0);
    date->setInputMask(QStringLiteral("99.99.99;_"));
    form->addRow(QStringLiteral("Дата прибора:"), date);
    QLineEdit *time = edit("MaskEditTime", 0);
    time->setInputMask(QStringLiteral("99:99:99;_"));
    form->addRow(QStringLiteral("Время прибора :"), time);
    form->addRow(QStringLiteral("Адрес в сети:"), edit("EditNetAdr", 3));
    auto *speeds = new QComboBox(this);
    speeds->setObjectName(QStringLiteral("ComboBaudrate1"));
    speeds->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                      QStringLiteral("57600"), QStringLiteral("115200")});
    form->addRow(QStringLiteral("Cкорость обмена : "), speeds);
    layout->addWidget(identity);
    layout->addStretch(1);
}

ProgramControlWindow::ProgramControlWindow(MainWindow &main)
    : QWidget(&main, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      m_main(main)
{
    makeSecondaryWindow(this, QStringLiteral("frmProgramControl"),
                        QStringLiteral("Программное управление"));
    setFixedSize(760, 509);
}

ArchDataWindow::ArchDataWindow(MainWindow &main) : QWidget(&main, Qt::Window), m_main(main)
{
    makeSecondaryWindow(this, QStringLiteral("frmArchData"), QStringLiteral("Просмотр архива"));
    resize(640, 480);
}

AlarmWindow::AlarmWindow(MainWindow &main)
    : StatefulWindow(QStringLiteral("frmAlarm"), QStringLiteral("Сигнализация"), &main),
      m_main(main)
{
    setStoredProperties(stored::alarmProperties());
    resize(620, 440);
}

ChannelConfigWindow::ChannelConfigWindow(MainWindow &main)
    : StatefulWindow(QStringLiteral("frmChannelConfig"), QStringLiteral("Настройка каналов"),
                     &main),
      m_main(main)
{
    setStoredProperties(stored::channelProperties());
    resize(640, 460);

    // The inputs' latest measured values, which the polling cycle puts in.
    auto *layout = new QFormLayout(this);
    for (int i = 1; i <= 4; ++i) {
        auto *value = new QDoubleSpinBox(this);
        value->setObjectName(QStringLiteral("EditValX%1").arg(i));
        value->setReadOnly(true);
        value->setButtonSymbols(QAbstractSpinBox::NoButtons);
        value->setRange(-1e9, 1e9);
        value->setDecimals(3);
        layout->addRow(QStringLiteral("X%1:").arg(i), value);
    }
}

ContursConfigWindow::ContursConfigWindow(MainWindow &main)
    : StatefulWindow(QStringLiteral("frmContursConfig"), QStringLiteral("Настройка контуров"),
                     &main),
      m_main(main)
{
    setStoredProperties(stored::loopProperties());
    resize(660, 480);
}
