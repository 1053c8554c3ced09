#pragma once

#include "link/linespeeds.h"
#include "link/linkport.h"
#include "link/porterror.h"
#include "platform/portproblem.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class QSocketNotifier;

enum class Databits { db5, db6, db7, db8 };
enum class Parity { paNone, paOdd, paEven, paMark, paSpace };
enum class Stopbits { sb1, sb2 };
enum class DtrControl { dtrDisabled, dtrEnabled };
enum class RtsControl { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

int baudrateValue(Baudrate rate);
// The system's speed_t code of a line speed.
unsigned termiosSpeed(Baudrate rate);

// The port setting for a device's line speed code: 0 = 9600 ... 4 = 115200; nothing for any
// other code.
std::optional<Baudrate> baudrateForSpeedCode(int code);

struct FlowControl
{
    bool OutCtsFlow = false;
    bool OutDsrFlow = false;
    DtrControl ControlDtr = DtrControl::dtrDisabled;
    RtsControl ControlRts = RtsControl::rtsDisabled;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DsrSensitivity = false;
    bool TxContinueOnXoff = false;
};

struct PortBuffers
{
    int ReadSize = 4096;
    int WriteSize = 2048;
    int ReadTimeout = 1000;  // ms, one read or one direct write
    int WriteTimeout = 1000; // ms, room in the write queue
};

// The serial port of a program. Opened exclusively; reads return at once with what has arrived.
// Writes go to the driver at once; what it cannot take yet is queued and drained by the event
// loop, or, with DirectWrite, awaited by the caller. The device is driven through its own
// descriptor: the port is opened for every exchange, and a general serial port class would add
// a lock file written and synced to disk, and a dozen line set-ups, each time.
// Lines without modem control (pseudo-terminals, adapters with automatic direction control)
// refuse RTS and DTR changes; those changes are skipped there, since such lines need none.
// Open failures name the system's own error number and message for the call that failed.
class CommPort : public QObject, public LinkPort
{
    Q_OBJECT
public:
    explicit CommPort(QObject *parent = nullptr);
    ~CommPort() override;

    int PortNum() const { return m_portNum; }
    void setPortNum(int n);
    // The one rule for reaching a device: the port number of its line (refused while open, as
    // setPortNum) and the line speed of its speed code; an unknown code leaves the speed as it
    // is, since the device may still answer there.
    void pointAt(int portNumber, int speedCode);
    QString DeviceName() const { return m_deviceName; }
    // "COM%d", and a name "COM<n>", resolve through the port path rules; any other pattern is a
    // device path itself.
    void setDeviceName(const QString &pattern);

    Baudrate baudrate() const { return m_baudrate; }
    void setBaudrate(Baudrate rate);
    Databits databits() const { return m_databits; }
    void setDatabits(Databits bits);
    Parity parity() const { return m_parity; }
    void setParity(Parity parity);
    Stopbits stopbits() const { return m_stopbits; }
    void setStopbits(Stopbits bits);
    FlowControl flowControl() const { return m_flow; }
    void setFlowControl(const FlowControl &flow);
    bool directWrite() const { return m_directWrite; }
    void setDirectWrite(bool direct);
    PortBuffers buffers() const { return m_buffers; }
    void setBuffers(const PortBuffers &buffers) { m_buffers = buffers; }

    // "COM<n>" for the standard pattern, otherwise the substituted pattern.
    QString displayName() const;
    QString devicePath() const;
    // Why the last Open failed, in terms the user can act on; None after a successful one.
    const PortProblem &lastOpenProblem() const { return m_lastProblem; }

    void Open() override;
    void Close() override;
    bool IsOpen() const override;
    void Purge() override;
    bool WriteText(const QByteArray &text) override;
    int ReadAvailable(char *buffer, int maxCount) override;
    QByteArray ReadAllWaiting() override;
    void SetRts(bool on) override;
    void DrainOutput() override;
    double characterMs() const override;
    QString lineName() const override { return displayName(); }
    qint64 clockNs() const override { return m_clock.nsecsElapsed(); }
    qint64 sentOutAtNs() const override { return m_sentOutAtNs; }
    qint64 receivedAtNs(qsizetype index) const override;

signals:
    // Bytes arrived while the event loop ran: a wait for a reply may end at once instead of at
    // its next pass.
    void received();

private:
    // Takes what has arrived into the read-ahead, stamped with the time it was seen.
    int readIntoAhead();
    void stampReceived(qsizetype count);
    void forgetReceived();
    void noteSentOut();
    void refuseWhileOpen() const;
    // Hands the write queue to the driver, giving up after the read time-out; true when nothing
    // is left in it.
    bool flushWriteBuffer();
    // Hands the driver as much of the write queue as it takes now; 0 or the system's error.
    int pushWriteQueue();
    void applyLineSettings();
    // Raises or lowers a modem control line; false with errno when the line refused.
    bool setModemLine(int line, bool on);
    [[noreturn]] void fail(const char *format, int osError);
    [[noreturn]] void failOpen(int osError);
    void closeHandle();

    int m_portNum = 1;
    QString m_deviceName = QStringLiteral("COM%d");
    QString m_openedPath;
    PortProblem m_lastProblem;
    Baudrate m_baudrate = Baudrate::br9600;
    Databits m_databits = Databits::db8;
    Parity m_parity = Parity::paNone;
    Stopbits m_stopbits = Stopbits::sb1;
    FlowControl m_flow;
    bool m_directWrite = false;
    PortBuffers m_buffers;
    // The device, holding the exclusive lock while the port is open.
    int m_fd = -1;
    QByteArray m_writeQueue;
    QSocketNotifier *m_writeNotifier = nullptr;
    // When the bytes written so far will have left the line at the earliest (ns on m_clock).
    QElapsedTimer m_clock;
    qint64 m_lineFreeAtNs = 0;
    // Bytes taken from the line while the event loop waited, before the exchange read them, so
    // that a reply's arrival is known to the millisecond and not to the exchange's next pass.
    QByteArray m_readAhead;
    QSocketNotifier *m_readNotifier = nullptr;
    qint64 m_sentOutAtNs = -1;
    // (bytes received since Open or Purge, when the last of them arrived), one per read.
    std::vector<std::pair<qsizetype, qint64>> m_arrivals;
    qsizetype m_receivedCount = 0;
};
