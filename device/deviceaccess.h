#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <functional>

class CommPort;
class DeviceNode;
class ModbusLink;
class QDateTime;

// The five logged exchanges with the selected device that the settings editors use. Each points
// the link at the selected device's port, line speed and address, runs one transaction and leaves
// one line in the message log. Started while another exchange waits for its reply, an operation
// leaves the port alone and fails with 999.
enum class AccessKind { ReadFlags, WriteFlags, ReadSettings, ReadData, WriteSettings };

// The log line after its time stamp: the operation's text, the result code on failure and the
// position suffix " (0xSSSS,N)" (start register and count, or first coil and count).
QString accessLogText(AccessKind kind, int result, std::uint16_t position, std::uint16_t length);

// Short date and long time of the locale, the way every log line starts. The time zone that
// some locales add to their long time format is left out.
QString accessLogStamp(const QDateTime &when, const QLocale &locale = QLocale());

class DeviceAccess
{
public:
    using CurrentDevice = std::function<const DeviceNode &()>;
    // failed is true for a result other than 0.
    using LogSink = std::function<void(const QString &line, bool failed)>;

    DeviceAccess(ModbusLink &link, CommPort &port, CurrentDevice current, LogSink log);

    // Coils from position on, one image byte each.
    int ReadFlags(std::uint16_t position, std::uint16_t count);
    int WriteFlags(std::uint16_t position, std::uint16_t count);
    // Byte position and length in the holding image.
    int ReadSettings(std::uint16_t bytePosition, std::uint16_t byteLength);
    int WriteSettings(std::uint16_t bytePosition, std::uint16_t byteLength);
    // Byte position and length in the input image.
    int ReadData(std::uint16_t bytePosition, std::uint16_t byteLength);

private:
    // Port number and line speed of the selected device; reopenIfOpen closes an open port for the
    // change and opens it again. False, with the port untouched, while another exchange waits
    // for its reply (the operation then fails with 999 and is logged as failed).
    bool pointAtDevice(bool reopenIfOpen);
    int finish(AccessKind kind, int result, std::uint16_t position, std::uint16_t length);

    ModbusLink &m_link;
    CommPort &m_port;
    CurrentDevice m_current;
    LogSink m_log;
};
