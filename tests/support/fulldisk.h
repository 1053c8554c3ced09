#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// Writes into one folder fail as on a full disk. Tmpfs: a small tmpfs mounted there and filled
// (ENOSPC). SizeLimit, which needs no privileges: RLIMIT_FSIZE with SIGXFSZ ignored, so writes
// past the limit fail (EFBIG) in every file of the process: fill only around the write tested.
struct FullDisk
{
    enum Kind { SizeLimit, Tmpfs };
    const Kind kind;
    const QString folder;
    const bool mounted;
    bool filled = false;
    rlimit old{};

    static bool mount(const QString &folder)
    {
        return ::mount("tmpfs", QFile::encodeName(folder), "tmpfs", 0, "size=1m") == 0;
    }
    // Tmpfs only where this process may mount one; it says so where not.
    static QList<Kind> kinds()
    {
        static const QTemporaryDir probe;
        static const bool mountable =
            mount(probe.path()) && ::umount(qPrintable(probe.path())) == 0;
        if (!mountable)
            qInfo("no tmpfs here (%s): the full disk is a file size limit only", strerror(errno));
        return mountable ? QList<Kind>{SizeLimit, Tmpfs} : QList<Kind>{SizeLimit};
    }
    static const char *name(Kind kind) { return kind == Tmpfs ? "tmpfs" : "size limit"; }

    FullDisk(Kind kind, const QString &folder)
        : kind(kind), folder(folder),
          mounted(QDir().mkpath(folder) && kind == Tmpfs && mount(folder))
    {
    }
    ~FullDisk()
    {
        release();
        if (mounted)
            ::umount2(QFile::encodeName(folder), MNT_DETACH);
    }
    void fill(qint64 limit = 1) // SizeLimit: writes fail from this file offset on
    {
        filled = true;
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old);
        if (kind == SizeLimit) {
            const rlimit low{rlim_t(limit), old.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &low);
            return;
        }
        const int fd = ::creat(QFile::encodeName(folder + "/filler"), 0600);
        while (::write(fd, QByteArray(4096, 'f').constData(), 4096) > 0) {
        }
        ::close(fd);
    }
    void release()
    {
        if (filled)
            ::setrlimit(RLIMIT_FSIZE, &old);
        QFile::remove(folder + "/filler");
        filled = false;
    }
    QString reason() const { return strerror(kind == Tmpfs ? ENOSPC : EFBIG); }
};
