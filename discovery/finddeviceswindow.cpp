#include "discovery/finddeviceswindow.h"

#include "link/porterror.h"
#include "platform/busycursor.h"
#include "platform/messageservice.h"
#include "platform/portassignment.h"
#include "session/networkscan.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/secondarywindow.h"
#include "windowkit/windowhost.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

FindDevicesWindow::FindDevicesWindow(Session &session, WindowHost &host)
    : QWidget(host.mainWidget(), Qt::Window), m_session(session), m_host(host)
{
    makeSecondaryWindow(this, QStringLiteral("frmFindDevices"), QStringLiteral("Поиск устройств"));
    resize(330, 330);

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
    for (const LineSpeed &s : kLineSpeeds)
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
    auto *portDevice = new PortDeviceLabel(m_port, group);
    portDevice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(new QLabel(QStringLiteral("Порт :"), group), 0, 0);
    grid->addWidget(m_port, 0, 1);
    grid->addWidget(portDevice, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Cкорость : "), group), 2, 0);
    grid->addWidget(m_speed, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Поиск в интервале адресов:"), group), 3, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Начальный:"), group), 4, 0);
    grid->addWidget(m_begin, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Конечный:"), group), 5, 0);
    grid->addWidget(m_end, 5, 1);
    layout->addWidget(group);

    // What the scan is trying now, how far it has come, and what it has found so far.
    auto *progressGroup = new QGroupBox(QStringLiteral("Ход поиска"), this);
    progressGroup->setObjectName(QStringLiteral("GroupBoxProgress"));
    auto *progressColumn = new QVBoxLayout(progressGroup);
    m_probe = new QLabel(QStringLiteral("Поиск не выполнялся"), progressGroup);
    m_probe->setObjectName(QStringLiteral("StaticProbe"));
    m_progress = new QProgressBar(progressGroup);
    m_progress->setObjectName(QStringLiteral("ProgressFind"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_found = new QLabel(progressGroup);
    m_found->setObjectName(QStringLiteral("StaticFound"));
    progressColumn->addWidget(m_probe);
    progressColumn->addWidget(m_progress);
    progressColumn->addWidget(m_found);
    layout->addWidget(progressGroup);
    NetworkScan &scan = m_session.scan();
    connect(&scan, &NetworkScan::probing, m_probe, &QLabel::setText);
    connect(&scan, &NetworkScan::progressed, m_progress, [this](int done, int total) {
        m_progress->setRange(0, std::max(1, total));
        m_progress->setValue(std::min(done, std::max(1, total)));
    });
    auto showFound = [this] {
        m_found->setText(
            QStringLiteral("Найдено устройств: %1").arg(m_session.network().deviceCount()));
    };
    connect(&scan, &NetworkScan::started, m_found, showFound);
    connect(&scan, &NetworkScan::deviceFound, m_found, showFound);
    m_probe->setWordWrap(true);
    connect(&scan, &NetworkScan::finished, m_probe, [this](int found) {
        const QString why = m_session.scan().portProblem();
        m_probe->setText(!why.isEmpty() ? why
                         : found > 0    ? QStringLiteral("Поиск завершён")
                                     : QStringLiteral("Устройства не обнаружены"));
    });

    m_find = new QPushButton(QStringLiteral("Сканировать"), this);
    m_find->setObjectName(QStringLiteral("Find"));
    layout->addWidget(m_find);

    m_port->setCurrentIndex(0);
    m_speed->setCurrentIndex(3);
    connect(&m_session.selected(), &SelectedDevice::speedChanged, m_speed,
            [this](const QString &text) {
                if (const int i = m_speed->findText(text); i >= 0)
                    m_speed->setCurrentIndex(i);
            });
    connect(m_port, &QComboBox::currentIndexChanged, this, &FindDevicesWindow::ComboPortNumChange);
    connect(m_speed, &QComboBox::activated, this, &FindDevicesWindow::ComboBaudrateCloseUp);
    connect(m_begin, &QSpinBox::valueChanged, this, &FindDevicesWindow::EditAdrBegChange);
    connect(m_find, &QPushButton::clicked, this, &FindDevicesWindow::FindClick);
}

bool FindDevicesWindow::isScanning() const
{
    return m_session.scan().isRunning();
}

int FindDevicesWindow::lastResult() const
{
    return m_session.scan().lastResult();
}

void FindDevicesWindow::ComboPortNumChange()
{
    QString refusal;
    const int inForce = m_session.scan().choosePort(m_port->currentIndex() + 1, &refusal);
    if (!refusal.isEmpty()) {
        const QSignalBlocker quiet(m_port);
        m_port->setCurrentIndex(inForce - 1);
        showGlobalError(refusal);
    }
}

void FindDevicesWindow::ComboBaudrateCloseUp()
{
    const int i = m_speed->currentIndex();
    if (i < 0)
        return;
    m_session.scan().chooseSpeed(kLineSpeeds[i].rate, m_speed->currentText());
}

void FindDevicesWindow::EditAdrBegChange()
{
    if (m_end->value() < m_begin->value())
        m_end->setValue(m_begin->value());
}

void FindDevicesWindow::FindClick()
{
    NetworkScan &scanner = m_session.scan();
    // A press while a scan runs only asks it to stop; the running scan ends at its next probe
    // and keeps the devices it has found so far.
    if (scanner.isRunning()) {
        scanner.requestStop();
        return;
    }
    if (m_session.deferBehindTick(this, [this] { FindClick(); })) {
        // The scan starts as soon as that tick has ended, with polling already switched off.
        m_session.polling().stopQuietly();
        return;
    }
    m_find->setText(QStringLiteral("Остановить"));
    struct Idle
    {
        QPushButton *find;
        ~Idle() { find->setText(QStringLiteral("Сканировать")); }
    } idle{m_find};
    // A link failure ends this scan; the window goes back to idle, so the next press scans.
    try {
        // The busy cursor still lets the button be pressed to stop; it is gone before any error.
        const BusyCursor busy;
        scan();
    } catch (const ESendThreadError &e) {
        showGlobalError(e.message());
    } catch (const PortError &e) {
        showGlobalError(e.message());
    }
}

void FindDevicesWindow::scan()
{
    NetworkScan::Range range;
    range.portNumber = m_port->currentIndex() + 1;
    range.firstSpeed = std::max(0, m_speed->currentIndex());
    range.firstAddress = m_begin->value();
    range.lastAddress = m_end->value();
    m_session.scan().run(range);
    if (const QString why = m_session.scan().portProblem(); !why.isEmpty())
        showMessage(why, QStringLiteral("Поиск устройств"), MessageIcon::Error);
    // The speed box follows the selected device's line speed (codes 0..4 are 9600..115200).
    if (const LineSpeed *s = lineSpeedForCode(m_session.selected().CurrentDevice().speedCode())) {
        const int i = m_speed->findText(QString::fromLatin1(s->text));
        if (i >= 0)
            m_speed->setCurrentIndex(i);
    }
}
