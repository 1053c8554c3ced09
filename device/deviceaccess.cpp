#include "device/deviceaccess.h"

#include "device/devicenode.h"
#include "link/commport.h"
#include "link/modbuslink.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

struct AccessTexts
{
    const char *success;
    const char *failure;
    bool flags;
};

AccessTexts textsFor(AccessKind kind)
{
    switch (kind) {
    case AccessKind::ReadFlags:
        return {" Чтение флагов: ", " Ошибка чтения флагов: ", true};
    case AccessKind::WriteFlags:
        return {" Запись флагов: ", " Ошибка записи флагов: ", true};
    case AccessKind::ReadSettings:
        return {" Чтение регистров настройки ", " Ошибка чтения регистров настройки: ", false};
    case AccessKind::ReadData:
        return {" Чтение регистров данных ", " Ошибка чтения регистров данных: ", false};
    case AccessKind::WriteSettings:
        return {" Запись регистров настройки ", " Ошибка записи регистров настройки: ", false};
    }
    return {"", "", false};
}

// What the link itself answers to an exchange started while another one waits.
constexpr int kLinkBusy = 999;

} // namespace

QString accessLogText(AccessKind kind, int result, std::uint16_t position, std::uint16_t length)
{
    const AccessTexts t = textsFor(kind);
    QString line = result == 0 ? QString::fromUtf8(t.success)
                               : QString::fromUtf8(t.failure) + QString::number(result);
    unsigned first = position;
    unsigned count = length;
    if (!t.flags) {
        const RegisterSpan span = registerSpan(position, length);
        first = span.start;
        count = span.count;
    }
    return line + QString::asprintf(" (0x%.4X,%u)", first, count);
}

QString accessLogStamp(const QDateTime &when, const QLocale &locale)
{
    // Locales put the zone as "t" (or "tt", "ttt", "tttt") into the long time format.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    timeFormat.remove(zone);
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), timeFormat.trimmed());
}

DeviceAccess::DeviceAccess(ModbusLink &link, CommPort &port, CurrentDevice current, LogSink log)
    : m_link(link), m_port(port), m_current(std::move(current)), m_log(std::move(log))
{
}

bool DeviceAccess::pointAtDevice(bool reopenIfOpen)
{
    // An exchange that waits for its reply below this call owns the port: changing it now would
    // close or reconfigure the line under it. The link refuses the new exchange anyway.
    if (m_link.busy())
        return false;
    const DeviceNode &device = m_current();
    const bool wasOpen = reopenIfOpen && m_port.IsOpen();
    if (wasOpen)
        m_port.Close();
    m_port.pointAt(device.portNumber(), device.speedCode());
    if (wasOpen)
        m_port.Open();
    return true;
}

int DeviceAccess::finish(AccessKind kind, int result, std::uint16_t position, std::uint16_t length)
{
    if (m_log) {
        m_log(accessLogStamp(QDateTime::currentDateTime()) +
                  accessLogText(kind, result, position, length),
              result != 0);
    }
    return result;
}

int DeviceAccess::ReadFlags(std::uint16_t position, std::uint16_t count)
{
    const int result =
        pointAtDevice(true) ? m_link.ReadCoils(m_current().address(), position, count) : kLinkBusy;
    return finish(AccessKind::ReadFlags, result, position, count);
}

int DeviceAccess::WriteFlags(std::uint16_t position, std::uint16_t count)
{
    const int result =
        pointAtDevice(true) ? m_link.WriteCoils(m_current().address(), position, count) : kLinkBusy;
    return finish(AccessKind::WriteFlags, result, position, count);
}

int DeviceAccess::ReadSettings(std::uint16_t bytePosition, std::uint16_t byteLength)
{
    const int result = pointAtDevice(true) ? m_link.ReadHoldingRegisters(m_current().address(),
                                                                         bytePosition, byteLength)
                                           : kLinkBusy;
    return finish(AccessKind::ReadSettings, result, bytePosition, byteLength);
}

int DeviceAccess::ReadData(std::uint16_t bytePosition, std::uint16_t byteLength)
{
    const int result = pointAtDevice(false) ? m_link.ReadInputRegisters(m_current().address(),
                                                                        bytePosition, byteLength)
                                            : kLinkBusy;
    return finish(AccessKind::ReadData, result, bytePosition, byteLength);
}

int DeviceAccess::WriteSettings(std::uint16_t bytePosition, std::uint16_t byteLength)
{
    const int result = pointAtDevice(false) ? m_link.WriteHoldingRegisters(m_current().address(),
                                                                           bytePosition, byteLength)
                                            : kLinkBusy;
    return finish(AccessKind::WriteSettings, result, bytePosition, byteLength);
}
