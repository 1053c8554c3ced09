#include "session/namedobjects.h"

#include <QDir>
#include <QEventLoop>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace {

QString lockFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

SingleInstanceEvent::SingleInstanceEvent(const QString &name)
    : m_path(lockFolder() + QLatin1Char('/') + name + QStringLiteral(".lock"))
{
}

SingleInstanceEvent::~SingleInstanceEvent()
{
    close();
}

bool SingleInstanceEvent::create()
{
    if (m_lock)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    auto lock = std::make_unique<QLockFile>(m_path);
    // Staleness only by a dead owner, never by age: the first copy may run for months.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_lock = std::move(lock);
    return true;
}

void SingleInstanceEvent::close()
{
    if (m_lock) {
        m_lock->unlock();
        m_lock.reset();
    }
}

bool SingleInstanceEvent::isHeld() const
{
    return m_lock != nullptr;
}

bool PortMutex::lock(int timeoutMs)
{
    return m_mutex.tryLock(timeoutMs);
}

void PortMutex::unlock()
{
    m_mutex.unlock();
}

void PollIdleEvent::set()
{
    m_set = true;
    for (QEventLoop *loop : std::as_const(m_waiters))
        loop->quit();
}

bool PollIdleEvent::wait(int timeoutMs)
{
    if (m_set)
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    m_waiters.append(&loop);
    loop.exec();
    m_waiters.removeOne(&loop);
    return m_set;
}
