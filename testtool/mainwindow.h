#pragma once

#include "link/commport.h"
#include "link/testtoollink.h"
#include "testtool/hexgridcore.h"

#include <QList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class Clock;
class ClockTimer;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QToolButton;
class PortAssignmentWindow;
class PortDeviceLabel;
class SearchPopup;
class ReceiveBufferWindow;
class ExchangeErrorPopup;
class InterfaceCheckWindow;

// "Лорван MODBUS тест": one device on one port; finds it, shows its identity and clock once a
// second, sets the clock, and opens the interface check and the receive-buffer viewer.
class LinkTestWindow : public QWidget
{
    Q_OBJECT
public:
    explicit LinkTestWindow(Clock &clock, QWidget *parent = nullptr);
    ~LinkTestWindow() override;

    // The popups and windows that are created after this one.
    void attach(SearchPopup *search, ReceiveBufferWindow *viewer, ExchangeErrorPopup *error,
                InterfaceCheckWindow *check);

    Clock &clock() { return m_clock; }
    CommPort &port() { return m_port; }
    TestToolLink &link() { return m_link; }
    bool pollActive() const { return m_pollActive; }
    void setPollActive(bool on) { m_pollActive = on; }
    std::uint8_t deviceAddress() const { return m_deviceAddress; }
    const std::shared_ptr<ByteBlock> &receiveBuffer() const { return m_receiveBuffer; }
    QString panelText(int panel) const;
    bool closing() const { return m_closing; }
    SearchPopup *searchPopup() const { return m_search; }
    bool searching() const { return m_searching; }
    // An exchange, a search, the check or a clock setting is under way.
    bool lineBusy() const
    {
        return m_reading || m_exchanging || m_searching || m_checking || m_settingClock;
    }
    // While the line is busy (or earlier actions still wait), keeps action for later and says
    // so; the kept actions run in order once the line is free.
    bool deferWhileBusy(const std::function<void()> &action);
    // The interface check takes the line: the cyclic read and the search button rest, a search
    // runs first, and the reads use the check's reply wait. What the tool had before comes back
    // when the check ends.
    struct CheckState
    {
        bool keptPoll = false;
        Baudrate keptRate = Baudrate::br9600;
    };
    CheckState beginInterfaceCheck(int responseWait);
    void endInterfaceCheck(const CheckState &state);
    // The search popup's outcome line.
    QString searchOutcome() const;

    // Device search over all speeds; returns the last result code.
    int FindClick();
    void UpDateCFG();
    void SetDeviceClock();
    void DateDefault();
    void TimeDefault();
    void MaskEditDateKeyPress();
    void TestClick();
    void Edit8Click();
    void GetRealTime();
    void ClearIdentity();

    // One identity read (ten registers from 0); no reply while another exchange waits. A port
    // error counts as no reply; its text goes to portError when asked for.
    int readIdentity(std::uint8_t address, QString *portError = nullptr);

    QComboBox *ComboPortNum;
    // Beside the port box: the port assignment, and the device the port box leads to.
    QToolButton *ButtonPorts;
    PortDeviceLabel *StaticPortDevice;
    QComboBox *ComboBaudrate;
    QLineEdit *Edit1;
    QCheckBox *CheckBox2;
    QLabel *StaticText5;
    QLabel *StaticText7;
    QLabel *StaticText9;
    QLabel *StaticText11;
    QLineEdit *MaskEditDate;
    QLineEdit *MaskEditTime;
    QCheckBox *CheckBox1;
    QPushButton *Find;
    QPushButton *Test;
    QLineEdit *Edit8;
    QStatusBar *StatusBar1;
    ClockTimer *Timer1;
    ClockTimer *Timer2;

    void showPortAssignment();
    // The port assignment window (made on first use).
    QWidget *portAssignmentWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void portPathTyped();
    void setPanel(int panel, const QString &text);
    void ComboPortNumChange(int index);
    void ComboBaudrateChange(const QString &text);
    void Edit1Change(const QString &text);
    void ParametrChange();
    void runDeferred();

    void refreshIdentity();
    int writeClock(QString *portError);
    // A port error as the tool shows it: the port's own text, then why the port cannot be used.
    QString portFailureText(const PortError &error) const;
    void showSpeedInList(Baudrate rate);

    Clock &m_clock;
    CommPort m_port;
    TestToolLink m_link;
    bool m_pollActive = false;
    std::uint8_t m_deviceAddress = 0;
    std::shared_ptr<ByteBlock> m_receiveBuffer;
    QLabel *m_panels[3] = {};
    SearchPopup *m_search = nullptr;
    ReceiveBufferWindow *m_viewer = nullptr;
    ExchangeErrorPopup *m_error = nullptr;
    InterfaceCheckWindow *m_check = nullptr;
    int m_currentPortIndex = 0;
    PortAssignmentWindow *m_portAssignment = nullptr;
    // The port failure last shown; the same one is not shown again until a read succeeds.
    QString m_toldPortFailure;
    bool m_exchanging = false;
    bool m_searching = false;
    bool m_checking = false;
    bool m_settingClock = false;
    bool m_reading = false;
    QList<std::function<void()>> m_deferred;
    ClockTimer *m_retryTimer = nullptr;
    bool m_replaying = false;
    bool m_closing = false;
};
