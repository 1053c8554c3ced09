#pragma once

#include "device/archive.h"
#include "windowkit/editorwindow.h"

#include <array>
#include <vector>

class NumericField;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

// "Просмотр архива": the device's internal archive. Reads and writes the archive parameters,
// walks the ring from the newest record backwards into a grid ordered by time, and hands the
// grid to a spreadsheet.
class ArchDataWindow : public EditorWindow
{
    Q_OBJECT
public:
    ArchDataWindow(Session &session, WindowHost &host);

    ExchangeOutcome ButtonArchivReadClick();
    ExchangeOutcome BtnWriteArcParClick();
    ExchangeOutcome BtnArcParReadClick();
    ExchangeOutcome BtnExportExcelClick();
    // Ends a walk after the record under way.
    void BitBtn1Click() { m_archiveAbort = false; }

    // The common block and coils 1..5 into the images.
    void ParGet(ExchangeRun &run);
    // Shows the archive parameters from the images.
    void ParRead();
    // Writes the window's parameters into the common block and the archive coil, keeping every
    // other byte and coil as the device holds them now.
    void PutArcPar(ExchangeRun &run);

    // Reads the archive into the grid; false when no record was read.
    bool FillArchiv(ExchangeRun &run);
    // The valid records from the newest backwards.
    std::vector<archive::Record> ReadArchiveRecords();

    // The grid's texts, headers and numbers included, as a workbook opened in the desktop's
    // spreadsheet program; reads the archive first when the grid holds none.
    void ExportExcel(ExchangeRun &run);

    void SetGridText(int col, int row, const QString &text);
    void FitGridColumns();
    void SortArchiveByTime();

    bool archiveAbort() const { return m_archiveAbort; }

signals:
    // A record was read during a walk; count is the records read so far.
    void recordCounted(int count);
    // The registration cycle read or about to be written: the configuration window shows it too,
    // or its next write would put its own value back.
    void registrationCycleShown(double cycle);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // The written workbook when no program opened it: saved where the user says.
    void keepWorkbook(const QString &path);
    void showParameterBox(QCheckBox *box);

    QTableWidget *m_grid = nullptr;
    QWidget *m_panel = nullptr;
    QWidget *m_busyPanel = nullptr;
    QWidget *m_parameterGroup = nullptr;
    QPushButton *m_readArchive = nullptr;
    QPushButton *m_writeParams = nullptr;
    QPushButton *m_readParams = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_abort = nullptr;
    QLabel *m_count = nullptr;
    QLabel *m_busyText = nullptr;
    QProgressBar *m_progress = nullptr;
    NumericField *m_cycle = nullptr;
    QCheckBox *m_recording = nullptr;
    std::array<QCheckBox *, archive::kParameterCount> m_parameters{};
    bool m_archiveAbort = false;
    QString m_walkNote;
};
