#include "devsim/simline.h"

#include "platform/printabletext.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

namespace {

int speedValue(speed_t s)
{
    switch (s) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

SimLine::SimLine(const LineSetup &setup, std::function<void(const QString &)> logger)
    : m_setup(setup), m_logger(std::move(logger))
{
    const QDateTime now = QDateTime::currentDateTime();
    const bool alone = setup.devices.size() == 1;
    for (const DeviceSetup &d : setup.devices) {
        Member m;
        m.device = std::make_unique<SimDevice>(d, now, alone);
        m.faults = std::make_unique<FaultInjector>(d.faults);
        m_members.push_back(std::move(m));
    }
}

SimLine::~SimLine()
{
    close();
}

bool SimLine::Pty::open(const QString &link, QString *why)
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *why = QStringLiteral("no pseudo-terminal available");
        return false;
    }
    ptyPath = QString::fromLocal8Bit(ptsname(master));
    // Holding the slave open ourselves keeps the line up while the client has its port
    // closed between exchanges; otherwise the master would see a hang-up each time.
    slaveKeeper = ::open(ptyPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveKeeper < 0) {
        *why = QStringLiteral("cannot open %1").arg(ptyPath);
        return false;
    }
    termios raw{};
    tcgetattr(slaveKeeper, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    tcsetattr(slaveKeeper, TCSANOW, &raw);

    const QFileInfo existing(link);
    if (existing.isSymLink())
        QFile::remove(link);
    else if (existing.exists()) {
        *why = QStringLiteral("%1 exists and is not a link").arg(link);
        return false;
    }
    if (::symlink(ptyPath.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0) {
        *why = QStringLiteral("cannot create %1").arg(link);
        return false;
    }
    linkPath = link;
    return true;
}

void SimLine::Pty::close()
{
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        linkPath.clear();
    }
    for (int *fd : {&slaveKeeper, &master}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    ptyPath.clear();
}

bool SimLine::open(const QString &linkPath, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("COM%1: %2").arg(m_setup.port).arg(why);
        close();
        return false;
    };
    Pty line;
    QString why;
    const bool opened = line.open(linkPath, &why);
    m_master = line.master;
    m_slaveKeeper = line.slaveKeeper;
    m_ptyPath = line.ptyPath;
    m_linkPath = line.linkPath;
    if (!opened)
        return fail(why);
    if (m_setup.monitor && !m_tap.open(linkPath + QStringLiteral("-monitor"), &why))
        return fail(why);

    if (::pipe(m_wake) != 0)
        return fail(QStringLiteral("no pipe"));
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimLine::close()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const char c = 0;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        m_linkPath.clear();
    }
    m_tap.close();
    for (int *fd : {&m_wake[0], &m_wake[1], &m_slaveKeeper, &m_master}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool SimLine::withDevice(quint8 address, const std::function<void(SimDevice &)> &fn)
{
    std::lock_guard lock(m_mutex);
    for (Member &m : m_members) {
        if (m.device->address() == address) {
            fn(*m.device);
            return true;
        }
    }
    return false;
}

int SimLine::lineSpeed() const
{
    // The master reports the settings that the client made on the slave side.
    termios t{};
    if (tcgetattr(m_master, &t) != 0)
        return 0;
    return speedValue(cfgetospeed(&t));
}

void SimLine::run()
{
    char buffer[512];
    while (!m_stop) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, 500);
        if (ready < 0 || (fds[1].revents & POLLIN))
            continue;
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        tap(buffer, n);
        for (const ReceivedFrame &frame : m_assembler.feed(QByteArray(buffer, int(n)))) {
            if (m_stop)
                break;
            serve(frame);
        }
    }
}

void SimLine::serve(const ReceivedFrame &frame)
{
    if (!frame.valid) {
        log(QStringLiteral("<-"), frame.text, QStringLiteral("rejected, no answer"));
        return;
    }
    log(QStringLiteral("<-"), frame.text);
    const QDateTime now = QDateTime::currentDateTime();
    const quint8 address = quint8(frame.bytes[0]);
    const int speed = lineSpeed();

    SimDevice *device = nullptr;
    QList<ReplyPiece> pieces;
    {
        std::lock_guard lock(m_mutex);
        for (Member &m : m_members) {
            if (!m.device->isAddressedBy(address))
                continue;
            if (speedForCode(m.device->speedCode()) != speed) {
                log(QStringLiteral("--"), {},
                    QStringLiteral("address %1 listens at %2, line is at %3: silent")
                        .arg(m.device->address())
                        .arg(speedForCode(m.device->speedCode()))
                        .arg(speed));
                return;
            }
            const int forced = m.faults->exceptionFor();
            const QByteArray reply = m.device->handle(frame.bytes, now, forced);
            if (reply.isEmpty())
                return;
            pieces = m.faults->shape(encodeFrame(reply));
            device = m.device.get();
            break;
        }
    }
    if (!device)
        return;

    if (pieces.isEmpty()) {
        log(QStringLiteral("->"), {}, QStringLiteral("reply dropped"));
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_setup.turnaroundMs));
        for (const ReplyPiece &piece : std::as_const(pieces)) {
            if (piece.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(piece.delayMs));
            transmit(piece.bytes, speed);
            log(QStringLiteral("->"), piece.bytes);
        }
    }
    std::lock_guard lock(m_mutex);
    device->applyPendingChanges();
}

void SimLine::transmit(const QByteArray &bytes, int speed)
{
    // Bytes that do not fit because no client is reading are lost, as on a real line.
    auto put = [&](qsizetype from, qsizetype count) {
        while (count > 0) {
            const ssize_t n = ::write(m_master, bytes.constData() + from, size_t(count));
            if (n <= 0)
                return;
            tap(bytes.constData() + from, n);
            from += n;
            count -= n;
        }
    };
    if (!m_setup.pacing || speed <= 0) {
        put(0, bytes.size());
        return;
    }
    // Ten bits per character: start, eight data bits, stop.
    using Clock = std::chrono::steady_clock;
    const auto perChar = std::chrono::nanoseconds(10'000'000'000LL / speed);
    const auto start = Clock::now();
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const auto elapsed = Clock::now() - start;
        const qsizetype due = std::min<qsizetype>(bytes.size(), elapsed / perChar + 1);
        if (due > sent) {
            put(sent, due - sent);
            sent = due;
        } else {
            std::this_thread::sleep_until(start + perChar * sent);
        }
    }
    std::this_thread::sleep_until(start + perChar * bytes.size());
}

void SimLine::tap(const char *bytes, qsizetype count)
{
    if (m_tap.master < 0)
        return;
    while (count > 0) {
        const ssize_t n = ::write(m_tap.master, bytes, size_t(count));
        if (n <= 0)
            return;
        bytes += n;
        count -= n;
    }
}

void SimLine::log(const QString &direction, const QByteArray &text, const QString &note)
{
    if (!m_logger)
        return;
    QString line = QStringLiteral("%1 COM%2 %3 %4")
                       .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs))
                       .arg(m_setup.port)
                       .arg(direction, printableText(text));
    if (!note.isEmpty())
        line += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(") + note +
                QStringLiteral(")");
    m_logger(line);
}

} // namespace devsim
