#pragma once

#include "device/deviceaccess.h"
#include "device/devicenode.h"
#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"
#include "workstation/namedobjects.h"

#include <QEvent>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <span>

class DataView;
class DeviceTree;
class DeviceTreeItem;
class MeasurementChartView;
class MessageLog;
class QAction;
class QIODevice;
class QLabel;
class QLineEdit;
class QMenu;
class QTableView;
class QTimer;
class QTreeWidgetItem;
class StatefulWindow;

// The configurator's main window. It owns what lives for the whole run: the serial port, the
// register images and the link, the device tree with its records and the selected device's copy,
// the message log, the timers and the port lock and poll-idle mark.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The secondary windows, created once at start after this one.
    struct Windows
    {
        StatefulWindow *config = nullptr;
        QWidget *findDevices = nullptr;
        QWidget *programControl = nullptr;
        QWidget *archData = nullptr;
        StatefulWindow *alarm = nullptr;
        StatefulWindow *channelConfig = nullptr;
        StatefulWindow *contursConfig = nullptr;
        QWidget *networkConfig = nullptr;
        QWidget *about = nullptr;
    };

    static constexpr int kClientWidth = 721;
    static constexpr int kClientHeight = 493;
    static constexpr int kPollIdleWaitMs = 3000;
    // Posted at the end of every poll tick: the first user message plus 8.
    static constexpr QEvent::Type kPollNoticeEvent = QEvent::Type(QEvent::User + 8);
    static constexpr int kTickGapMs = 500;
    static constexpr int kChartUpdateMs = 6000;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void setWindows(const Windows &windows);
    const Windows &windows() const { return m_windows; }
    // The four windows whose controls are remembered per device, in switching order.
    QList<StatefulWindow *> statefulWindows() const;
    // The window a settings entry of the tree opens.
    QWidget *windowFor(FeatureCode code) const;

    // The run's single-instance mark, released in the close sequence.
    void setSingleInstanceEvent(SingleInstanceEvent *event) { m_instanceEvent = event; }

    CommPort &commPort() { return m_port; }
    RegisterImages &images() { return m_images; }
    ModbusLink &link() { return m_link; }
    DeviceAccess &deviceAccess() { return m_access; }
    PortMutex &portMutex() { return m_portMutex; }
    PollIdleEvent &pollIdleEvent() { return m_pollIdle; }
    DeviceTree *tree() const { return m_tree; }
    MessageLog *messageLog() const { return m_log; }
    QTimer *VrTimer1() const { return m_pollTimer; }
    QTimer *TimerUpdateData() const { return m_updateTimer; }
    QWidget *dataPanel() const { return m_dataPanel; }
    DataView *dataView() const { return m_dataView.get(); }
    MeasurementChartView *chartView() const { return m_chartView; }
    QTableView *grid() const { return m_grid; }
    // The scan's progress panel over the right-hand area.
    QWidget *PanelFind() const { return m_panelFind; }
    QLabel *statusPanel(int index) const;
    QAction *command(const QString &name) const;
    QMenu *treePopup() const { return m_treePopup; }

    // Selection state.
    const DeviceNode &CurrentDevice() const { return m_current; }
    DeviceNode &CurrentDevice() { return m_current; }
    int deviceCount() const { return m_deviceCount; }
    void setDeviceCount(int count) { m_deviceCount = count; }
    int selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(int index) { m_selectedIndex = index; }
    bool selectionBusy() const { return m_selectionBusy; }
    bool titlesRefreshDue() const { return m_titlesRefreshDue; }
    void setTitlesRefreshDue(bool due) { m_titlesRefreshDue = due; }
    QString chartTitle() const { return m_chartTitle; }
    bool isActivated() const { return m_activated; }
    // From the first close on: long runs (a scan) stop at their next step.
    bool isClosing() const { return m_closing; }
    bool isPolling() const;

    // Fills the status bar and the configuration window's identity fields; returns the
    // description (type/address/speed).
    QString DescribeDevice(std::span<const std::uint8_t> identity);
    // Line speed of the port from the selected device's speed code, fallback for other codes.
    void ApplyDeviceLineSpeed(Baudrate fallback);

    void SelectDevice(QTreeWidgetItem *node);
    void SwitchEditorStateSection();
    void FreeNodeRecords();
    void EnableDeviceCommands();
    void RefreshCurrentIdentity();
    // Highlights the entry at the selected index, if there is one; nothing else runs.
    void highlightSelectedNode();

    // The measurement table of the selected device, opened for the grid and the chart.
    void ShowDeviceTable();

    // The polling cycle.
    void butEnableCycleReqDevClick(bool down);
    // 1: polling was off; 0: the user keeps it running; 2: stopped on the user's word.
    int ConfirmStopPolling();
    void SetEditorPanelsEnabled(bool on);
    // True when no tick runs any more; gives a running tick at most 3000 ms.
    bool WaitForPollIdle();
    // Timer off and button up without the button's own action, then waits for a running tick.
    void stopPollingQuietly();
    void VrThread1Execute();
    void ReadValues();
    int PollOneDevice(DeviceTreeItem *node, int index);
    DeviceTreeItem *NextDeviceNode(int index) const;
    void RefreshSelectedView();
    void TimerUpdateDataTimer();
    int lastPolledIndex() const { return m_lastPolledIndex; }
    bool chartRefreshDue() const { return m_chartRefreshDue; }
    // Empties the tree after releasing its records; the device count becomes 0.
    void clearDeviceTree();
    // The millisecond tick count the poll times are kept in.
    static std::uint32_t tickCount();
    // A poll time is due up to one second early; 0 is due at once. Compared by distance, so
    // that the counter's wrap after 49 days neither stops polling nor makes it run every tick.
    static bool isPollDue(std::uint32_t now, std::uint32_t nextPollTime);

    void CenterOverMainWindow(QWidget *window);
    // Centres a window over this one and shows it without blocking this one.
    void openWindow(QWidget *window);

    void FirstActivation();
    void exitCommand();
    // Writes the report again when lines came in after the close had written it: a close that
    // arrives while an exchange waits for its reply lets that exchange end and log its line.
    void writeLateReport();
    void StartOnLoadClick();

    // Parts built later hook in here: the measurement table of the selected device, the chart's
    // automatic scaling, and the network file's load and save.
    std::function<void()> showDeviceTable;
    std::function<void()> autoScaleChart;
    std::function<bool(QIODevice &)> loadNetworkFile;
    std::function<void()> saveTreeCommand;
    std::function<void()> loadTreeCommand;

signals:
    void chartTitleChanged(const QString &title);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void buildCommands();
    void buildMenus();
    void buildToolBar();
    void buildClientArea();
    void buildStatusBar();
    void connectCommands();
    QAction *addCommand(const QString &name, const QString &text, int image = -1);
    void setEditorButtonsEnabled(bool on);
    void showHelpDocument();
    void showAbout();

    void showSelectedName(QTreeWidgetItem *device);
    void storeEditorState();
    void restoreEditorState();
    void TreeView1MouseUp(QTreeWidgetItem *node);
    void TreeView1DblClick();
    void TreeView1Edited(QTreeWidgetItem *node);
    void closeSequence();
    void writeReport();

    // Reaches a control of the configuration window by name.
    template <typename T> T *configControl(const char *name) const;

    RegisterImages m_images;
    CommPort m_port;
    ModbusLink m_link{m_images};
    DeviceNode m_current;
    DeviceAccess m_access;
    PortMutex m_portMutex;
    PollIdleEvent m_pollIdle;
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
    QList<QLabel *> m_statusPanels;
    QHash<QString, QAction *> m_commands;
    QMenu *m_optionsMenu = nullptr;
    QMenu *m_treePopup = nullptr;
    QTimer *m_pollTimer = nullptr;
    QTimer *m_updateTimer = nullptr;

    int m_deviceCount = 0;
    int m_selectedIndex = 0;
    bool m_selectionBusy = false;
    bool m_titlesRefreshDue = true;
    bool m_chartRefreshDue = false;
    // The chart keeps a whole page's scale from the first timed redraw on.
    bool m_chartFullPage = false;
    int m_lastPolledIndex = 0;
    // Counts changes that remove tree entries, so that a tick can tell its entry is gone.
    quint64 m_treeGeneration = 0;
    bool m_activated = false;
    bool m_activationQueued = false;
    bool m_closing = false;
    qsizetype m_reportedLines = -1;
    QString m_chartTitle;
};
