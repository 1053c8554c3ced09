#pragma once

#include "device/devicenode.h"
#include "windowkit/settingswindowkind.h"
#include "windowkit/windowhost.h"

#include <QMainWindow>

#include <functional>
#include <span>

class ClockTimer;
class DataView;
class DeviceTree;
class EditorWindow;
class MeasurementChartView;
class MessageLog;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTableView;
class QTimer;
class QTreeWidgetItem;
class Session;
class SingleInstanceEvent;
struct IdentityTexts;

// The configurator's main window: the toolbar and menus, the device tree, the grid and chart of
// the selected device, the scan's progress panel, the message log and the status bar, and their
// wiring to the session. The run state itself is the session's.
class MainWindow : public QMainWindow, public WindowHost
{
    Q_OBJECT
public:
    // The secondary windows, created once at start after this one.
    struct Windows
    {
        // The settings windows of the selected device, one for each kind, in the kinds' order.
        QList<EditorWindow *> settings;
        QWidget *findDevices = nullptr;
        EditorWindow *networkConfig = nullptr;
        QWidget *about = nullptr;
        QWidget *lineStats = nullptr;
        QWidget *portAssignment = nullptr;
        // Every one of them in the order they were made: hidden in that order at close, and
        // deleted in the reverse order.
        QList<QWidget *> made;
    };

    static constexpr int kClientWidth = 721;
    static constexpr int kClientHeight = 493;
    // How long the scan's result stays on the progress panel.
    static constexpr int kScanResultShowMs = 2000;

    // kinds: the settings windows of the selected device that the toolbar, the "Настройка" menu
    // and the tree's entries open.
    MainWindow(Session &session, SettingsWindowKinds kinds, QWidget *parent = nullptr);
    ~MainWindow() override;

    Session &session() const { return m_session; }

    void setWindows(const Windows &windows);
    // Lets the secondary windows be made once this window has first been painted, before its
    // first activation: start-up then shows this window without waiting for the hidden ones.
    void setWindowsMadeLater(std::function<void()> make);
    const Windows &windows() const { return m_windows; }
    // The windows whose controls are remembered per device, in switching order.
    QList<EditorWindow *> statefulWindows() const;
    // The window a settings entry of the tree opens (nullptr before the windows are made).
    EditorWindow *settingsWindow(FeatureCode code) const;

    // The run's single-instance mark, released in the close sequence.
    void setSingleInstanceEvent(SingleInstanceEvent *event) { m_instanceEvent = event; }

    DeviceTree *tree() const { return m_tree; }
    MessageLog *messageLog() const { return m_log; }
    QWidget *dataPanel() const { return m_dataPanel; }
    DataView *dataView() const { return m_dataView.get(); }
    MeasurementChartView *chartView() const { return m_chartView; }
    QTableView *grid() const { return m_grid; }
    // The scan's progress panel over the right-hand area.
    QWidget *PanelFind() const { return m_panelFind; }
    QLabel *statusPanel(int index) const;
    QAction *command(const QString &name) const;
    QMenu *treePopup() const { return m_treePopup; }

    bool selectionBusy() const { return m_selectionBusy; }
    QString chartTitle() const { return m_chartTitle; }
    bool isActivated() const { return m_activated; }
    // From the first close on: long runs (a scan) stop at their next step.
    bool isClosing() const { return m_closing; }
    bool isPolling() const;

    // Selects the device of a tree entry (absolute index): stores the editors' state, takes
    // the device's record, shows its name, identity and table, and restores the editors' state.
    void SelectDevice(int index);
    void EnableDeviceCommands() override;
    // Highlights the entry at the selected index, if there is one; nothing else runs.
    void highlightSelectedNode() override;
    // The measurement table of the selected device, opened for the grid and the chart.
    void ShowDeviceTable() override;

    // The polling button's action.
    void butEnableCycleReqDevClick(bool down);

    // WindowHost
    void CenterOverMainWindow(QWidget *window) override;
    int ConfirmStopPolling() override;
    void openWindow(QWidget *window) override;
    QWidget *mainWidget() override { return this; }

    void FirstActivation();
    void exitCommand();
    // Writes the report again when lines came in after the close had written it: a close that
    // arrives while an exchange waits for its reply lets that exchange end and log its line.
    void writeLateReport();
    void StartOnLoadClick();

signals:
    void chartTitleChanged(const QString &title);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // Makes the windows left for later, if any are.
    void makeWindowsNow();
    void queueFirstActivation();
    void buildCommands();
    void buildMenus();
    void buildToolBar();
    void buildClientArea();
    void buildStatusBar();
    void connectCommands();
    void connectSession();
    QAction *addCommand(const QString &name, const QString &text, int image = -1,
                        bool toggle = false);
    void setEditorButtonsEnabled(bool on);
    // The settings windows' kinds in the order of their commands.
    QList<const SettingsWindowKind *> kindsByCommandSlot() const;
    void showHelpDocument();
    void showAbout();

    void showIdentity(const IdentityTexts &texts);
    void storeEditorState();
    void restoreEditorState();
    void TreeView1MouseUp(QTreeWidgetItem *node);
    void TreeView1DblClick();
    void showScanProbe(const QString &text);
    void showScanResult(int found);
    void setScanLine(int line, const QString &text, bool red = false);
    void showSelectedDevicePolled();
    void redrawChart();
    // "Сохранить дерево устройств?" when the network changed since it was last saved or
    // loaded; true when the user chose to save.
    bool askSaveNetwork();
    void closeSequence();
    // Grid and chart show nothing while no device is selected.
    void showNoDevice();
    void writeReport();

    Session &m_session;
    SettingsWindowKinds m_kinds;
    SingleInstanceEvent *m_instanceEvent = nullptr;
    Windows m_windows;

    DeviceTree *m_tree = nullptr;
    MessageLog *m_log = nullptr;
    QWidget *m_dataPanel = nullptr;
    QLineEdit *m_replyField = nullptr;
    QTableView *m_grid = nullptr;
    MeasurementChartView *m_chartView = nullptr;
    std::unique_ptr<DataView> m_dataView;
    QWidget *m_panelFind = nullptr;
    QLabel *m_scanLines[3] = {};
    ClockTimer *m_scanResultTimer = nullptr;
    QList<QLabel *> m_statusPanels;
    QHash<QString, QAction *> m_commands;
    QMenu *m_optionsMenu = nullptr;
    QMenu *m_treePopup = nullptr;

    bool m_selectionBusy = false;
    // The chart keeps a whole page's scale from the first timed redraw on.
    bool m_chartFullPage = false;
    bool m_activated = false;
    bool m_activationQueued = false;
    bool m_painted = false;
    std::function<void()> m_makeWindows;
    bool m_closing = false;
    qsizetype m_reportedLines = -1;
    QString m_chartTitle;
};
