#include "session/pollingcycle.h"

#include "device/livevalues.h"
#include "link/porterror.h"
#include "platform/clock.h"
#include "platform/cp1251.h"
#include "platform/measurementtable.h"
#include "platform/messageservice.h"
#include "session/devicenetwork.h"
#include "session/selecteddevice.h"
#include "session/serialline.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <exception>
#include <limits>

namespace {

// Holding registers 267..298: the four channel descriptions of 16 bytes.
constexpr std::uint16_t kDescriptionPosition = 267 * 2;
constexpr std::uint16_t kDescriptionBytes = 64;

QStringList defaultSeriesTitles()
{
    return {QStringLiteral("Канал-1"), QStringLiteral("Канал-2"), QStringLiteral("Канал-3"),
            QStringLiteral("Канал-4")};
}

QString errorText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TableError &e) {
        return e.message();
    } catch (const PortError &e) {
        return e.message();
    } catch (const ESendThreadError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace

PollingCycle::PollingCycle(PollingContext context, QObject *parent)
    : QObject(parent), m_context(std::move(context)),
      m_pollTimer(m_context.clock.createTimer(this)),
      m_updateTimer(m_context.clock.createTimer(this))
{
    m_pollTimer->setObjectName(QStringLiteral("VrTimer1"));
    m_pollTimer->setInterval(kTickGapMs);
    m_updateTimer->setObjectName(QStringLiteral("TimerUpdateData"));
    m_updateTimer->setInterval(kChartUpdateMs);
    connect(m_pollTimer, &ClockTimer::timeout, this, &PollingCycle::VrThread1Execute);
    connect(m_updateTimer, &ClockTimer::timeout, this, &PollingCycle::TimerUpdateDataTimer);
    // The former device's channel names would pass for this one's until its own are read.
    connect(&m_context.selected, &SelectedDevice::selectionChanged, this, [this] {
        m_titlesRefreshDue = true;
        emit seriesTitlesRead(defaultSeriesTitles());
    });
}

bool PollingCycle::isPollDue(std::uint32_t now, std::uint32_t nextPollTime)
{
    return nextPollTime == 0 || std::int32_t(now + 1000u - nextPollTime) > 0;
}

std::uint32_t PollingCycle::nextPollTime(std::uint32_t now, std::int32_t periodSeconds)
{
    constexpr std::uint64_t kLongestWaitMs = std::numeric_limits<std::int32_t>::max() - 1000;
    const std::uint64_t wait =
        periodSeconds > 0 ? std::min(std::uint64_t(periodSeconds) * 1000u, kLongestWaitMs) : 0;
    return now + std::uint32_t(wait);
}

bool PollingCycle::event(QEvent *event)
{
    // The end-of-tick notice only wakes waitForIdle, which the poll-idle mark already does.
    if (event->type() == kPollNoticeEvent)
        return true;
    return QObject::event(event);
}

bool PollingCycle::isPolling() const
{
    return m_on || m_pollTimer->isActive();
}

void PollingCycle::switchPolling(bool on)
{
    if (on) {
        m_on = true;
        emit switchedChanged(true);
        m_context.setEditorPanelsEnabled(false);
        const std::uint32_t now = m_context.clock.tickCount();
        DeviceNetwork &network = m_context.network;
        for (int index : network.deviceIndices()) {
            if (DeviceNode *record = network.device(index))
                record->setNextPollTime(nextPollTime(now, record->pollPeriod()));
        }
        m_updateTimer->start();
        m_pollTimer->start();
        return;
    }
    m_on = false;
    emit switchedChanged(false);
    m_pollTimer->stop();
    waitForIdle();
    m_context.setEditorPanelsEnabled(true);
    m_updateTimer->stop();
}

bool PollingCycle::waitForIdle()
{
    // Ticks run on this thread: while one is unfinished, the caller was delivered from inside
    // its wait for a reply, and that tick can only end once the caller has returned. Waiting
    // here would only hold the program still for the whole time-out.
    PollIdleEvent &idle = m_context.line.pollIdle;
    if (!idle.isSet())
        return false;
    return idle.wait(PollIdleEvent::kLongestWaitMs);
}

void PollingCycle::stopQuietly()
{
    if (m_on) {
        m_on = false;
        emit switchedChanged(false);
    }
    m_pollTimer->stop();
    waitForIdle();
}

void PollingCycle::resumeQuietly()
{
    if (!m_on) {
        m_on = true;
        emit switchedChanged(true);
    }
    m_pollTimer->start();
}

void PollingCycle::VrThread1Execute()
{
    PollIdleEvent &idle = m_context.line.pollIdle;
    idle.reset();
    m_pollTimer->stop();
    emit tickStarted();
    std::exception_ptr error;
    try {
        ReadValues();
        RefreshSelectedView();
    } catch (...) {
        error = std::current_exception();
    }
    idle.set();
    QCoreApplication::postEvent(this, new QEvent(kPollNoticeEvent));
    emit tickEnded();
    // No tick runs while the error is on screen: every tick could raise the same error again
    // and stack one box on another. The cycle goes on once the box is closed.
    if (error)
        showGlobalError(errorText(error));
    if (m_on && !m_closing)
        m_pollTimer->start();
}

void PollingCycle::ReadValues()
{
    const DeviceNetwork &network = m_context.network;
    if (network.entryCount() == 0) {
        m_lastPolledIndex = 0;
        return;
    }
    const int index = network.nextDevice(m_lastPolledIndex);
    if (index < 0)
        return;
    // The turn passes on also when the poll's table write fails.
    m_lastPolledIndex = index;
    DeviceNode *record = m_context.network.device(index);
    if (!record || !record->cyclicPoll() || record->pollPeriod() <= 0)
        return;
    const std::uint32_t now = m_context.clock.tickCount();
    if (!isPollDue(now, record->nextPollTime()))
        return;
    record->setNextPollTime(nextPollTime(now, record->pollPeriod()));
    PollOneDevice(index);
}

int PollingCycle::PollOneDevice(int index)
{
    DeviceNetwork &network = m_context.network;
    const DeviceNode *polled = network.device(index);
    if (!polled)
        return 999;
    const DeviceNode record = *polled;
    const quint64 generation = network.generation();
    CommPort &port = m_context.line.port;
    port.pointAt(record.portNumber(), record.speedCode());
    std::array<double, 4> values;
    const int result = livevalues::read(m_context.line.link, record.address(), values);
    // The wait for the reply delivers other events: a scan or a file load may have replaced the
    // network meanwhile, and then the entry is gone.
    const bool entryAlive = generation == network.generation();
    if (result != 0) {
        if (entryAlive)
            network.setImage(index, DeviceNetwork::kImageFailed);
        if (port.lastOpenProblem().kind != PortProblem::None && entryAlive) {
            // A new network's entries are other devices, whatever their indices.
            if (m_toldGeneration != generation) {
                m_toldPortProblems.clear();
                m_toldGeneration = generation;
            }
            const auto told = m_toldPortProblems.constFind(index);
            if (told == m_toldPortProblems.constEnd() || *told != record.portNumber()) {
                m_toldPortProblems.insert(index, record.portNumber());
                const QString why = m_context.line.portProblemText();
                m_context.log(why, true);
                emit portUnusable(index, why);
            }
        }
        return result;
    }
    m_toldPortProblems.remove(index);
    AppendMeasurementRow(record.tablePath(), m_context.clock.currentDateTime(), values, QLocale());
    if (!entryAlive)
        return 0;
    network.setImage(index, DeviceNetwork::kImageAnswers);
    const bool selected = index == m_context.selected.index();
    emit valuesPolled(index, values, selected);
    if (selected)
        m_chartRefreshDue = m_chartUpdateOnPoll;
    return 0;
}

void PollingCycle::RefreshSelectedView()
{
    if (m_context.network.deviceCount() == 0 || m_lastPolledIndex != m_context.selected.index())
        return;
    emit selectedDevicePolled();
    if (!m_titlesRefreshDue)
        return;
    m_titlesRefreshDue = false;
    DeviceNetwork &network = m_context.network;
    const int index = m_context.selected.index();
    const quint64 generation = network.generation();
    const int result = m_context.line.access.ReadSettings(kDescriptionPosition, kDescriptionBytes);
    const bool entryAlive = network.contains(index) && generation == network.generation();
    QStringList titles;
    if (result == 0) {
        for (int c = 0; c < 4; ++c) {
            const auto *text = m_context.line.images.holding.data() + kDescriptionPosition + 16 * c;
            int length = 0;
            while (length < 16 && text[length] != 0)
                ++length;
            const QString title = cp1251::decode(reinterpret_cast<const char *>(text), length);
            // A channel the device leaves unnamed keeps its number, or its line would have no
            // name in the legend.
            titles.append(title.trimmed().isEmpty() ? defaultSeriesTitles()[c] : title);
        }
    } else {
        titles = defaultSeriesTitles();
    }
    emit seriesTitlesRead(titles);
    if (entryAlive)
        network.setImage(index,
                         result == 0 ? DeviceNetwork::kImageAnswers : DeviceNetwork::kImageFailed);
}

void PollingCycle::TimerUpdateDataTimer()
{
    if (!m_chartRefreshDue)
        return;
    emit chartRedrawDue();
    m_chartRefreshDue = false;
}
