#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class Session;
class WindowHost;

// "Поиск устройств": the line, speed and address range of a scan, and the button that starts
// or stops it. The scan itself is the session's; its progress shows here as well as on the main
// window, which the scan window usually covers. Creating
// the window sets up the link on the session's port, so the link is ready before any window can
// be used.
class FindDevicesWindow : public QWidget
{
    Q_OBJECT
public:
    FindDevicesWindow(Session &session, WindowHost &host);

    bool isScanning() const;
    int lastResult() const;

    // The scan, or the stop of a running one.
    void FindClick();
    void ComboPortNumChange();
    void ComboBaudrateCloseUp();
    void EditAdrBegChange();

private:
    void scan();

    Session &m_session;
    WindowHost &m_host;
    QComboBox *m_port = nullptr;
    QComboBox *m_speed = nullptr;
    QSpinBox *m_begin = nullptr;
    QSpinBox *m_end = nullptr;
    QPushButton *m_find = nullptr;
    QLabel *m_probe = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_found = nullptr;
};
