#include "testtool/toolformat.h"

#include "device/identity.h"

#include <QStringList>

namespace {

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// "dd?mm?yy" with a given separator, digits only, after the leading blank.
std::optional<std::array<int, 3>> threeNumbers(const QString &text, QChar separator)
{
    const QStringList parts = text.trimmed().split(separator);
    if (parts.size() != 3)
        return std::nullopt;
    std::array<int, 3> numbers{};
    for (int i = 0; i < 3; ++i) {
        const QString &p = parts[i];
        if (p.isEmpty() || p.size() > 2)
            return std::nullopt;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        numbers[i] = p.toInt();
    }
    return numbers;
}

} // namespace

const std::array<ToolSpeed, 8> &toolSpeeds()
{
    static const std::array<ToolSpeed, 8> speeds{{
        {Baudrate::br1200, QStringLiteral("1200"), 90, 80},
        {Baudrate::br2400, QStringLiteral("2400"), 80, 70},
        {Baudrate::br4800, QStringLiteral("4800"), 70, 60},
        {Baudrate::br9600, QStringLiteral("9600"), 90, 70},
        {Baudrate::br19200, QStringLiteral("19200"), 50, 40},
        {Baudrate::br38400, QStringLiteral("38400"), 40, 30},
        {Baudrate::br57600, QStringLiteral("57600"), 30, 20},
        {Baudrate::br115200, QStringLiteral("115200"), 20, 10},
    }};
    return speeds;
}

std::optional<ToolSpeed> toolSpeedFor(Baudrate rate)
{
    for (const auto &s : toolSpeeds()) {
        if (s.rate == rate)
            return s;
    }
    return std::nullopt;
}

std::optional<ToolSpeed> toolSpeedForText(const QString &text)
{
    for (const auto &s : toolSpeeds()) {
        if (s.text == text)
            return s;
    }
    return std::nullopt;
}

ToolIdentityTexts describeRegisters(const std::uint16_t *r)
{
    // The registers carry the identity bytes high byte first, as the configurator's image
    // holds them; the texts are the configurator's with the tool's leading blank.
    std::array<std::uint8_t, identity::kBytes> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i % 2 == 0 ? r[i / 2] >> 8 : r[i / 2] & 0xFF);
    const IdentityTexts id = describeIdentity(bytes);
    const QString blank = QStringLiteral(" ");
    ToolIdentityTexts t;
    t.type = blank + id.type;
    t.version = id.version;
    // The tool reads the release as two decimal numbers.
    t.release = QStringLiteral(" %1:%2").arg(twoDigits(bytes[identity::kRelease]),
                                             twoDigits(bytes[identity::kRelease + 1]));
    t.serial = blank + id.serial.trimmed();
    t.address = bytes[identity::kAddress];
    t.date = blank + id.clockDate;
    t.time = blank + id.clockTime;
    return t;
}

std::uint8_t parseDeviceAddress(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return std::uint8_t(ok ? value : 1);
}

std::optional<QDate> parseClockDate(const QString &text)
{
    const auto n = threeNumbers(text, QLatin1Char('.'));
    if (!n)
        return std::nullopt;
    const QDate date(2000 + (*n)[2], (*n)[1], (*n)[0]);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QTime> parseClockTime(const QString &text)
{
    const auto n = threeNumbers(text, QLatin1Char(':'));
    if (!n)
        return std::nullopt;
    const QTime time((*n)[0], (*n)[1], (*n)[2]);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

QString clockDateText(const QDate &date)
{
    return QStringLiteral(" ") + date.toString(QStringLiteral("dd.MM.yy"));
}

QString clockTimeText(const QTime &time)
{
    return QStringLiteral(" ") + time.toString(QStringLiteral("HH:mm:ss"));
}

std::array<std::uint16_t, 3> clockRegisters(const QDate &date, const QTime &time)
{
    const int year = (date.year() % 1000) % 100;
    return {std::uint16_t(date.day() * 256 + date.month()), std::uint16_t(year * 256 + time.hour()),
            std::uint16_t(time.minute() * 256 + time.second())};
}

QString longTimeText(const QLocale &locale, const QTime &time)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(time, format.trimmed());
}
