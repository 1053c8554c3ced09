#pragma once

#include <QList>
#include <QRecursiveMutex>
#include <QString>

class QEventLoop;

// The program's single-instance mark: a kernel lock on a file in a folder only this user can
// write (the runtime folder, else the user's cache folder). The lock dies with the process that
// holds it, so whatever a crashed copy or anybody else left in the file never blocks a start,
// and a running copy keeps it however long it runs.
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

    // The folder the mark lives in: $XDG_RUNTIME_DIR when it is set and belongs to this user
    // alone, else a folder of the user's own under the cache folder; never a shared one.
    static QString lockFolder();

private:
    QString m_path;
    int m_fd = -1;
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
    // The longest a close or a switch-off gives a running tick.
    static constexpr int kLongestWaitMs = 3000;

    void set();
    void reset() { m_set = false; }
    bool isSet() const { return m_set; }
    // True when the event was (or became) set within timeoutMs.
    bool wait(int timeoutMs);

private:
    bool m_set = true;
    QList<QEventLoop *> m_waiters;
};
