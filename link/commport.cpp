#include "link/commport.h"

#include "platform/portpath.h"
#include "platform/pumpedwait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString kWhileOpen = QStringLiteral("Can't perform this operation while port is open");

QString osMessage(int osError)
{
    return QString::fromLocal8Bit(std::strerror(osError));
}

// A line without modem control (a pseudo-terminal, an adapter with automatic direction
// control) answers a change of its control lines so.
bool noModemControl(int osError)
{
    return osError == ENOTTY || osError == EINVAL;
}

} // namespace

unsigned termiosSpeed(Baudrate rate)
{
    static constexpr speed_t kSpeeds[] = {B1200,  B2400,  B4800,  B9600,
                                          B19200, B38400, B57600, B115200};
    return kSpeeds[int(rate)];
}

int baudrateValue(Baudrate rate)
{
    return lineSpeed(rate).bitsPerSecond;
}

std::optional<Baudrate> baudrateForSpeedCode(int code)
{
    if (const LineSpeed *s = lineSpeedForCode(code))
        return s->rate;
    return std::nullopt;
}

CommPort::CommPort(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

CommPort::~CommPort()
{
    Close();
}

void CommPort::refuseWhileOpen() const
{
    if (IsOpen())
        throw PortError(kWhileOpen);
}

void CommPort::setPortNum(int n)
{
    refuseWhileOpen();
    m_portNum = n;
}

void CommPort::pointAt(int portNumber, int speedCode)
{
    setPortNum(portNumber);
    if (const auto rate = baudrateForSpeedCode(speedCode))
        setBaudrate(*rate);
}

void CommPort::setDeviceName(const QString &pattern)
{
    refuseWhileOpen();
    m_deviceName = pattern;
}

void CommPort::setBaudrate(Baudrate rate)
{
    m_baudrate = rate;
    if (IsOpen())
        applyLineSettings();
}

void CommPort::setDatabits(Databits bits)
{
    m_databits = bits;
    if (IsOpen())
        applyLineSettings();
}

void CommPort::setParity(Parity parity)
{
    m_parity = parity;
    if (IsOpen())
        applyLineSettings();
}

void CommPort::setStopbits(Stopbits bits)
{
    m_stopbits = bits;
    if (IsOpen())
        applyLineSettings();
}

void CommPort::setFlowControl(const FlowControl &flow)
{
    m_flow = flow;
    if (IsOpen())
        applyLineSettings();
}

void CommPort::setDirectWrite(bool direct)
{
    refuseWhileOpen();
    m_directWrite = direct;
}

QString CommPort::displayName() const
{
    const QString name =
        QString(m_deviceName).replace(QLatin1String("%d"), QString::number(m_portNum));
    const int typedNumber = portNumberOfName(name);
    return typedNumber > 0 ? portDisplayName(typedNumber) : name;
}

QString CommPort::devicePath() const
{
    if (m_deviceName == QLatin1String("COM%d"))
        return portDevicePath(m_portNum);
    return resolvePortName(displayName());
}

void CommPort::fail(const char *format, int osError)
{
    throw PortError(QString::asprintf(format, osError, qUtf8Printable(osMessage(osError))));
}

void CommPort::failOpen(int osError)
{
    closeHandle();
    m_lastProblem = diagnosePortFailure(m_openedPath, osError);
    throw PortError(QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                        .arg(displayName())
                        .arg(osError)
                        .arg(osMessage(osError)));
}

void CommPort::closeHandle()
{
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    m_writeQueue.clear();
    // The arrival times stay: an exchange asks for its reply's after it has closed the port.
    m_readAhead.clear();
    if (m_fd >= 0) {
        // The exclusive mode outlives the descriptor on a line someone else keeps open.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    m_fd = -1;
}

bool CommPort::setModemLine(int line, bool on)
{
    return ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

void CommPort::applyLineSettings()
{
    // Closed, the settings are only kept: the next Open applies them.
    if (!IsOpen())
        return;
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0)
        fail("Error writing dcb (%d), %s", errno);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[int(m_databits)];
    switch (m_parity) {
    case Parity::paNone:
        break;
    case Parity::paOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case Parity::paEven:
        t.c_cflag |= PARENB;
        break;
    case Parity::paMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case Parity::paSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (m_stopbits == Stopbits::sb2)
        t.c_cflag |= CSTOPB;
    const bool handshake = m_flow.OutCtsFlow || m_flow.ControlRts == RtsControl::rtsHandshake;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (handshake)
        t.c_cflag |= CRTSCTS;
    else if (m_flow.XonXoffOut || m_flow.XonXoffIn)
        t.c_iflag |= IXON | IXOFF;
    // Reads return at once with whatever has arrived.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, termiosSpeed(m_baudrate));
    ::cfsetospeed(&t, termiosSpeed(m_baudrate));
    if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
        fail("Error writing dcb (%d), %s", errno);
    // The control lines' resting levels belong to the line settings; a line without them
    // simply has none to set.
    const auto setLine = [this](int line, bool on) {
        if (!setModemLine(line, on) && !noModemControl(errno))
            fail("Error writing dcb (%d), %s", errno);
    };
    setLine(TIOCM_DTR, m_flow.ControlDtr == DtrControl::dtrEnabled);
    if (!handshake && m_flow.ControlRts != RtsControl::rtsToggle)
        setLine(TIOCM_RTS, m_flow.ControlRts == RtsControl::rtsEnabled);
}

void CommPort::Open()
{
    refuseWhileOpen();
    // A relative path names a file from the working directory, as it does everywhere else.
    const QString path = QFileInfo(devicePath()).absoluteFilePath();
    m_openedPath = path;
    const auto notFound = [&] {
        m_lastProblem = diagnosePortFailure(path, ENOENT);
        throw PortError(QStringLiteral("Specified device not found (%1).").arg(displayName()));
    };
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const int osError = errno;
        if (osError == ENOENT)
            notFound();
        failOpen(osError);
    }
    // Our programs keep out of each other's way by the lock; the exclusive mode keeps any other
    // program from opening the line meanwhile.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        failOpen(errno);
    termios probe{};
    if (::tcgetattr(m_fd, &probe) != 0)
        failOpen(errno);
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        failOpen(errno);
    try {
        applyLineSettings();
    } catch (...) {
        closeHandle();
        m_lastProblem = diagnosePortFailure(path, errno);
        throw;
    }
    m_lastProblem = {};
    m_writeNotifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        // A line that refuses the rest of a queued request simply gets no more of it; the
        // exchange then waits in vain and says so.
        if (pushWriteQueue() != 0)
            m_writeQueue.clear();
        m_writeNotifier->setEnabled(!m_writeQueue.isEmpty());
    });
    m_lineFreeAtNs = 0;
    forgetReceived();
    m_readNotifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readIntoAhead(); });
}

void CommPort::forgetReceived()
{
    m_readAhead.clear();
    m_arrivals.clear();
    m_receivedCount = 0;
    m_sentOutAtNs = -1;
    if (m_readNotifier)
        m_readNotifier->setEnabled(true);
}

void CommPort::stampReceived(qsizetype count)
{
    m_receivedCount += count;
    m_arrivals.emplace_back(m_receivedCount, m_clock.nsecsElapsed());
}

qint64 CommPort::receivedAtNs(qsizetype index) const
{
    const auto it = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), index,
                                     [](qsizetype i, const auto &a) { return i < a.first; });
    return it == m_arrivals.end() ? -1 : it->second;
}

int CommPort::readIntoAhead()
{
    for (;;) {
        char chunk[4096];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            m_readAhead.append(chunk, qsizetype(n));
            stampReceived(n);
            // A flood nobody reads waits in the driver, as it would without the read-ahead.
            if (m_readAhead.size() >= m_buffers.ReadSize)
                m_readNotifier->setEnabled(false);
            emit received();
            return int(n);
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A line gone away (end of file, EIO) would report itself ready for ever; the
        // exchange's own reads find out what is wrong.
        if (n == 0 || errno != EAGAIN)
            m_readNotifier->setEnabled(false);
        return 0;
    }
}

void CommPort::Close()
{
    closeHandle();
}

bool CommPort::IsOpen() const
{
    return m_fd >= 0;
}

void CommPort::Purge()
{
    if (!IsOpen())
        return;
    if (::tcflush(m_fd, TCIOFLUSH) != 0)
        fail("Error clearing buffers (%d), %s", errno);
    m_writeQueue.clear();
    forgetReceived();
    m_writeNotifier->setEnabled(false);
}

int CommPort::pushWriteQueue()
{
    while (!m_writeQueue.isEmpty()) {
        const ssize_t n = ::write(m_fd, m_writeQueue.constData(), size_t(m_writeQueue.size()));
        if (n > 0)
            m_writeQueue.remove(0, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno != EAGAIN)
            return errno;
        else
            break;
    }
    return 0;
}

bool CommPort::WriteText(const QByteArray &text)
{
    if (!IsOpen())
        return false;
    // The bytes cannot leave before whatever was written earlier, nor faster than the line runs.
    const qint64 now = m_clock.nsecsElapsed();
    m_lineFreeAtNs = std::max(now, m_lineFreeAtNs) +
                     qint64(std::ceil(double(text.size()) * characterMs() * 1e6));
    if (m_directWrite) {
        m_writeQueue += text;
        // A write that has not left within the read time-out counts as nothing written.
        const bool written = flushWriteBuffer();
        noteSentOut();
        return written;
    }
    // Queued: wait for room only when the queue is full; the event loop drains it.
    QElapsedTimer clock;
    clock.start();
    while (m_writeQueue.size() + text.size() > m_buffers.WriteSize) {
        if (clock.elapsed() >= m_buffers.WriteTimeout)
            throw PortError(QStringLiteral("Output buffer is full. Please check comm status."));
        DelayPumping(1);
    }
    m_writeQueue += text;
    if (const int osError = pushWriteQueue())
        fail("Write error (%d), %s", osError);
    m_writeNotifier->setEnabled(!m_writeQueue.isEmpty());
    noteSentOut();
    return true;
}

void CommPort::noteSentOut()
{
    // A driver that holds bytes back paces them out at the line's speed; one that holds none
    // (a pseudo-terminal) has delivered them already.
    int pending = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &pending) != 0)
        pending = 0;
    pending += int(m_writeQueue.size());
    m_sentOutAtNs = pending > 0 ? m_lineFreeAtNs : m_clock.nsecsElapsed();
}

int CommPort::ReadAvailable(char *buffer, int maxCount)
{
    if (!IsOpen() || maxCount <= 0)
        return 0;
    const int early = int(std::min<qsizetype>(maxCount, m_readAhead.size()));
    if (early > 0) {
        std::memcpy(buffer, m_readAhead.constData(), size_t(early));
        m_readAhead.remove(0, early);
        m_readNotifier->setEnabled(true);
        if (early == maxCount)
            return early;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer + early, size_t(maxCount - early));
        if (n > 0)
            stampReceived(n);
        if (n >= 0)
            return early + int(n);
        // Nothing waiting; a line whose other end has gone reads as silent, too.
        if (errno == EAGAIN || errno == EIO)
            return early;
        if (errno != EINTR) {
            if (early > 0)
                return early; // the error shows itself on the next read
            fail("Read error (%d), %s", errno);
        }
    }
}

QByteArray CommPort::ReadAllWaiting()
{
    QByteArray all;
    char chunk[4096];
    for (int n = ReadAvailable(chunk, sizeof chunk); n > 0; n = ReadAvailable(chunk, sizeof chunk))
        all.append(chunk, n);
    return all;
}

void CommPort::SetRts(bool on)
{
    if (m_flow.ControlRts == RtsControl::rtsHandshake || m_flow.ControlRts == RtsControl::rtsToggle)
        throw PortError(QStringLiteral(
            "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle."));
    if (!IsOpen())
        fail("Error calling comm function (%d), %s", EBADF);
    if (!setModemLine(TIOCM_RTS, on) && !noModemControl(errno))
        fail("Error calling comm function (%d), %s", errno);
}

double CommPort::characterMs() const
{
    const int dataBits = 5 + int(m_databits);
    const int parityBits = m_parity == Parity::paNone ? 0 : 1;
    const int stopBits = m_stopbits == Stopbits::sb2 ? 2 : 1;
    return (1 + dataBits + parityBits + stopBits) * 1000.0 / baudrateValue(m_baudrate);
}

bool CommPort::flushWriteBuffer()
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (pushWriteQueue() != 0 || m_writeQueue.isEmpty())
            break;
        const qint64 left = m_buffers.ReadTimeout - clock.elapsed();
        if (left <= 0)
            break;
        pollfd room{m_fd, POLLOUT, 0};
        ::poll(&room, 1, int(left));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_writeQueue.isEmpty());
    return m_writeQueue.isEmpty();
}

void CommPort::DrainOutput()
{
    if (!IsOpen())
        return;
    flushWriteBuffer();
    // The line needs its own time for the bytes whatever the driver reports: an adapter's FIFO
    // may still hold them when the driver's queue is empty. The event loop runs meanwhile.
    const qint64 remainingNs = m_lineFreeAtNs - m_clock.nsecsElapsed();
    if (remainingNs > 0)
        DelayPumping(int((remainingNs + 999999) / 1000000));
    // By now the driver's queue is normally empty; this waits for whatever it still holds.
    if (::tcdrain(m_fd) != 0 && errno != ENOTTY && errno != EINVAL)
        fail("Write error (%d), %s", errno);
    // The last character still has to leave the transmitter's shift register.
    DelayPumping(std::max(1, int(std::ceil(characterMs()))));
}
