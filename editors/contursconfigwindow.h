#pragma once

#include "windowkit/editorwindow.h"

#include <array>

class NumericField;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
struct LoopBlock;

// "Настройка контуров": the two control loops of the selected device on the pages "Контур-1"
// and "Контур-2", and the live values of either on "Просмотр контуров". Every loop control
// exists once per loop, its name ending in the loop's digit; the shared handlers find the loop
// from the sending control's name.
class ContursConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    struct LoopControls
    {
        QComboBox *input = nullptr;
        QComboBox *output = nullptr;
        QComboBox *law = nullptr;
        QComboBox *program = nullptr;
        QLineEdit *description = nullptr;
        NumericField *setpoint = nullptr;
        QCheckBox *percent = nullptr;
        NumericField *vzd = nullptr;
        NumericField *dxLow = nullptr;
        NumericField *dxHigh = nullptr;
        NumericField *tiu = nullptr;
        NumericField *timp = nullptr;
        NumericField *to = nullptr;
        NumericField *ko = nullptr;
        NumericField *tz = nullptr;
        NumericField *v5 = nullptr;
        std::array<NumericField *, 6> mismatch{};
        NumericField *kp = nullptr;
        NumericField *ki = nullptr;
        NumericField *kd = nullptr;
        std::array<NumericField *, 10> yi{};
        std::array<NumericField *, 10> yo{};
        QCheckBox *manual = nullptr;
        QCheckBox *on = nullptr;
        QCheckBox *linearization = nullptr;
        QCheckBox *forecast = nullptr;
        QCheckBox *byProgram = nullptr;
        QWidget *panel = nullptr;
        QPushButton *read = nullptr;
        QPushButton *write = nullptr;
        // The loop's part of the view page.
        QGroupBox *viewGroup = nullptr;
        QTableWidget *viewList = nullptr;
        QPushButton *refresh = nullptr;
    };

    ContursConfigWindow(Session &session, WindowHost &host);

    // The buttons of loop n: "Читать", "Записать" and "Обновить параметры".
    ExchangeOutcome ButtonReadKontClick(int n);
    ExchangeOutcome ButtonWriteKontClick(int n);
    ExchangeOutcome BitBtnOtladkaClick(int n);

    // One loop; true when one of its exchanges failed.
    bool KontParRead(ExchangeRun &run, int n);
    bool KontParWrite(ExchangeRun &run, int n);
    bool GetKontParam(ExchangeRun &run, int n);

    // The shared handlers, for the loop named by the sender's last character.
    void ComboZakonCloseUp(QObject *sender);
    void ComboOutCloseUp(QObject *sender);
    void CheckProgClick(QObject *sender);
    void CheckOn_OffClick(QObject *sender);
    void RevimKontClick(QObject *sender);

private:
    QWidget *buildLoopPage(int n);
    QWidget *buildViewPage();
    void clearView();
    const LoopControls &controls(int n) const { return m_loops[n - 1]; }
    // The stored forms of the fields; false (the user told) when one does not fit its field.
    bool composeFields(const LoopControls &c, LoopBlock &block, int pointPosition);

    std::array<LoopControls, 2> m_loops{};
    NumericField *m_measuringPeriod = nullptr;
    NumericField *m_coldJunction = nullptr;
};
