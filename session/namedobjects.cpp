#include "session/namedobjects.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder fit to hold the mark: a real folder (not a link) of this user that nobody else may
// write into, so nobody else can plant or remove the mark.
bool ownedPrivately(const QByteArray &folder)
{
    struct stat st = {};
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString SingleInstanceEvent::lockFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && ownedPrivately(runtime))
        return QFile::decodeName(runtime);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/Nordak");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

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
    if (m_fd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(m_path);
    // A copy that is just ending may unlink the file between our open and our lock: then the
    // lock is on a file nobody else will find, so open the new one and try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        struct stat held = {};
        struct stat named = {};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            // The process id is only for people looking at the file; the lock is what counts.
            const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
            if (::ftruncate(fd, 0) == 0 && ::write(fd, pid.constData(), size_t(pid.size())) < 0)
                qWarning("single-instance mark: cannot note the process id in %s",
                         path.constData());
            m_fd = fd;
            return true;
        }
        ::close(fd);
    }
    return false;
}

void SingleInstanceEvent::close()
{
    if (m_fd < 0)
        return;
    // Removed while still locked, so no other copy can lock the name we are about to drop.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

bool SingleInstanceEvent::isHeld() const
{
    return m_fd >= 0;
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
