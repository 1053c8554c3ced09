#include "device/alarmblock.h"

#include "device/imagefields.h"
#include "device/pointposition.h"

namespace {

constexpr int kOnBit = 0x80;
constexpr int kAboveBit = 0x01;
constexpr int kThreshold = 2;
constexpr int kHysteresis = 4;

} // namespace

AlarmBlock AlarmBlock::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    AlarmBlock block;
    for (int k = 0; k < kComparators; ++k) {
        const auto b = bytes.subspan(k * Comparator::kBytes, Comparator::kBytes);
        Comparator &c = block.comparators[k];
        c.on = b[0] & kOnBit;
        c.input = (b[0] >> 5) & 0x03;
        c.output = (b[0] >> 3) & 0x03;
        c.above = b[0] & kAboveBit;
        c.byte1 = b[1];
        c.threshold = field::i16(b, kThreshold);
        c.hysteresis = field::u16(b, kHysteresis);
    }
    return block;
}

void AlarmBlock::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    for (int k = 0; k < kComparators; ++k) {
        const auto b = bytes.subspan(k * Comparator::kBytes, Comparator::kBytes);
        const Comparator &c = comparators[k];
        b[0] = std::uint8_t((c.on ? kOnBit : 0) | ((c.input & 0x03) << 5) |
                            ((c.output & 0x03) << 3) | (c.above ? kAboveBit : 0));
        b[1] = c.byte1;
        field::setI16(b, kThreshold, c.threshold);
        field::setU16(b, kHysteresis, c.hysteresis);
    }
}

namespace alarms {

double threshold(const Comparator &c, int pointPosition)
{
    return pointpos::fromStored(c.threshold, pointPosition);
}

double hysteresis(const Comparator &c, int pointPosition)
{
    return pointpos::fromStored(c.hysteresis, pointPosition);
}

std::optional<std::int16_t> storedThreshold(double value, int pointPosition)
{
    return pointpos::toI16(value, pointPosition);
}

std::optional<std::uint16_t> storedHysteresis(double value, int pointPosition)
{
    return pointpos::toU16(value, pointPosition);
}

QStringList inputItems()
{
    return {QStringLiteral("X1"), QStringLiteral("X2"), QStringLiteral("X3"), QStringLiteral("X4")};
}

QStringList outputItems()
{
    return {QStringLiteral("нет"), QStringLiteral("Y3"), QStringLiteral("Y4"),
            QStringLiteral("Y5")};
}

QStringList functionItems()
{
    return {QStringLiteral("меньше"), QStringLiteral("больше")};
}

QStringList outputY2Items()
{
    return {QStringLiteral("нет параметра"), QStringLiteral("значение X1"),
            QStringLiteral("значение X2"),   QStringLiteral("значение X3"),
            QStringLiteral("значение X4"),   QStringLiteral("значение DX1"),
            QStringLiteral("значение DX2")};
}

} // namespace alarms
