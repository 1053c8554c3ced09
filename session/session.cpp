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
      m_access(
          m_link, m_port, [this]() -> const DeviceNode & { return m_current; },
          [this](const QString &line, bool failed) { emit logLine(line, failed); }),
      m_selected(m_port, m_link, m_images, m_access, m_origins, m_current,
                 [this](const IdentityBlock &identity) { adoptSelectedIdentity(identity); })
{
    m_port.setBaudrate(Baudrate::br9600);
    m_port.setPortNum(1);
    m_link.Setup(m_port);
    m_link.setResponseWait(100);
    m_link.setStats(&m_exchangeStats);
    m_link.showReply = [this](const QByteArray &reply) { emit replyReceived(reply); };
    m_link.holdingTransferred = [this](std::uint8_t address, RegisterSpan span, bool holds) {
        if (holds)
            m_origins.deviceHolds({m_port.PortNum(), address}, span);
        else
            m_origins.forget(span);
    };
    m_polling = std::make_unique<PollingCycle>(*this);
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

bool Session::selectDeviceOf(int index)
{
    const int device = m_network.deviceOf(index);
    if (device < 0)
        return false;
    const DeviceNode *record = m_network.device(device);
    setSelection(device, record ? *record : m_current);
    return true;
}

void Session::setSelection(int index, const DeviceNode &record)
{
    const DeviceKey before = selectedKey();
    const int indexBefore = m_selectedIndex;
    m_selectedIndex = index;
    m_current = record;
    if (index != indexBefore || selectedKey() != before)
        emit selectionChanged();
}

QDateTime Session::currentDateTime() const
{
    return m_clock.currentDateTime();
}

void Session::adoptSelectedIdentity(const IdentityBlock &identity)
{
    const DeviceKey before = selectedKey();
    const std::uint8_t oldSpeed = m_current.speedCode();
    identity.encode(m_current.identity());
    if (DeviceNode *record =
            m_network.isDevice(m_selectedIndex) ? m_network.device(m_selectedIndex) : nullptr)
        identity.encode(record->identity());
    m_origins.rekey(before, selectedKey());
    if (identity.speedCode() != oldSpeed) {
        ApplyDeviceLineSpeed(m_port.baudrate());
        emit deviceSpeedChanged(identity::speedText(identity.speedCode()));
    }
}

int Session::chooseScanPort(int number, QString *refusal)
{
    try {
        m_port.setPortNum(number);
    } catch (const PortError &e) {
        *refusal = e.message();
    }
    return m_port.PortNum();
}

std::optional<QString> Session::tryPort(int number, int settleMs)
{
    if (m_port.IsOpen())
        return std::nullopt;
    const int remembered = m_port.PortNum();
    m_port.setPortNum(number);
    std::optional<QString> why;
    try {
        m_port.Open();
        m_port.Close();
    } catch (const PortError &) {
        why = portProblemText();
    }
    DelayPumping(settleMs);
    if (m_port.IsOpen())
        m_port.Close();
    m_port.setPortNum(remembered);
    return why;
}

void Session::chooseScanSpeed(Baudrate rate, const QString &text)
{
    m_port.setBaudrate(rate);
    emit scanSpeedChosen(text);
}

DeviceKey Session::selectedKey() const
{
    return m_selected.key();
}

void Session::shutDown()
{
    m_closing = true;
    m_polling->setClosing();
    m_polling->TimerUpdateData()->stop();
    m_polling->stopQuietly();
    m_pollIdle.wait(kPollIdleWaitMs);
    m_pollIdle.set();
    m_port.Close();
}

QString Session::selectedName() const
{
    return m_network.isDevice(m_selectedIndex) ? m_network.entry(m_selectedIndex).text : QString();
}

QString Session::DescribeDevice(std::span<const std::uint8_t> identity)
{
    const IdentityTexts t = describeIdentity(identity);
    emit identityDescribed(t);
    return t.description();
}

void Session::ApplyDeviceLineSpeed(Baudrate fallback)
{
    m_port.setBaudrate(baudrateForSpeedCode(m_current.speedCode()).value_or(fallback));
}

bool Session::RefreshCurrentIdentity()
{
    if (deviceCount() <= 1)
        return false;
    ApplyDeviceLineSpeed(Baudrate::br9600);
    if (m_link.ReadHoldingRegisters(m_current.address(), 0, identity::kBytes) != 0)
        return false;
    std::copy_n(m_images.holding.begin(), identity::kBytes, m_current.identity().begin());
    DescribeDevice(m_current.identity());
    m_polling->TimerUpdateData()->start();
    emit currentIdentityRefreshed();
    return true;
}

int Session::ConfirmStopPolling()
{
    if (!m_polling->isPolling())
        return 1;
    const MessageButton answer = showMessage(
        QStringLiteral("Активен режим сбора данных архива\r\n     Прервать чтение данных ?"),
        QStringLiteral("Останов опроса"), MessageIcon::Information,
        int(MessageButton::Yes) | int(MessageButton::No));
    if (answer != MessageButton::Yes)
        return 0;
    m_polling->stopQuietly();
    return 2;
}

void Session::SetEditorPanelsEnabled(bool on)
{
    emit editorPanelsEnabled(on);
}

QString Session::portProblemText() const
{
    return explainPortProblem(m_port.displayName(), m_port.lastOpenProblem());
}

bool Session::WaitForPollIdle()
{
    // Ticks run on this thread: while one is unfinished, the caller was delivered from inside
    // its wait for a reply, and that tick can only end once the caller has returned. Waiting
    // here would only hold the program still for the whole time-out.
    if (!m_pollIdle.isSet())
        return false;
    return m_pollIdle.wait(kPollIdleWaitMs);
}

bool Session::deferBehindTick(QObject *context, std::function<void()> action)
{
    if (!tickRunning())
        return false;
    QPointer<QObject> guard(context);
    m_afterTick.append([guard, action = std::move(action)] {
        if (guard)
            action();
    });
    return true;
}

bool Session::networkChangedSinceFile() const
{
    return m_network.settingsFingerprint() != m_filedNetwork;
}

void Session::markNetworkFiled()
{
    m_filedNetwork = m_network.settingsFingerprint();
}

void Session::clearNetwork()
{
    m_network.freeRecords();
    m_network.clear();
    // Another network may put another device under a known port and address.
    m_origins.clear();
    m_selectedIndex = 0;
    m_polling->resetTurn();
}
