#pragma once

#include "device/commonblock.h"
#include "device/deviceaccess.h"
#include "device/devicenode.h"
#include "device/identity.h"
#include "link/commport.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"
#include "session/blockorigins.h"
#include "session/devicenetwork.h"
#include "session/namedobjects.h"
#include "session/selecteddevice.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <span>

class Clock;
class NetworkScan;
class PollingCycle;
class QIODevice;

// The network file's reader and writer, plugged into the session by the program's assembly; the
// commands that save or load the tree go to it.
class NetworkFileService
{
public:
    virtual ~NetworkFileService() = default;
    // Reads a network file into the session; false when it could not be read (the reader has
    // told the user why).
    virtual bool loadNetworkFile(QIODevice &file) = 0;
    // The save and load commands with their dialogs.
    virtual void saveTreeCommand() = 0;
    virtual void loadTreeCommand() = 0;
};

// What lives for the whole run of the configurator: the serial port, the register images and
// the link, the device access operations, the port lock and the poll-idle mark, the device
// network with the selection and the selected device's copy (CurrentDevice), and the
// edit-pending state of the configuration window. Windows read and change it through its
// functions and learn what changed from its signals; it knows no window.
class Session : public QObject
{
    Q_OBJECT
public:
    // How long WaitForPollIdle gives a running tick.
    static constexpr int kPollIdleWaitMs = 3000;

    explicit Session(Clock &clock, QObject *parent = nullptr);
    ~Session() override;

    Clock &clock() { return m_clock; }
    CommPort &commPort() { return m_port; }
    RegisterImages &images() { return m_images; }
    ModbusLink &link() { return m_link; }
    DeviceAccess &deviceAccess() { return m_access; }
    PortMutex &portMutex() { return m_portMutex; }
    PollIdleEvent &pollIdleEvent() { return m_pollIdle; }
    DeviceNetwork &network() { return m_network; }
    // Every exchange of the link since the start, for the line statistics.
    ExchangeStats &exchangeStats() { return m_exchangeStats; }
    const DeviceNetwork &network() const { return m_network; }
    PollingCycle &polling() { return *m_polling; }
    NetworkScan &scan() { return *m_scan; }

    // The selection: the absolute index of the selected device entry and its record's copy.
    int selectedIndex() const { return m_selectedIndex; }
    // The one place the selection changes: the entry's absolute index and its record's copy.
    void setSelection(int index, const DeviceNode &record);
    const DeviceNode &CurrentDevice() const { return m_current; }
    DeviceNode &CurrentDevice() { return m_current; }
    int deviceCount() const { return m_network.deviceCount(); }
    // The selected device as the link reaches it.
    DeviceKey selectedKey() const;
    // The time the session's clock says it is.
    QDateTime currentDateTime() const;
    // Which device the image's registers and each window's blocks came from.
    BlockOrigins &origins() { return m_origins; }
    const BlockOrigins &origins() const { return m_origins; }
    // The selected device's blocks, values and moves, for the settings windows.
    SelectedDevice &selected() { return m_selected; }
    // The selected device took a new identity (a write of its address, line speed or clock
    // succeeded): its copy and its tree entry's record take it, what the image and the windows
    // hold of it stays its under a new address, and the port follows a new line speed.
    void adoptSelectedIdentity(const IdentityBlock &identity);
    // The line speed chosen for the scan: the port takes it and the windows show it.
    void chooseScanSpeed(Baudrate rate, const QString &text);
    // The port chosen for the scan. Refused (the port keeps its number) with the port's own
    // text when it cannot be had; the number in force afterwards is returned with it.
    int chooseScanPort(int number, QString *refusal);
    // Whether the port of a number can be opened now, tried and closed again after settleMs;
    // the port keeps its number. Nothing when it opened (or an exchange holds the line, which
    // must not be disturbed), else why not (empty when nothing more is known).
    std::optional<QString> tryPort(int number, int settleMs);
    // Makes the device of an entry (or the device a settings entry belongs to) the selected
    // one: its index and a copy of its record. False when the entry has no device.
    bool selectDeviceOf(int index);
    // Whether the network differs from the one last saved to or loaded from a network file; a
    // fresh program's empty network counts as saved.
    bool networkChangedSinceFile() const;
    // The network as it is now was saved or loaded.
    void markNetworkFiled();

    // The selected device's entry text ("" without one).
    QString selectedName() const;
    // Tells the windows the name to show for the selected device (selectedNameShown).
    void showSelectedName(const QString &name) { emit selectedNameShown(name); }

    // The identity texts of a device, told to every window that shows them; returns the
    // description (type/address/speed).
    QString DescribeDevice(std::span<const std::uint8_t> identity);
    // Line speed of the port from the selected device's speed code, fallback for other codes.
    void ApplyDeviceLineSpeed(Baudrate fallback);
    // Reads the selected device's identity again (only with more than one device). True when
    // the read succeeded (currentIdentityRefreshed).
    bool RefreshCurrentIdentity();

    // Keeping editor exchanges and the polling cycle apart.
    // 1: polling was off; 0: the user keeps it running; 2: stopped on the user's word.
    int ConfirmStopPolling();
    void SetEditorPanelsEnabled(bool on);
    // True when no tick runs any more; gives a running tick at most 3000 ms.
    bool WaitForPollIdle();
    // A poll tick is under way (its exchange waits for a reply below the caller).
    bool tickRunning() const { return !m_pollIdle.isSet(); }
    // Work that arrives while a tick waits for its reply (a click, a key, a timer delivered
    // inside that wait) must not touch the tick's port: when a tick runs, action is queued to
    // run from the event loop once the tick has ended (dropped when context goes) and true is
    // returned, and the caller returns; otherwise false, and the caller goes on at once.
    bool deferBehindTick(QObject *context, std::function<void()> action);

    // Why the port's last open failed, in Russian, naming the COM number and its device; ""
    // when the last open succeeded.
    QString portProblemText() const;

    // From the program's close on, long runs (a scan) stop at their next step.
    bool isClosing() const { return m_closing; }
    // The program closes: polling stops without a word, a tick under way gets at most
    // kPollIdleWaitMs to end, long runs stop at their next step and the port is closed.
    void shutDown();

    // Empties the network; the selection and the polling turn start over.
    void clearNetwork();

    // nullptr until a network file service is plugged in.
    NetworkFileService *networkFileService() const { return m_networkFile; }
    void setNetworkFileService(NetworkFileService *service) { m_networkFile = service; }

signals:
    // Another device is selected: what was shown of the former one is no longer its.
    void selectionChanged();
    void identityDescribed(const IdentityTexts &texts);
    // The text of the selected device's entry, for the configuration window's name field.
    void selectedNameShown(const QString &name);
    // The reply text of every exchange of the link, as it came.
    void replyReceived(const QByteArray &reply);
    // One line of the message log; failed for an exchange that did not succeed.
    void logLine(const QString &line, bool failed);
    // Lock (false) or unlock (true) the command panels of every editor.
    void editorPanelsEnabled(bool on);
    // The line speed chosen for the scan, by its text.
    void scanSpeedChosen(const QString &text);
    // The selected device now answers at this line speed (by its text).
    void deviceSpeedChanged(const QString &text);
    // The selected device's identity was read again (RefreshCurrentIdentity succeeded).
    void currentIdentityRefreshed();

private:
    Clock &m_clock;
    RegisterImages m_images;
    CommPort m_port;
    ModbusLink m_link{m_images};
    ExchangeStats m_exchangeStats;
    DeviceNode m_current;
    DeviceAccess m_access;
    PortMutex m_portMutex;
    PollIdleEvent m_pollIdle;
    DeviceNetwork m_network;
    BlockOrigins m_origins;
    SelectedDevice m_selected;
    std::unique_ptr<PollingCycle> m_polling;
    std::unique_ptr<NetworkScan> m_scan;
    int m_selectedIndex = 0;
    QByteArray m_filedNetwork;
    bool m_closing = false;
    QList<std::function<void()>> m_afterTick;
    NetworkFileService *m_networkFile = nullptr;
};
