#pragma once

#include "device/networkfile.h"
#include "session/session.h"

#include <QObject>

class WindowHost;
class QIODevice;

// The save and load commands of the device tree and the reader behind the automatic reload at
// start: the session's device network and selection go to a network file and come back from it.
class NetworkFileCommands : public QObject, public NetworkFileService
{
    Q_OBJECT
public:
    // Plugs itself into the session as its network file service.
    NetworkFileCommands(Session &session, WindowHost &host);
    ~NetworkFileCommands() override;

    // Replaces the network by the file's. On damage: the message, an empty network, and
    // CurrentDevice as it was.
    bool loadNetworkFile(QIODevice &file) override;
    void saveTreeCommand() override;
    void loadTreeCommand() override;

    // The network and the selection as the file keeps them.
    SavedNetwork snapshot() const;

private:
    void loadFrom(const QString &path, bool wasPolling);

    Session &m_session;
    WindowHost &m_host;
    // Kept from the last loaded file and written back unchanged.
    qint32 m_reserved = 0;
};
