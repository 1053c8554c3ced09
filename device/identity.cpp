#include "device/identity.h"

#include "device/clocktext.h"
#include "link/linespeeds.h"

#include <algorithm>

#include <array>

namespace identity {

QString typeText(std::uint8_t type)
{
    switch (type) {
    case 2:
        return QStringLiteral("Дулан");
    case 3:
        return QStringLiteral("Лорван");
    default:
        return QStringLiteral("Неизвестный");
    }
}

QString speedText(std::uint8_t code)
{
    if (const LineSpeed *s = lineSpeedForCode(code))
        return QString::fromLatin1(s->text);
    return QStringLiteral("Неизвестна");
}

} // namespace identity

QString IdentityTexts::description() const
{
    return type + QLatin1Char('/') + address + QLatin1Char('/') + speed;
}

IdentityTexts describeIdentity(std::span<const std::uint8_t> block)
{
    std::array<std::uint8_t, identity::kBytes> b{};
    for (std::size_t i = 0; i < b.size() && i < block.size(); ++i)
        b[i] = block[i];

    using namespace identity;
    IdentityTexts t;
    t.type = typeText(b[kType]);
    t.address = QString::asprintf("%.3d", int(b[kAddress]));
    t.speed = speedText(b[kSpeedCode]);
    t.version = QString::asprintf(" %.1d.%.2d", b[kFirmware] / 100, b[kFirmware] % 100);
    t.releaseDate = QString::asprintf(" %.2X:%.2X ", b[kRelease], b[kRelease + 1]);
    t.serial = QString::asprintf(" %.4X ", serialNumber(b[kSerial], b[kSerial + 1]));
    const std::uint8_t v = b[kVariant];
    auto bit = [v](int n) { return ((v >> n) & 1) + 1; };
    t.variant = QString::asprintf(" %d%d%d%d %d%d%d", bit(7), ((v >> 5) & 3) + 1, bit(4), bit(3),
                                  bit(2), bit(1), bit(0));
    t.clockDate = clockDateText(b[kClockDate], b[kClockDate + 1], b[kClockDate + 2]);
    t.clockTime = clockTimeText(b[kClockTime], b[kClockTime + 1], b[kClockTime + 2]);
    return t;
}

IdentityBlock IdentityBlock::decode(std::span<const std::uint8_t, identity::kBytes> bytes)
{
    IdentityBlock block;
    std::copy(bytes.begin(), bytes.end(), block.m_bytes.begin());
    return block;
}

void IdentityBlock::encode(std::span<std::uint8_t, identity::kBytes> bytes) const
{
    std::copy(m_bytes.begin(), m_bytes.end(), bytes.begin());
}

IdentityBlock::Clock IdentityBlock::clockDate() const
{
    return {m_bytes[identity::kClockDate], m_bytes[identity::kClockDate + 1],
            m_bytes[identity::kClockDate + 2]};
}

IdentityBlock::Clock IdentityBlock::clockTime() const
{
    return {m_bytes[identity::kClockTime], m_bytes[identity::kClockTime + 1],
            m_bytes[identity::kClockTime + 2]};
}

void IdentityBlock::setClockDate(const Clock &date)
{
    std::copy(date.begin(), date.end(), m_bytes.begin() + identity::kClockDate);
}

void IdentityBlock::setClockTime(const Clock &time)
{
    std::copy(time.begin(), time.end(), m_bytes.begin() + identity::kClockTime);
}
