#include "device/channelblock.h"

#include "device/imagefields.h"
#include "device/pointposition.h"
#include "device/registermap.h"
#include "platform/cp1251.h"

#include <limits>

namespace {

constexpr int kRangeStart = 4;
constexpr int kRangeEnd = 8;
constexpr int kCorrection = 12;
constexpr int kFilter = 16;

} // namespace

ChannelBlock ChannelBlock::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    const std::uint8_t b0 = bytes[0];
    const std::uint8_t b1 = bytes[1];
    const std::uint8_t b2 = bytes[2];
    ChannelBlock c;
    c.on = b0 & 0x80;
    c.sensorType = (b0 >> 4) & 0x07;
    c.characteristic = b0 & 0x0F;
    c.squareRoot = b1 & 0x80;
    c.pointPosition = pointPositionOf(bytes.first<2>());
    c.percent = b2 & 0x80;
    c.scheme = b2 & 0x03;
    c.byte3 = bytes[3];
    c.rangeStart = field::f32(bytes, kRangeStart);
    c.rangeEnd = field::f32(bytes, kRangeEnd);
    c.correction = field::f32(bytes, kCorrection);
    c.filterTenths = field::u16(bytes, kFilter);
    return c;
}

void ChannelBlock::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    bytes[0] = std::uint8_t(((sensorType * 16) & 0x70) + (characteristic & 0x0F) + (on ? 0x80 : 0));
    bytes[1] = std::uint8_t((pointPosition & 0x03) + (squareRoot ? 0x80 : 0));
    bytes[2] = std::uint8_t((scheme & 0x03) + (percent ? 0x80 : 0));
    bytes[3] = byte3;
    field::setF32(bytes, kRangeStart, rangeStart);
    field::setF32(bytes, kRangeEnd, rangeEnd);
    field::setF32(bytes, kCorrection, correction);
    field::setU16(bytes, kFilter, filterTenths);
}

namespace channel {

std::optional<std::uint16_t> filterTenths(double seconds)
{
    return pointpos::toU16(seconds, 1);
}

void setDescription(std::span<std::uint8_t, kDescriptionBytes> bytes, const QString &text)
{
    const QByteArray encoded = cp1251::encode(text).left(kDescriptionChars);
    for (int i = 0; i < kDescriptionBytes; ++i)
        bytes[i] = i < encoded.size() ? std::uint8_t(encoded[i]) : 0;
}

QString description(std::span<const std::uint8_t, kDescriptionBytes> bytes)
{
    return cp1251::decodeField(bytes.data(), kDescriptionBytes);
}

float measuredValue(std::span<const std::uint8_t, 4> bytes)
{
    return field::f32(bytes, 0);
}

QStringList sensorTypeItems()
{
    return {QString(), QStringLiteral("Термопара"), QStringLiteral("Унифицир. сигнал"),
            QStringLiteral("Термометр сопротивления")};
}

QStringList characteristicItems(int sensorType)
{
    switch (sensorType) {
    case Thermocouple:
        return {QStringLiteral("тип-L"), QStringLiteral("тип-K"), QStringLiteral("тип-S"),
                QStringLiteral("тип-B"), QStringLiteral("тип-N"), QStringLiteral("тип-A-1"),
                QStringLiteral("тип-J")};
    case UnifiedSignal:
        return {QStringLiteral("0-5мА"),  QStringLiteral("4-20мА"),  QStringLiteral("0-20мВ"),
                QStringLiteral("0-50мВ"), QStringLiteral("0-100мВ"), QStringLiteral("+-100мВ"),
                QStringLiteral("0-1В")};
    case ResistanceThermometer:
        return {QStringLiteral("50П(1,391)"),  QStringLiteral("100П(1,391)"),
                QStringLiteral("100П(1,385)"), QStringLiteral("50M(1,428)"),
                QStringLiteral("100M(1,428)"), QStringLiteral("50M(1,426)"),
                QStringLiteral("100M(1,426)")};
    default:
        return {};
    }
}

int shownSensorType(int code, int n, bool *movedToUnified)
{
    if (movedToUnified)
        *movedToUnified = false;
    if (code < Thermocouple || code > ResistanceThermometer)
        return Thermocouple;
    if (code == ResistanceThermometer && n != 1) {
        if (movedToUnified)
            *movedToUnified = true;
        return UnifiedSignal;
    }
    return code;
}

std::optional<DefaultRange> defaultRange(int sensorType, int characteristic)
{
    if (characteristic < 0 || characteristic > 6)
        return std::nullopt;
    switch (sensorType) {
    case Thermocouple: {
        static const DefaultRange ranges[] = {{-100, 600, 1}, {-50, 1100, 0}, {100, 1500, 0},
                                              {500, 1600, 0}, {-50, 1100, 0}, {0, 2200, 0},
                                              {-100, 1000, 0}};
        return ranges[characteristic];
    }
    case UnifiedSignal: {
        static const DefaultRange ranges[] = {{0, 5, {}},  {4, 20, {}},  {0, 20, {}},
                                              {0, 50, {}}, {0, 100, {}}, {-100, 100, {}},
                                              {0, 1, {}}};
        return ranges[characteristic];
    }
    case ResistanceThermometer: {
        static const DefaultRange ranges[] = {{-50, 550, {}}, {-50, 550, {}}, {-100, 600, {}},
                                              {-50, 180, {}}, {-50, 180, {}}, {-50, 180, {}},
                                              {-50, 180, {}}};
        return ranges[characteristic];
    }
    default:
        return std::nullopt;
    }
}

QStringList pointPositionItems()
{
    return {QStringLiteral("0000."), QStringLiteral("000.0"), QStringLiteral("00.00"),
            QStringLiteral("0.000")};
}

QStringList schemeItems(int n)
{
    QStringList items{QStringLiteral("2 провода"), QStringLiteral("3 провода"),
                      QStringLiteral("4 провода")};
    if (n == 1)
        items.prepend(QString());
    return items;
}

int schemeCode(int index)
{
    return index == 0 ? 1 : index;
}

} // namespace channel
