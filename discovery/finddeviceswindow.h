#pragma once

#include <QWidget>

class MainWindow;

// "Поиск устройств": finds the devices on one line. Creating it sets up the link on the main
// window's port, so the link is ready before any window can be used.
class FindDevicesWindow : public QWidget
{
    Q_OBJECT
public:
    explicit FindDevicesWindow(MainWindow &main);

private:
    MainWindow &m_main;
};
