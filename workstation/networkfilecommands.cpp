#include "workstation/networkfilecommands.h"

#include "platform/messageservice.h"
#include "platform/settings.h"
#include "session/pollingcycle.h"
#include "windowkit/windowhost.h"

#include <QWidget>

#include <QAction>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace {

const char *const kFilter = "Файлы настроек (*.ini);;Все файлы (*.*)";

QString askName(FileDialogRequest::Kind kind)
{
    FileDialogRequest request;
    request.kind = kind;
    request.filter = QString::fromUtf8(kFilter);
    return messages().askFileName(request);
}

} // namespace

NetworkFileCommands::NetworkFileCommands(Session &session, WindowHost &host)
    : QObject(host.mainWidget()), m_session(session), m_host(host)
{
    session.setNetworkFileService(this);
}

NetworkFileCommands::~NetworkFileCommands()
{
    if (m_session.networkFileService() == this)
        m_session.setNetworkFileService(nullptr);
}

SavedNetwork NetworkFileCommands::snapshot() const
{
    SavedNetwork net;
    const DeviceNetwork &network = m_session.network();
    for (const NetworkEntry &e : network.entries()) {
        SavedEntry s;
        s.level = e.isDevice ? 0 : 1;
        s.text = e.text;
        s.image = s.selectedImage = e.image;
        if (e.isDevice)
            s.device = e.device.value_or(DeviceNode());
        else
            s.feature = e.feature.value_or(FeatureNode());
        net.entries.append(s);
    }
    net.reserved = m_reserved;
    net.deviceCount = network.deviceCount();
    const int selected = m_session.selected().index();
    net.selectedIndex = network.isDevice(selected) ? selected : 0;
    net.current = m_session.selected().CurrentDevice();
    return net;
}

bool NetworkFileCommands::loadNetworkFile(QIODevice &file)
{
    // The old records go first: nothing may keep working on them while the file is read.
    const int selected = m_session.selected().index();
    m_session.clearNetwork();

    const QByteArray bytes = file.read(networkfile::kMaxFileSize + 1);
    std::optional<SavedNetwork> saved;
    if (bytes.size() <= networkfile::kMaxFileSize)
        saved = networkfile::decode(bytes);
    if (!saved) {
        showMessage(networkfile::damagedMessage(), QString(), MessageIcon::None);
        m_session.selected().select(selected, m_session.selected().CurrentDevice());
        m_session.network().markFiled();
        return false;
    }
    QList<NetworkEntry> entries;
    for (const SavedEntry &s : saved->entries) {
        NetworkEntry e;
        e.isDevice = s.isDevice();
        e.text = s.text;
        e.image = s.image;
        if (e.isDevice) {
            e.device = s.device;
            // A tick count of another run: the device is due at once.
            e.device->setNextPollTime(0);
        } else {
            e.feature = s.feature;
        }
        entries.append(e);
    }
    m_session.network().replace(entries);
    m_session.network().markFiled();
    m_reserved = saved->reserved;
    m_session.selected().select(saved->selectedIndex, saved->current);
    m_host.mainWidget()->update();
    m_host.ShowDeviceTable();
    return true;
}

void NetworkFileCommands::saveTreeCommand()
{
    const QString chosen = askName(FileDialogRequest::Save);
    if (chosen.isEmpty())
        return;
    const QString name = networkfile::saveName(chosen);
    if (QFileInfo::exists(name) &&
        showMessage(QStringLiteral("Файл ") + name + QStringLiteral(" существует") +
                        QStringLiteral("\r\nПерезаписать его? "),
                    QStringLiteral("Сохранение дерева"), MessageIcon::Information,
                    int(MessageButton::Yes) | int(MessageButton::No)) != MessageButton::Yes)
        return;
    QString error;
    if (!networkfile::save(name, snapshot(), &error))
        throw std::runtime_error(error.toStdString());
    openSettings()->setValue(QStringLiteral("TreeFile"), QFileInfo(name).absoluteFilePath());
    m_session.network().markFiled();
}

void NetworkFileCommands::loadTreeCommand()
{
    const QString name = askName(FileDialogRequest::Open);
    if (name.isEmpty())
        return;
    if (!QFileInfo(name).isFile()) {
        showMessage(QStringLiteral("Файл не найден."), QString(), MessageIcon::None);
        return;
    }
    PollingCycle &polling = m_session.polling();
    const bool wasPolling = polling.switchedOn();
    if (polling.isPolling())
        polling.stopQuietly();
    // Delivered while a poll tick waits for its reply, replacing the network now would free the
    // records that tick is about to write: the load runs once the tick has ended.
    if (!m_session.deferBehindTick(this, [this, name, wasPolling] { loadFrom(name, wasPolling); }))
        loadFrom(name, wasPolling);
}

void NetworkFileCommands::loadFrom(const QString &path, bool wasPolling)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error((path + QStringLiteral(": ") + file.errorString()).toStdString());
    if (!loadNetworkFile(file))
        return; // nothing to poll: polling stays off
    file.close();

    const DeviceNetwork &network = m_session.network();
    if (network.entryCount() > 0) {
        // The status bar names the first device, whichever the file had selected.
        const DeviceNode *first = network.device(0);
        m_session.selected().showName(m_session.selected().DescribeDevice(
            first ? first->identity() : DeviceNode().identity()));
        m_host.highlightSelectedNode();
    }
    if (wasPolling)
        m_session.polling().resumeQuietly();
    m_host.EnableDeviceCommands();
}
