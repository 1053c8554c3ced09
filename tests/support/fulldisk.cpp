#include "support/fulldisk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtDebug>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

bool mountTmpfs(const QString &folder)
{
    return ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=1m") == 0;
}

QString filler(const QString &folder)
{
    return folder + QStringLiteral("/filler");
}

} // namespace

QList<FullDisk::Kind> FullDisk::kinds()
{
    static const bool mountable = [] {
        QTemporaryDir probe;
        if (mountTmpfs(probe.path()))
            return ::umount(QFile::encodeName(probe.path()).constData()) == 0;
        qInfo("tmpfs cannot be mounted here (%s): the full disk runs as a file size limit only",
              std::strerror(errno));
        return false;
    }();
    return mountable ? QList<Kind>{SizeLimit, Tmpfs} : QList<Kind>{SizeLimit};
}

FullDisk::FullDisk(Kind kind, const QString &folder) : m_kind(kind), m_folder(folder)
{
    QDir().mkpath(folder);
    m_mounted = kind == Tmpfs && mountTmpfs(folder);
    if (kind == Tmpfs && !m_mounted)
        qWarning("mount on %s: %s", qPrintable(folder), std::strerror(errno));
}

FullDisk::~FullDisk()
{
    release();
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

void FullDisk::fill(qint64 limit)
{
    m_filled = true;
    if (m_kind == SizeLimit) {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        const rlimit low{rlim_t(limit), m_limit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &low);
        return;
    }
    const int fd = ::open(QFile::encodeName(filler(m_folder)).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const QByteArray block(4096, 'f');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    ::close(fd);
}

void FullDisk::release()
{
    if (!m_filled)
        return;
    m_filled = false;
    if (m_kind == SizeLimit)
        ::setrlimit(RLIMIT_FSIZE, &m_limit);
    else
        QFile::remove(filler(m_folder));
}

QString FullDisk::reason() const
{
    return QString::fromLocal8Bit(std::strerror(m_kind == Tmpfs ? ENOSPC : EFBIG));
}
