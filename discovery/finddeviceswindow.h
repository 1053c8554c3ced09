#pragma once

#include "link/commport.h"

#include <QWidget>

class MainWindow;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

// "Поиск устройств": finds the devices on one line. For every address of a range it tries the line
// speeds from the chosen one upwards until the device answers, and builds the device tree anew
// from what it finds. Creating it sets up the link on the main window's port, so the link is
// ready before any window can be used.
class FindDevicesWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxDevices = 32;
    // How long the scan's result stays on the progress panel.
    static constexpr int kResultShowMs = 2000;
    // How soon a scan asked for during a poll tick tries again.
    static constexpr int kDeferMs = 20;

    struct ScanSpeed
    {
        Baudrate rate;
        const char *text;
        int responseWait;
    };
    static const ScanSpeed kSpeeds[8];

    explicit FindDevicesWindow(MainWindow &main);

    bool isScanning() const { return m_running; }
    int lastResult() const { return m_lastResult; }

    // The scan, or the stop of a running one.
    void FindClick();
    void ComboPortNumChange();
    void ComboBaudrateCloseUp();
    void EditAdrBegChange();

private:
    void scan();
    void probeAddress(int address, int firstSpeed);
    void addFoundDevice(int address);
    void showResult(int found);
    void setLine(int line, const QString &text, bool red = false);
    QWidget *configControl(const char *name) const;

    MainWindow &m_main;
    QComboBox *m_port = nullptr;
    QComboBox *m_speed = nullptr;
    QSpinBox *m_begin = nullptr;
    QSpinBox *m_end = nullptr;
    QPushButton *m_find = nullptr;
    QTimer *m_resultTimer = nullptr;
    bool m_running = false;
    int m_lastResult = 999;
};
