#include "discovery/finddeviceswindow.h"

#include "workstation/mainwindow.h"
#include "workstation/secondarywindows.h"

FindDevicesWindow::FindDevicesWindow(MainWindow &main) : QWidget(&main, Qt::Window), m_main(main)
{
    makeSecondaryWindow(this, QStringLiteral("frmFindDevices"), QStringLiteral("Поиск устройств"));
    resize(330, 250);
    m_main.link().Setup(m_main.commPort());
}
