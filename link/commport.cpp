#include "link/commport.h"

#include "platform/portpath.h"
#include "platform/pumpedwait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString kWhileOpen = QStringLiteral("Can't perform this operation while port is open");

QSerialPort::DataBits toQt(Databits bits)
{
    switch (bits) {
    case Databits::db5:
        return QSerialPort::Data5;
    case Databits::db6:
        return QSerialPort::Data6;
    case Databits::db7:
        return QSerialPort::Data7;
    case Databits::db8:
        break;
    }
    return QSerialPort::Data8;
}

QSerialPort::Parity toQt(Parity parity)
{
    switch (parity) {
    case Parity::paOdd:
        return QSerialPort::OddParity;
    case Parity::paEven:
        return QSerialPort::EvenParity;
    case Parity::paMark:
        return QSerialPort::MarkParity;
    case Parity::paSpace:
        return QSerialPort::SpaceParity;
    case Parity::paNone:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(Stopbits bits)
{
    return bits == Stopbits::sb2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

QString osMessage(int osError)
{
    return QString::fromLocal8Bit(std::strerror(osError));
}

} // namespace

int baudrateValue(Baudrate rate)
{
    static constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return kRates[int(rate)];
}

std::optional<Baudrate> baudrateForSpeedCode(int code)
{
    switch (code) {
    case 0:
        return Baudrate::br9600;
    case 1:
        return Baudrate::br19200;
    case 2:
        return Baudrate::br38400;
    case 3:
        return Baudrate::br57600;
    case 4:
        return Baudrate::br115200;
    default:
        return std::nullopt;
    }
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
    return QString(m_deviceName).replace(QLatin1String("%d"), QString::number(m_portNum));
}

QString CommPort::devicePath() const
{
    if (m_deviceName == QLatin1String("COM%d"))
        return portDevicePath(m_portNum);
    return displayName();
}

void CommPort::fail(const char *format, int osError)
{
    throw PortError(QString::asprintf(format, osError, qUtf8Printable(osMessage(osError))));
}

void CommPort::failOpen(int osError)
{
    releaseLock();
    throw PortError(QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                        .arg(displayName())
                        .arg(osError)
                        .arg(osMessage(osError)));
}

void CommPort::releaseLock()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

void CommPort::applyLineSettings()
{
    errno = 0;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    if (m_flow.OutCtsFlow || m_flow.ControlRts == RtsControl::rtsHandshake)
        flow = QSerialPort::HardwareControl;
    else if (m_flow.XonXoffOut || m_flow.XonXoffIn)
        flow = QSerialPort::SoftwareControl;
    const bool ok = m_port.setBaudRate(baudrateValue(m_baudrate)) &&
                    m_port.setDataBits(toQt(m_databits)) && m_port.setParity(toQt(m_parity)) &&
                    m_port.setStopBits(toQt(m_stopbits)) && m_port.setFlowControl(flow);
    if (!ok)
        fail("Error writing dcb (%d), %s", errno);
    if (!IsOpen())
        return;
    // The control lines' resting levels belong to the line settings; a line without them
    // (pseudo-terminal, automatic-direction adapter) simply has none to set.
    const auto setLine = [this](bool ok) {
        if (!ok && m_port.error() != QSerialPort::UnsupportedOperationError)
            fail("Error writing dcb (%d), %s", errno);
        m_port.clearError();
    };
    setLine(m_port.setDataTerminalReady(m_flow.ControlDtr == DtrControl::dtrEnabled));
    if (flow != QSerialPort::HardwareControl && m_flow.ControlRts != RtsControl::rtsToggle)
        setLine(m_port.setRequestToSend(m_flow.ControlRts == RtsControl::rtsEnabled));
}

void CommPort::Open()
{
    refuseWhileOpen();
    // A relative path names a file from the working directory, as it does everywhere else.
    const QString path = QFileInfo(devicePath()).absoluteFilePath();
    if (!QFileInfo::exists(path))
        throw PortError(QStringLiteral("Specified device not found (%1).").arg(displayName()));
    // Our own open and lock come first: their errno is the true reason for a refusal (a missing
    // permission, a device another program holds), which the serial port class would not keep.
    m_lockFd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_lockFd < 0) {
        const int osError = errno;
        if (osError == ENOENT)
            throw PortError(QStringLiteral("Specified device not found (%1).").arg(displayName()));
        failOpen(osError);
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0)
        failOpen(errno);
    m_port.setPortName(path);
    m_port.clearError();
    errno = 0;
    if (!m_port.open(QIODevice::ReadWrite)) {
        const int osError = errno;
        if (m_port.error() == QSerialPort::DeviceNotFoundError) {
            releaseLock();
            throw PortError(QStringLiteral("Specified device not found (%1).").arg(displayName()));
        }
        // The class's own lock file is held by another program: the device is busy.
        if (m_port.error() == QSerialPort::PermissionError || osError == 0)
            failOpen(EBUSY);
        failOpen(osError);
    }
    try {
        applyLineSettings();
    } catch (...) {
        m_port.close();
        releaseLock();
        throw;
    }
    m_lineFreeAtNs = 0;
}

void CommPort::Close()
{
    if (m_port.isOpen())
        m_port.close();
    releaseLock();
}

bool CommPort::IsOpen() const
{
    return m_port.isOpen();
}

void CommPort::Purge()
{
    if (!IsOpen())
        return;
    errno = 0;
    if (!m_port.clear(QSerialPort::AllDirections))
        fail("Error clearing buffers (%d), %s", errno);
    // Whatever Qt had already fetched from the driver belongs to the purged past too.
    m_port.readAll();
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
        errno = 0;
        if (m_port.write(text) < 0)
            fail("Write error (%d), %s", errno);
        // A write that has not left within the read time-out counts as nothing written.
        return flushWriteBuffer();
    }
    // Queued: the event loop drains the queue; wait for room only when it is full.
    QElapsedTimer clock;
    clock.start();
    while (m_port.bytesToWrite() + text.size() > m_buffers.WriteSize) {
        if (clock.elapsed() >= m_buffers.WriteTimeout)
            throw PortError(QStringLiteral("Output buffer is full. Please check comm status."));
        DelayPumping(1);
    }
    errno = 0;
    const qint64 written = m_port.write(text);
    if (written < 0)
        fail("Write error (%d), %s", errno);
    return written == text.size();
}

void CommPort::fetchWaiting()
{
    if (m_port.bytesAvailable() == 0) {
        m_port.waitForReadyRead(0);
        m_port.clearError(); // a zero wait that found nothing is no error
    }
}

int CommPort::ReadAvailable(char *buffer, int maxCount)
{
    if (!IsOpen() || maxCount <= 0)
        return 0;
    fetchWaiting();
    errno = 0;
    const qint64 n = m_port.read(buffer, maxCount);
    if (n < 0)
        fail("Read error (%d), %s", errno);
    return int(n);
}

QByteArray CommPort::ReadAllWaiting()
{
    if (!IsOpen())
        return {};
    fetchWaiting();
    return m_port.readAll();
}

void CommPort::SetRts(bool on)
{
    if (m_flow.ControlRts == RtsControl::rtsHandshake || m_flow.ControlRts == RtsControl::rtsToggle)
        throw PortError(QStringLiteral(
            "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle."));
    errno = 0;
    if (!IsOpen())
        fail("Error calling comm function (%d), %s", EBADF);
    if (!m_port.setRequestToSend(on)) {
        const int osError = errno;
        const bool notApplicable = m_port.error() == QSerialPort::UnsupportedOperationError;
        m_port.clearError();
        if (!notApplicable)
            fail("Error calling comm function (%d), %s", osError);
    }
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
    while (m_port.bytesToWrite() > 0 && clock.elapsed() < m_buffers.ReadTimeout) {
        if (!m_port.waitForBytesWritten(int(m_buffers.ReadTimeout - clock.elapsed())))
            break;
    }
    m_port.clearError();
    return m_port.bytesToWrite() == 0;
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
    if (::tcdrain(int(m_port.handle())) != 0 && errno != ENOTTY && errno != EINVAL)
        fail("Write error (%d), %s", errno);
    // The last character still has to leave the transmitter's shift register.
    DelayPumping(std::max(1, int(std::ceil(characterMs()))));
}
