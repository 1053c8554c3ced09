#pragma once

#include "windowkit/editorwindow.h"

#include <array>
#include <optional>
#include <utility>

class NumericField;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// "Настройка каналов": the four measurement inputs X1…X4 of the selected device. Every control
// exists once per input, its name ending in the input's digit; the shared handlers find the
// input from the sending control's name and reach its other controls through the input's row.
class ChannelConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    // The controls of one input.
    struct ChannelControls
    {
        QCheckBox *on = nullptr;
        QLineEdit *description = nullptr;
        NumericField *value = nullptr;
        QCheckBox *unit = nullptr;
        QCheckBox *squareRoot = nullptr;
        QComboBox *type = nullptr;
        QComboBox *characteristic = nullptr;
        QComboBox *scheme = nullptr;
        QComboBox *point = nullptr;
        NumericField *rangeStart = nullptr;
        NumericField *rangeEnd = nullptr;
        NumericField *correction = nullptr;
        NumericField *filter = nullptr;
    };

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

private:
    void buildControls();
    const ChannelControls &controls(int n) const { return m_channels[n - 1]; }

    QWidget *m_group = nullptr;
    QWidget *m_panel = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_write = nullptr;
    std::array<ChannelControls, 4> m_channels{};
};
