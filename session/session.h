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
#include "session/serialline.h"

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
    // How long the close gives a running tick.
    static constexpr int kPollIdleWaitMs = PollIdleEvent::kLongestWaitMs;

    explicit Session(Clock &clock, QObject *parent = nullptr);
    ~Session() override;

    Clock &clock() { return m_clock; }
    // The serial line, for what works on it: the polling cycle, the scan, the editor base's
    // exchange sequence, the line statistics.
    SerialLine &line() { return m_line; }
    DeviceNetwork &network() { return m_network; }
    const DeviceNetwork &network() const { return m_network; }
    PollingCycle &polling() { return *m_polling; }
    NetworkScan &scan() { return *m_scan; }

    // The selected device: the selection, its blocks, values and moves, for the windows.
    SelectedDevice &selected() { return m_selected; }
    const SelectedDevice &selected() const { return m_selected; }
    // Reads the selected device's identity again (only with more than one device). True when
    // the read succeeded (currentIdentityRefreshed).
    bool RefreshCurrentIdentity();

    // Locks (false) or unlocks (true) the command panels of every editor.
    void SetEditorPanelsEnabled(bool on);
    // Work that arrives while a tick waits for its reply (a click, a key, a timer delivered
    // inside that wait) must not touch the tick's port: when a tick runs, action is queued to
    // run from the event loop once the tick has ended (dropped when context goes) and true is
    // returned, and the caller returns; otherwise false, and the caller goes on at once.
    bool deferBehindTick(QObject *context, std::function<void()> action);

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
    // The reply text of every exchange of the link, as it came.
    void replyReceived(const QByteArray &reply);
    // One line of the message log; failed for an exchange that did not succeed.
    void logLine(const QString &line, bool failed);
    // Lock (false) or unlock (true) the command panels of every editor.
    void editorPanelsEnabled(bool on);
    // The selected device's identity was read again (RefreshCurrentIdentity succeeded).
    void currentIdentityRefreshed();

private:
    Clock &m_clock;
    SerialLine m_line;
    DeviceNetwork m_network;
    BlockOrigins m_origins;
    SelectedDevice m_selected;
    std::unique_ptr<PollingCycle> m_polling;
    std::unique_ptr<NetworkScan> m_scan;
    bool m_closing = false;
    QList<std::function<void()>> m_afterTick;
    NetworkFileService *m_networkFile = nullptr;
};
