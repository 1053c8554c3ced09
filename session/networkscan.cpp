#include "session/networkscan.h"

#include "device/identity.h"
#include "platform/clock.h"
#include "platform/datafolder.h"
#include "platform/pumpedwait.h"
#include "platform/settings.h"
#include "session/pollingcycle.h"
#include "session/session.h"

#include <algorithm>

NetworkScan::NetworkScan(Session &session) : QObject(&session), m_session(session) {}

void NetworkScan::chooseSpeed(Baudrate rate, const QString &text)
{
    m_session.line().port.setBaudrate(rate);
    emit speedChosen(text);
}

int NetworkScan::choosePort(int number, QString *refusal)
{
    CommPort &port = m_session.line().port;
    try {
        port.setPortNum(number);
    } catch (const PortError &e) {
        *refusal = e.message();
    }
    return port.PortNum();
}

std::optional<QString> NetworkScan::tryPort(int number, int settleMs)
{
    SerialLine &line = m_session.line();
    CommPort &port = line.port;
    if (port.IsOpen())
        return std::nullopt;
    const int remembered = port.PortNum();
    port.setPortNum(number);
    std::optional<QString> why;
    try {
        port.Open();
        port.Close();
    } catch (const PortError &) {
        why = line.portProblemText();
    }
    DelayPumping(settleMs);
    if (port.IsOpen())
        port.Close();
    port.setPortNum(remembered);
    return why;
}

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
    m_session.line().port.setPortNum(range.portNumber);

    const int firstSpeed = std::clamp(range.firstSpeed, 0, 7);
    m_done = 0;
    m_total = std::max(0, range.lastAddress - range.firstAddress + 1) * (8 - firstSpeed);
    emit progressed(m_done, m_total);
    for (int address = range.firstAddress;
         address <= range.lastAddress && m_running && !m_session.isClosing() &&
         m_session.network().deviceCount() < kMaxDevices;
         ++address)
        probeAddress(address, firstSpeed);

    m_session.clock().delay(300);
    const int found = m_session.network().deviceCount();
    emit probesDone(found);
    if (found > 0) {
        m_session.selected().pointSpeed(m_session.line().port.baudrate());
        m_session.RefreshCurrentIdentity();
    }
    emit finished(found);
    return found;
}

void NetworkScan::probeAddress(int address, int firstSpeed)
{
    CommPort &port = m_session.line().port;
    ModbusLink &link = m_session.line().link;
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
            m_portProblem = m_session.line().portProblemText();
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
    std::copy_n(m_session.line().images.holding.begin(), identity::kBytes, ident.begin());
    ident[6] = std::uint8_t(address);

    const int number = m_session.network().deviceCount() + 1;
    DeviceNode record =
        DeviceNode::found(number, m_session.line().port.PortNum(), ident,
                          dataFilePath(QStringLiteral("ArcData%1.dbf").arg(number)));
    DeviceNetwork &network = m_session.network();
    const QString description =
        m_session.selected().DescribeDevice(ident).left(DeviceNetwork::kNameLength);
    m_session.selected().showName(description);
    // The network's entry has the chart mark set; the selected copy starts with it clear.
    record.setGraphRefresh(true);
    const int index = network.addDevice(description, record);
    record.setGraphRefresh(false);
    network.addFeatures(index);
    m_session.selected().select(index, record);
    emit deviceFound(index);
}
