#include "platform/portproblem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString groupName(gid_t gid)
{
    group entry{};
    group *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

QString processName(int pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QString describeProcess(int pid)
{
    const QString name = processName(pid);
    return name.isEmpty() ? QStringLiteral("процесс %1").arg(pid)
                          : QStringLiteral("%1, процесс %2").arg(name).arg(pid);
}

// A program that holds the line without our lock (it set the exclusive mode only): the first
// process of ours to see whose open descriptors lead to the device. Other users' processes
// cannot be looked into, and stay unnamed.
int descriptorHolderPid(const QString &canonicalPath)
{
    const QDir proc(QStringLiteral("/proc"));
    const int self = int(::getpid());
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == canonicalPath)
                return pid;
        }
    }
    return 0;
}

QString holderOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (locks.open(QIODevice::ReadOnly)) {
        if (const int pid = lockHolderPid(locks.readAll(), quint64(st.st_dev), quint64(st.st_ino)))
            return describeProcess(pid);
    }
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (const int pid = canonical.isEmpty() ? 0 : descriptorHolderPid(canonical))
        return describeProcess(pid);
    return {};
}

} // namespace

int lockHolderPid(const QByteArray &lockTable, quint64 fileDevice, quint64 inode)
{
    const QByteArray wanted = QStringLiteral("%1:%2:%3")
                                  .arg(::major(dev_t(fileDevice)), 2, 16, QLatin1Char('0'))
                                  .arg(::minor(dev_t(fileDevice)), 2, 16, QLatin1Char('0'))
                                  .arg(inode)
                                  .toLatin1();
    for (const QByteArray &line : lockTable.split('\n')) {
        QList<QByteArray> fields = line.simplified().split(' ');
        // Waiters are listed under the holder, marked "->": they hold nothing.
        if (fields.size() < 6 || fields.value(1) == "->")
            continue;
        if (fields[5] == wanted)
            return fields[4].toInt();
    }
    return 0;
}

PortProblem diagnosePortFailure(const QString &path, int osError)
{
    PortProblem problem;
    problem.path = path;
    problem.osError = osError;
    switch (osError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        problem.kind = PortProblem::Missing;
        break;
    case EACCES:
    case EPERM: {
        problem.kind = PortProblem::Forbidden;
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            problem.group = groupName(st.st_gid);
        break;
    }
    case EBUSY:
    case EWOULDBLOCK:
        problem.kind = PortProblem::Busy;
        problem.holder = holderOf(path);
        break;
    case ENOTTY:
    case EINVAL:
        problem.kind = PortProblem::NotSerial;
        break;
    default:
        problem.kind = PortProblem::Other;
        break;
    }
    return problem;
}

QString defaultAssignHint()
{
    return QStringLiteral("Сеть → Назначение портов");
}

QString explainPortProblem(const QString &portName, const PortProblem &problem,
                           const QString &assignHint)
{
    const QString port = portName == problem.path || problem.path.isEmpty()
                             ? QStringLiteral("Порт %1").arg(portName)
                             : QStringLiteral("Порт %1 (%2)").arg(portName, problem.path);
    switch (problem.kind) {
    case PortProblem::None:
        return {};
    case PortProblem::Missing:
        return port + QStringLiteral(" отсутствует. Назначьте порт: %1.").arg(assignHint);
    case PortProblem::Forbidden:
        return port +
               QStringLiteral(" недоступен: устройство принадлежит группе %1, а у вас нет прав "
                              "на него. Добавьте себя в группу командой\n"
                              "sudo usermod -aG %1 $USER\n"
                              "и войдите в систему заново.")
                   .arg(problem.group.isEmpty() ? QStringLiteral("владельца") : problem.group);
    case PortProblem::Busy:
        // The logging service holds its lines for as long as it runs: closing a window will not
        // free them, stopping the service will.
        if (problem.holder.section(QStringLiteral(", "), 0, 0) == QLatin1String("lorvan-logger"))
            return port + QStringLiteral(" занят службой регистрации (%1): она опрашивает "
                                         "приборы этой линии. Остановите её командой\n"
                                         "sudo systemctl stop lorvan-logger\n"
                                         "или выберите другой порт.")
                              .arg(problem.holder);
        return port + (problem.holder.isEmpty()
                           ? QStringLiteral(" занят другой программой. Закройте её или "
                                            "выберите другой порт.")
                           : QStringLiteral(" занят программой %1. Закройте её или выберите "
                                            "другой порт.")
                                 .arg(problem.holder));
    case PortProblem::NotSerial:
        return port + QStringLiteral(" не является последовательным портом. Назначьте порт: %1.")
                          .arg(assignHint);
    case PortProblem::Other:
        break;
    }
    return port + QStringLiteral(" не открывается: %1 (ошибка %2).")
                      .arg(QString::fromLocal8Bit(std::strerror(problem.osError)))
                      .arg(problem.osError);
}
