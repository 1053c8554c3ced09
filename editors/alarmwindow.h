#pragma once

#include "windowkit/editorwindow.h"

#include <array>

class NumericField;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// "Сигнализация": the eight limit comparators of the selected device, the common alarm settings
// and the comparators' states. Every comparator control exists eight times, its name ending in
// the comparator's number; the shared handlers find the comparator from the sender's name.
class AlarmWindow : public EditorWindow
{
    Q_OBJECT
public:
    static constexpr int kComparators = 8;

    // The controls of one comparator.
    struct ComparatorControls
    {
        QCheckBox *on = nullptr;
        QLabel *state = nullptr;
        QComboBox *input = nullptr;
        QComboBox *output = nullptr;
        QComboBox *function = nullptr;
        NumericField *threshold = nullptr;
        NumericField *hysteresis = nullptr;
    };

    AlarmWindow(Session &session, WindowHost &host);

    ExchangeOutcome ButtonAlarmReadClick();
    ExchangeOutcome ButtonAlarmWriteClick();

    // The exchanges of a read: the comparators, the inputs' point positions, the common block
    // and the comparator states, into the images.
    void AlarmGet(ExchangeRun &run);
    // Shows the images in the controls; no exchange.
    void AlarmRead();
    // Refreshes the inputs' point positions and composes the controls into the image; false,
    // with the image untouched, when that read failed or an entry does not fit its field.
    bool AlarmWrite(ExchangeRun &run);
    // Writes the comparators and the common block with the window's fields.
    void AlarmPut(ExchangeRun &run);

    // The shared handler of CheckAlarm1…8.
    void CheckAlarmClick(QObject *sender);

private:
    void buildControls();
    void buildComparators(QWidget *group);
    QWidget *buildMode();
    void showState(QLabel *indicator, bool tripped);
    const ComparatorControls &controls(int k) const { return m_comparators[k - 1]; }

    QWidget *m_comparatorGroup = nullptr;
    QWidget *m_modeGroup = nullptr;
    QWidget *m_panel = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_write = nullptr;
    QComboBox *m_paramY2 = nullptr;
    QCheckBox *m_sound = nullptr;
    QCheckBox *m_offAfterTenSeconds = nullptr;
    std::array<QCheckBox *, 3> m_initialOutputs{}; // Y3, Y4, Y5
    std::array<ComparatorControls, kComparators> m_comparators{};
};
