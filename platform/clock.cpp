#include "platform/clock.h"

#include "platform/pumpedwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

namespace {

class RealTimer : public ClockTimer
{
public:
    explicit RealTimer(QObject *parent) : ClockTimer(parent), m_timer(new QTimer(this))
    {
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &ClockTimer::timeout);
        // The timer underneath answers to the same name, for tools that look timers up by it.
        connect(this, &QObject::objectNameChanged, m_timer,
                [this](const QString &name) { m_timer->setObjectName(name); });
    }
    void start() override { m_timer->start(); }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }
    void setInterval(int ms) override { m_timer->setInterval(ms); }
    int interval() const override { return m_timer->interval(); }
    void setSingleShot(bool on) override { m_timer->setSingleShot(on); }

private:
    QTimer *m_timer;
};

class SystemClock : public Clock
{
public:
    std::uint32_t tickCount() const override
    {
        return std::uint32_t(QDeadlineTimer::current(Qt::PreciseTimer).deadline());
    }
    QDateTime currentDateTime() const override { return QDateTime::currentDateTime(); }
    void delay(int ms) override { DelayPumping(ms); }
    ClockTimer *createTimer(QObject *parent) override { return new RealTimer(parent); }
};

} // namespace

Clock &systemClock()
{
    static SystemClock clock;
    return clock;
}

class VirtualTimer : public ClockTimer
{
public:
    VirtualTimer(VirtualClock *clock, QObject *parent) : ClockTimer(parent), m_clock(clock)
    {
        m_clock->m_timers.append(this);
    }
    ~VirtualTimer() override
    {
        if (m_clock)
            m_clock->m_timers.removeOne(this);
    }
    void start() override
    {
        m_active = true;
        m_deadline = m_clock->m_now + m_interval;
        m_order = ++s_order;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    void setInterval(int ms) override { m_interval = std::max(0, ms); }
    int interval() const override { return m_interval; }
    void setSingleShot(bool on) override { m_singleShot = on; }

    VirtualClock *m_clock;
    bool m_active = false;
    bool m_singleShot = false;
    int m_interval = 0;
    qint64 m_deadline = 0;
    // Timers due at the same moment fire in the order they were started.
    quint64 m_order = 0;
    static inline quint64 s_order = 0;
};

VirtualClock::VirtualClock(const QDateTime &start, std::uint32_t startTick)
    : m_start(start), m_startTick(startTick)
{
}

VirtualClock::~VirtualClock()
{
    for (VirtualTimer *t : std::as_const(m_timers))
        t->m_clock = nullptr;
}

std::uint32_t VirtualClock::tickCount() const
{
    return m_startTick + std::uint32_t(m_now);
}

QDateTime VirtualClock::currentDateTime() const
{
    return m_start.addMSecs(m_now);
}

ClockTimer *VirtualClock::createTimer(QObject *parent)
{
    return new VirtualTimer(this, parent);
}

VirtualTimer *VirtualClock::nextDue() const
{
    VirtualTimer *next = nullptr;
    for (VirtualTimer *t : m_timers) {
        if (t->m_active && (!next || t->m_deadline < next->m_deadline ||
                            (t->m_deadline == next->m_deadline && t->m_order < next->m_order)))
            next = t;
    }
    return next;
}

bool VirtualClock::fireNext()
{
    VirtualTimer *t = nextDue();
    if (!t)
        return false;
    m_now = std::max(m_now, t->m_deadline);
    if (t->m_singleShot)
        t->m_active = false;
    else
        t->m_deadline = m_now + std::max(1, t->m_interval);
    emit t->timeout();
    QCoreApplication::processEvents();
    return true;
}

void VirtualClock::advance(qint64 ms)
{
    const qint64 target = m_now + std::max<qint64>(0, ms);
    QCoreApplication::processEvents();
    for (VirtualTimer *t = nextDue(); t && t->m_deadline <= target; t = nextDue())
        fireNext();
    m_now = std::max(m_now, target);
    QCoreApplication::processEvents();
}

void VirtualClock::delay(int ms)
{
    advance(ms);
}
