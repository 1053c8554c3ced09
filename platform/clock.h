#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>

#include <cstdint>
#include <memory>

class Clock;

// A repeating or single-shot timer of a Clock. Real clocks run it on a QTimer; a virtual clock
// fires it when its time is advanced past the timer's deadline.
class ClockTimer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setSingleShot(bool on) = 0;

signals:
    void timeout();
};

// Where the run-state code takes its time from: the millisecond tick count, the date and time
// of a measurement, its timers and its pumped waits. Tests give a VirtualClock, so that ticks
// run one after another without waiting out the gaps between them.
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32 as the device records keep them.
    virtual std::uint32_t tickCount() const = 0;
    virtual QDateTime currentDateTime() const = 0;
    // A wait of at least ms that keeps delivering events meanwhile.
    virtual void delay(int ms) = 0;
    // A new stopped timer owned by parent.
    virtual ClockTimer *createTimer(QObject *parent) = 0;
};

// The wall clock with real timers.
Clock &systemClock();

// Time that moves only when told to. Its timers fire in deadline order while advance() moves the
// time past them; delay() advances by itself. Events are delivered at each step, so the code run
// by a timer sees the same event order as with real time, only without the idle gaps. Real
// exchanges with a device still take their real time.
class VirtualClock : public Clock
{
public:
    explicit VirtualClock(const QDateTime &start = QDateTime(QDate(2024, 3, 1), QTime(12, 0)),
                          std::uint32_t startTick = 1000000u);
    ~VirtualClock() override;

    std::uint32_t tickCount() const override;
    QDateTime currentDateTime() const override;
    void delay(int ms) override;
    ClockTimer *createTimer(QObject *parent) override;

    // Moves the time on by ms, firing every timer that falls due on the way.
    void advance(qint64 ms);
    // Moves the time on to the next timer deadline and fires it; false when no timer runs.
    bool fireNext();
    qint64 elapsed() const { return m_now; }

private:
    friend class VirtualTimer;
    class VirtualTimer *nextDue() const;

    QDateTime m_start;
    std::uint32_t m_startTick;
    qint64 m_now = 0;
    QList<class VirtualTimer *> m_timers;
};
