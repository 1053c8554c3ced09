#include "workstation/secondarywindows.h"

#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/secondarywindow.h"
#include "windowkit/windowhost.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

NetworkConfigWindow::NetworkConfigWindow(Session &session, WindowHost &host)
    : EditorWindow(session, host, QStringLiteral("frmNetworkConfig"),
                   QStringLiteral("Настройки сети"), host.mainWidget(),
                   Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setFixedSize(493, 338);

    auto *layout = new QVBoxLayout(this);
    auto *settings = new QGroupBox(QStringLiteral("Настройки"), this);
    settings->setObjectName(QStringLiteral("GroupBox1"));
    layout->addWidget(settings);
    auto *chart = new QGroupBox(QStringLiteral("Настройки графика:"), this);
    chart->setObjectName(QStringLiteral("GroupBox2"));
    auto *chartLayout = new QVBoxLayout(chart);
    // A poll of the selected device asks for a chart redraw only while this is checked.
    auto *update = new QCheckBox(QStringLiteral("Обновление графика с каждым замером"), chart);
    update->setObjectName(QStringLiteral("CheckUpdateGraph"));
    update->setChecked(true);
    chartLayout->addWidget(update);
    layout->addWidget(chart);
    declareCommandPanels({settings, chart});

    PollingCycle &polling = session.polling();
    polling.setChartUpdateOnPoll(update->isChecked());
    connect(update, &QCheckBox::toggled, &polling, &PollingCycle::setChartUpdateOnPoll);
    // A tick keeps the device settings locked until the panels are unlocked again.
    connect(&polling, &PollingCycle::tickStarted, settings,
            [settings] { settings->setEnabled(false); });
}

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    makeSecondaryWindow(this, QStringLiteral("frmAbout"), QStringLiteral("О программе"));
    setFixedSize(330, 260);
}
