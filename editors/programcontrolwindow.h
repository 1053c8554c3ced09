#pragma once

#include "windowkit/editorwindow.h"

class NumericField;
class QChart;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
struct ProgramBlock;

// "Программное управление": the four setpoint programs of the device. The programs live in the
// holding image only; every edit changes the image at once and the device sees it only when the
// user writes the programs.
class ProgramControlWindow : public EditorWindow
{
    Q_OBJECT
public:
    ProgramControlWindow(Session &session, WindowHost &host);

    ExchangeOutcome ButtonProgReadClick();
    ExchangeOutcome ButtonSaveProgClick();
    void ProgReadFileClick();
    void ProgSaveFileClick();

    // The program shown, 1..4.
    int selectedProgram() const;
    void ComboNProgChange();
    void FillProgramTable();
    void DrawProgramChart();
    // Shows program k as selected without showing its table.
    void SelectProgram(int k);
    // Repairs a program taken from the device or a file, with the warning when starts moved.
    void CheckLoadedProgram(int k);
    void CheckSegmentContinuity(int k);

    // Enter in the count field.
    void EditCountSegEnter();
    void ComboZptPosCloseUp();
    // The key handlers of the start date and time: red and nothing stored while the text is
    // not a valid date or time.
    void EditTimeProgKeyUp();
    void EditDateProgKeyUp();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void sgProgramTableSetEditText(QTableWidgetItem *item);
    HoldingBlock block(int k) const;
    ProgramBlock program(int k) const;
    void store(int k, const ProgramBlock &b);
    void setCell(int row, int column, const QString &text);
    void markField(QLineEdit *field, bool valid);

    QWidget *m_panel = nullptr;
    QGroupBox *m_header = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_write = nullptr;
    QPushButton *m_load = nullptr;
    QPushButton *m_save = nullptr;
    QComboBox *m_program = nullptr;
    QComboBox *m_point = nullptr;
    QLineEdit *m_date = nullptr;
    QLineEdit *m_time = nullptr;
    NumericField *m_count = nullptr;
    QTableWidget *m_table = nullptr;
    QChart *m_chart = nullptr;
    QLineSeries *m_series = nullptr;
    QString m_lastValidText;
    bool m_filling = false;
};
