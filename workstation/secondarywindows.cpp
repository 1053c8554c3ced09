#include "workstation/secondarywindows.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption)
{
    window->setObjectName(objectName);
    window->setWindowTitle(caption);
    window->setAttribute(Qt::WA_QuitOnClose, false);
}

NetworkConfigWindow::NetworkConfigWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    makeSecondaryWindow(this, QStringLiteral("frmNetworkConfig"), QStringLiteral("Настройки сети"));
    setFixedSize(493, 338);

    auto *layout = new QVBoxLayout(this);
    auto *settings = new QGroupBox(QStringLiteral("Настройки"), this);
    settings->setObjectName(QStringLiteral("GroupBox1"));
    layout->addWidget(settings);
    auto *chart = new QGroupBox(QStringLiteral("Настройки графика:"), this);
    chart->setObjectName(QStringLiteral("GroupBox2"));
    auto *chartLayout = new QVBoxLayout(chart);
    // Read by the polling cycle itself: a poll of the selected device asks for a chart redraw
    // only while this is checked.
    auto *update = new QCheckBox(QStringLiteral("Обновление графика с каждым замером"), chart);
    update->setObjectName(QStringLiteral("CheckUpdateGraph"));
    update->setChecked(true);
    chartLayout->addWidget(update);
    layout->addWidget(chart);
}

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    makeSecondaryWindow(this, QStringLiteral("frmAbout"), QStringLiteral("О программе"));
    setFixedSize(330, 260);
}
