#include "platform/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

int closeChecked(int fd)
{
    // Linux closes the descriptor even when close reports an error: never close it twice.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int synced = ::fsync(fd) == 0 ? 0 : errno;
    const int closed = closeChecked(fd);
    return synced ? synced : closed;
}

} // namespace

QString FileWriteError::message() const
{
    return QStringLiteral("Не удалось записать файл ") + QDir::toNativeSeparators(path) +
           QStringLiteral(": ") + reason;
}

QString systemReason(int errorNumber)
{
    return QString::fromLocal8Bit(std::generic_category().message(errorNumber));
}

AtomicFile::AtomicFile(const QString &path) : m_path(path)
{
    m_error.path = path;
    // Replacing a link would cut it off from the file it names.
    const QFileInfo info(path);
    if (info.isSymLink())
        m_path = info.symLinkTarget();
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::open()
{
    discard();
    const QFileInfo target(m_path);
    struct stat old = {};
    const bool replacing = ::stat(QFile::encodeName(m_path).constData(), &old) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = target.dir().filePath(QStringLiteral(".%1.%2").arg(
            target.fileName(), QString::number(QRandomGenerator::global()->generate(), 36)));
        // A new file gets the usual permissions less the umask, as any other new file would.
        const int fd = ::open(QFile::encodeName(name).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return fail(errno);
        m_fd = fd;
        m_temporary = name;
        if (!replacing)
            return true;
        if (::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0)
            return fail(errno);
        return ::fchmod(fd, old.st_mode & 07777) == 0 || fail(errno);
    }
    return fail(EEXIST);
}

bool AtomicFile::write(const QByteArray &bytes)
{
    if (m_fd < 0)
        return fail(EBADF);
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        data += n;
        left -= n;
    }
    return true;
}

bool AtomicFile::commit(bool keepExisting)
{
    if (m_fd < 0)
        return fail(EBADF);
    // A full disk may only show here, when the file system allocates what was written.
    if (::fsync(m_fd) != 0)
        return fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (const int closed = closeChecked(fd))
        return fail(closed);
    const QByteArray from = QFile::encodeName(m_temporary);
    const QByteArray to = QFile::encodeName(m_path);
    if (keepExisting) {
        if (::link(from.constData(), to.constData()) != 0 && errno != EEXIST)
            return fail(errno);
        ::unlink(from.constData());
    } else if (::rename(from.constData(), to.constData()) != 0) {
        return fail(errno);
    }
    m_temporary.clear();
    // Without this the rename itself may not survive a power loss.
    if (const int synced = syncFolder(QFile::encodeName(QFileInfo(m_path).absolutePath())))
        return fail(synced);
    return true;
}

bool AtomicFile::fail(int errorNumber)
{
    m_error.reason = systemReason(errorNumber);
    discard();
    return false;
}

void AtomicFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
    m_temporary.clear();
}

std::optional<FileWriteError> writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    AtomicFile file(path);
    if (file.open() && file.write(bytes) && file.commit())
        return std::nullopt;
    return file.error();
}
