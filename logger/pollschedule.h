#pragma once

#include <QList>

#include <cstdint>

// Which device of one line is polled next, and when. Pure: times are milliseconds on any
// monotonic clock the caller keeps, so the schedule runs in virtual time in its tests.
//
// Each device is due once per period, counted from when it was due, not from when its poll
// ended, so a line that keeps up holds every device's cadence. A line that cannot keep up polls
// the most overdue device first and never makes up missed polls in a burst. A device that fails
// kFailuresToBackOff times in a row is tried only once per kBackOffPeriods periods until it
// answers again, so that a dead device costs the others almost nothing.
class PollSchedule
{
public:
    static constexpr int kFailuresToBackOff = 3;
    static constexpr int kBackOffPeriods = 10;

    enum class Change {
        None,
        BackedOff, // the failure that made it silent: tried once per kBackOffPeriods from now on
        Answers,   // the first answer after a back-off
    };

    // Every device is due at start. A period below 1 ms is taken as 1 ms.
    PollSchedule(const QList<qint64> &periodsMs, qint64 start);

    int size() const { return int(m_devices.size()); }
    // The device to poll at now, -1 when none is due yet.
    int due(qint64 now) const;
    // When the earliest device is due; meaningless for an empty schedule.
    qint64 nextDueAt() const;
    // Records the outcome of the poll of device that ended at now and sets its next time.
    Change record(int device, qint64 now, bool answered);

    qint64 dueAt(int device) const { return m_devices[device].dueAt; }
    int failures(int device) const { return m_devices[device].failures; }
    bool backedOff(int device) const { return m_devices[device].failures >= kFailuresToBackOff; }

private:
    struct Device
    {
        qint64 periodMs = 1;
        qint64 dueAt = 0;
        int failures = 0;
    };
    QList<Device> m_devices;
};
