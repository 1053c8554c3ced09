#include "logger/pollschedule.h"

#include <algorithm>

PollSchedule::PollSchedule(const QList<qint64> &periodsMs, qint64 start)
{
    for (qint64 period : periodsMs)
        m_devices.append(Device{std::max<qint64>(period, 1), start, 0});
}

int PollSchedule::due(qint64 now) const
{
    int best = -1;
    for (int i = 0; i < m_devices.size(); ++i) {
        // Ties go to the first in line order: strictly earlier only.
        if (m_devices[i].dueAt <= now && (best < 0 || m_devices[i].dueAt < m_devices[best].dueAt))
            best = i;
    }
    return best;
}

qint64 PollSchedule::nextDueAt() const
{
    qint64 next = m_devices.isEmpty() ? 0 : m_devices.first().dueAt;
    for (const Device &d : m_devices)
        next = std::min(next, d.dueAt);
    return next;
}

PollSchedule::Change PollSchedule::record(int device, qint64 now, bool answered)
{
    Device &d = m_devices[device];
    const bool wasBackedOff = d.failures >= kFailuresToBackOff;
    Change change = Change::None;
    if (answered) {
        if (wasBackedOff)
            change = Change::Answers;
        d.failures = 0;
    } else {
        ++d.failures;
        if (d.failures == kFailuresToBackOff)
            change = Change::BackedOff;
    }
    const qint64 periods = d.failures >= kFailuresToBackOff ? kBackOffPeriods : 1;
    // A device polled late (the line was busy) keeps its cadence; one polled more than a period
    // late starts again from now rather than being polled twice in a row.
    d.dueAt = std::max(d.dueAt + periods * d.periodMs, now);
    if (change == Change::BackedOff || change == Change::Answers)
        d.dueAt = now + periods * d.periodMs;
    return change;
}
