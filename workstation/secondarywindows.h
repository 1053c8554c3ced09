#pragma once

#include "windowkit/editorwindow.h"

#include <QDialog>

// The main window's own secondary windows: the per-device network settings and the about box.

// "Настройки сети": fixed size, system menu only.
class NetworkConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    NetworkConfigWindow(Session &session, WindowHost &host);
};

// "О программе", shown modally.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
};
