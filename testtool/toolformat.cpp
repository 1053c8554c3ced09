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
    ToolIdentityTexts t;
    const int version = r[0] >> 8;
    switch (r[0] & 0xFF) {
    case 2:
        t.type = QStringLiteral(" Дулан");
        break;
    case 3:
        t.type = QStringLiteral(" Лорван");
        break;
    default:
        t.type = QStringLiteral(" Неизвестный");
        break;
    }
    t.version = QStringLiteral(" %1.%2").arg(version / 100).arg(twoDigits(version % 100));
    t.release = QStringLiteral(" %1:%2").arg(twoDigits(r[1] >> 8), twoDigits(r[1] & 0xFF));
    // Register 2 carries identity bytes 4 and 5, high byte first.
    t.serial = QStringLiteral(" %1")
                   .arg(identity::serialNumber(r[2] >> 8, r[2] & 0xFF), 4, 16, QLatin1Char('0'))
                   .toUpper();
    t.address = r[3] >> 8;
    t.date = QStringLiteral(" %1.%2.%3")
                 .arg(twoDigits(r[6] >> 8), twoDigits(r[6] & 0xFF), twoDigits(r[7] >> 8));
    t.time = QStringLiteral(" %1:%2:%3")
                 .arg(twoDigits(r[7] & 0xFF), twoDigits(r[8] >> 8), twoDigits(r[8] & 0xFF));
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
