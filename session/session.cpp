#include "session/session.h"

#include "device/imagefields.h"
#include "device/registermap.h"
#include "platform/clock.h"
#include "platform/messageservice.h"
#include "platform/pumpedwait.h"
#include "session/networkscan.h"
#include "session/pollingcycle.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

Session::Session(Clock &clock, QObject *parent)
    : QObject(parent), m_clock(clock),
      m_line([this]() -> const DeviceNode & { return m_selected.CurrentDevice(); },
             [this](const QString &line, bool failed) { emit logLine(line, failed); }),
      m_selected(m_line, m_network, m_origins)
{
    m_line.port.setBaudrate(Baudrate::br9600);
    m_line.port.setPortNum(1);
    m_line.link.Setup(m_line.port);
    m_line.link.setResponseWait(100);
    m_line.link.setStats(&m_line.stats);
    m_line.link.showReply = [this](const QByteArray &reply) { emit replyReceived(reply); };
    m_line.link.holdingTransferred = [this](std::uint8_t address, RegisterSpan span, bool holds) {
        if (holds)
            m_origins.deviceHolds({m_line.port.PortNum(), address}, span);
        else
            m_origins.forget(span);
    };
    m_polling = std::make_unique<PollingCycle>(
        PollingContext{m_line, m_clock, m_network, m_selected,
                       [this](bool on) { SetEditorPanelsEnabled(on); },
                       [this](const QString &line, bool failed) { emit logLine(line, failed); }},
        this);
    m_scan = std::make_unique<NetworkScan>(*this);
    connect(m_polling.get(), &PollingCycle::tickEnded, this, [this] {
        if (m_afterTick.isEmpty())
            return;
        // From the event loop, once the tick has returned all the way.
        QTimer::singleShot(0, this, [this] {
            const QList<std::function<void()>> actions = std::exchange(m_afterTick, {});
            for (const auto &action : actions)
                action();
        });
    });
}

Session::~Session() = default;

void Session::shutDown()
{
    m_closing = true;
    m_polling->setClosing();
    m_polling->TimerUpdateData()->stop();
    m_polling->stopQuietly();
    m_line.pollIdle.wait(kPollIdleWaitMs);
    m_line.pollIdle.set();
    m_line.port.Close();
}

bool Session::RefreshCurrentIdentity()
{
    if (m_network.deviceCount() <= 1)
        return false;
    m_selected.pointSpeed(Baudrate::br9600);
    DeviceNode &current = m_selected.CurrentDevice();
    if (m_line.link.ReadHoldingRegisters(current.address(), 0, identity::kBytes) != 0)
        return false;
    std::copy_n(m_line.images.holding.begin(), identity::kBytes, current.identity().begin());
    m_selected.DescribeDevice(current.identity());
    m_polling->TimerUpdateData()->start();
    emit currentIdentityRefreshed();
    return true;
}

void Session::SetEditorPanelsEnabled(bool on)
{
    emit editorPanelsEnabled(on);
}

bool Session::deferBehindTick(QObject *context, std::function<void()> action)
{
    if (m_line.pollIdle.isSet())
        return false;
    QPointer<QObject> guard(context);
    m_afterTick.append([guard, action = std::move(action)] {
        if (guard)
            action();
    });
    return true;
}

void Session::clearNetwork()
{
    m_network.freeRecords();
    m_network.clear();
    // Another network may put another device under a known port and address.
    m_origins.clear();
    m_selected.resetIndex();
    m_polling->resetTurn();
}
