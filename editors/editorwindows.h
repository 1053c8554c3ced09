#pragma once

#include "workstation/statefulwindow.h"

class MainWindow;

// The settings windows of the selected device. Each is created once at start, hidden, and only
// shown and hidden afterwards; four of them remember their controls per device.

// "Конфигурация": identity, clock, address and line speed, and the general settings.
class ConfigWindow : public StatefulWindow
{
    Q_OBJECT
public:
    explicit ConfigWindow(MainWindow &main);

private:
    MainWindow &m_main;
};

// "Программное управление": the setpoint programs.
class ProgramControlWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ProgramControlWindow(MainWindow &main);

private:
    MainWindow &m_main;
};

// "Просмотр архива": the device's internal archive.
class ArchDataWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ArchDataWindow(MainWindow &main);

private:
    MainWindow &m_main;
};

// "Сигнализация": the alarm comparators.
class AlarmWindow : public StatefulWindow
{
    Q_OBJECT
public:
    explicit AlarmWindow(MainWindow &main);

private:
    MainWindow &m_main;
};

// "Настройка каналов": the four measurement inputs.
class ChannelConfigWindow : public StatefulWindow
{
    Q_OBJECT
public:
    explicit ChannelConfigWindow(MainWindow &main);

private:
    MainWindow &m_main;
};

// "Настройка контуров": the two control loops.
class ContursConfigWindow : public StatefulWindow
{
    Q_OBJECT
public:
    explicit ContursConfigWindow(MainWindow &main);

private:
    MainWindow &m_main;
};
