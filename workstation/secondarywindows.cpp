#include "workstation/secondarywindows.h"

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
}

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    makeSecondaryWindow(this, QStringLiteral("frmAbout"), QStringLiteral("О программе"));
    setFixedSize(330, 260);
}
