#pragma once

#include "windowkit/editorwindow.h"

#include <array>
#include <optional>
#include <utility>

class QPushButton;

// "Настройка каналов": the four measurement inputs X1…X4 of the selected device. Every control
// exists once per input, its name ending in the input's digit; the shared handlers find the
// input from the sending control's name and the input's other controls by name.
class ChannelConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    ChannelConfigWindow(Session &session, WindowHost &host);

    ExchangeOutcome ButtonChanReadClick();
    ExchangeOutcome ButtonChanWriteClick();

    // All four inputs in turn, stopping after the first that failed.
    void ChanRead(ExchangeRun &run);
    void ChanWrite(ExchangeRun &run);
    // One input; true when one of its exchanges failed.
    bool ReadChanInfo(ExchangeRun &run, int n);
    bool WriteChanInfo(ExchangeRun &run, int n);

    // The shared handlers, for the input named by the sender's last character.
    void ComboTypeDChange(QObject *sender);
    void ComboHaraktChange(QObject *sender);
    void CheckChanOnOff1Click(QObject *sender);
    void CheckRazmClick(QObject *sender);

    // The input 1..4 that a control belongs to, from the last character of its name; 0 when the
    // name ends in no input's digit.
    static int channelOf(const QObject *control);

private:
    void buildControls();
    template <typename T> T *control(const char *prefix, int n) const;

    QWidget *m_group = nullptr;
    QWidget *m_panel = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_write = nullptr;
};
