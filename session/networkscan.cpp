#include "session/networkscan.h"

#include "device/identity.h"
#include "platform/clock.h"
#include "platform/datafolder.h"
#include "platform/settings.h"
#include "session/pollingcycle.h"
#include "session/session.h"

#include <algorithm>

NetworkScan::NetworkScan(Session &session) : QObject(&session), m_session(session) {}

int NetworkScan::run(const Range &range)
{
    m_running = true;
    struct Idle
    {
        bool &running;
        ~Idle() { running = false; }
    } idle{m_running};

    m_session.polling().stopQuietly();
    m_session.clearNetwork();
    // The editors' per-device state belonged to the old network.
    openSettings()->remove(QStringLiteral("Forms"));
    m_portProblem.clear();
    emit started();
    m_session.commPort().setPortNum(range.portNumber);

    const int firstSpeed = std::clamp(range.firstSpeed, 0, 7);
    m_done = 0;
    m_total = std::max(0, range.lastAddress - range.firstAddress + 1) * (8 - firstSpeed);
    emit progressed(m_done, m_total);
    for (int address = range.firstAddress;
         address <= range.lastAddress && m_running && !m_session.isClosing() &&
         m_session.deviceCount() < kMaxDevices;
         ++address)
        probeAddress(address, firstSpeed);

    m_session.clock().delay(300);
    const int found = m_session.deviceCount();
    emit probesDone(found);
    if (found > 0) {
        m_session.ApplyDeviceLineSpeed(m_session.commPort().baudrate());
        m_session.RefreshCurrentIdentity();
    }
    emit finished(found);
    return found;
}

void NetworkScan::probeAddress(int address, int firstSpeed)
{
    CommPort &port = m_session.commPort();
    ModbusLink &link = m_session.link();
    int result = 999;
    for (int i = firstSpeed; i < 8 && result != 0 && m_running && !m_session.isClosing(); ++i) {
        port.setBaudrate(kLineSpeeds[i].rate);
        link.setResponseWait(kLineSpeeds[i].scanResponseWait);
        emit probing(QString::asprintf("Поиск: COM%.1d/%.3d/", port.PortNum(), address) +
                     QString::fromLatin1(kLineSpeeds[i].text));
        result = link.ReadHoldingRegisters(std::uint8_t(address), 0, identity::kBytes);
        if (result == 0 && m_running)
            addFoundDevice(address);
        // Every further probe would fail the same way on a port that does not open.
        if (result != 0 && port.lastOpenProblem().kind != PortProblem::None) {
            m_portProblem = m_session.portProblemText();
            m_running = false;
            emit m_session.logLine(m_portProblem, true);
            emit portUnusable(m_portProblem);
        }
        emit progressed(m_done + (i - firstSpeed + 1), m_total);
    }
    m_done += 8 - firstSpeed;
    emit progressed(m_done, m_total);
    m_lastResult = result;
}

void NetworkScan::addFoundDevice(int address)
{
    std::array<std::uint8_t, identity::kBytes> ident{};
    std::copy_n(m_session.images().holding.begin(), identity::kBytes, ident.begin());
    ident[6] = std::uint8_t(address);

    const int number = m_session.deviceCount() + 1;
    DeviceNode record =
        DeviceNode::found(number, m_session.commPort().PortNum(), ident,
                          dataFilePath(QStringLiteral("ArcData%1.dbf").arg(number)));
    DeviceNetwork &network = m_session.network();
    const QString description = m_session.DescribeDevice(ident).left(DeviceNetwork::kNameLength);
    m_session.showSelectedName(description);
    // The network's entry has the chart mark set; the selected copy starts with it clear.
    record.setGraphRefresh(true);
    const int index = network.addDevice(description, record);
    record.setGraphRefresh(false);
    network.addFeatures(index);
    m_session.setSelection(index, record);
    emit deviceFound(index);
}
