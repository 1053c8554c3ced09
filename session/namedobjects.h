#pragma once

#include <QList>
#include <QRecursiveMutex>
#include <QString>

#include <memory>

class QEventLoop;
class QLockFile;

// The program's single-instance mark: a lock file in the user's runtime folder. A lock left by a
// copy that crashed names a process that no longer runs and is taken over; a lock held by a
// running copy never expires, however long that copy runs.
class SingleInstanceEvent
{
public:
    explicit SingleInstanceEvent(const QString &name = QStringLiteral("LorvanEvent"));
    ~SingleInstanceEvent();
    SingleInstanceEvent(const SingleInstanceEvent &) = delete;
    SingleInstanceEvent &operator=(const SingleInstanceEvent &) = delete;

    // False when another running copy holds the mark.
    bool create();
    void close();
    bool isHeld() const;
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

// Taken around the exchanges of editors that must not interleave with the polling cycle. The GUI
// thread may take it again while it holds it (a wait inside an exchange delivers other events).
class PortMutex
{
public:
    bool lock(int timeoutMs);
    void unlock();

private:
    QRecursiveMutex m_mutex;
};

// Signalled while no poll tick runs. wait() keeps the event loop running, so the tick it waits
// for can finish; it returns as soon as the event is set, or after the time-out.
class PollIdleEvent
{
public:
    void set();
    void reset() { m_set = false; }
    bool isSet() const { return m_set; }
    // True when the event was (or became) set within timeoutMs.
    bool wait(int timeoutMs);

private:
    bool m_set = true;
    QList<QEventLoop *> m_waiters;
};
