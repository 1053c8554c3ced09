#pragma once

#include <QDialog>
#include <QWidget>

// The main window's own secondary windows: the per-device network settings and the about box.

// "Настройки сети": fixed size, system menu only.
class NetworkConfigWindow : public QWidget
{
    Q_OBJECT
public:
    explicit NetworkConfigWindow(QWidget *parent = nullptr);
};

// "О программе", shown modally.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
};

// Top-level window behaviour shared by every secondary window: it never ends the program when
// closed, and it starts hidden.
void makeSecondaryWindow(QWidget *window, const QString &objectName, const QString &caption);
