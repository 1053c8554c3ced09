#include "device/commonblock.h"

#include "device/imagefields.h"
#include "device/registermap.h"
#include "link/frame.h"

#include <algorithm>

namespace {

constexpr int kThermoBit = 0x01;
constexpr int kOverlaidBit = 0x40;
constexpr int kOneChannelBit = 0x80;
constexpr int kSecondLoopBit = 0x10;
constexpr int kAlarmOffBit = 0x80;
constexpr int kAlarmSoundBit = 0x40;

int buttonByte(int n)
{
    return regmap::kCommonLoopFunctions + (n - 1);
}

} // namespace

CommonBlock CommonBlock::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    CommonBlock block;
    std::copy(bytes.begin(), bytes.end(), block.m_bytes.begin());
    return block;
}

void CommonBlock::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    std::copy_n(m_bytes.begin(), regmap::kCommonDataBytes, bytes.begin());
}

std::int8_t CommonBlock::timeCorrection() const
{
    return field::i8(m_bytes, regmap::kCommonTimeCorrection);
}

void CommonBlock::setTimeCorrection(std::int8_t value)
{
    field::setI8(m_bytes, regmap::kCommonTimeCorrection, value);
}

bool CommonBlock::thermoCompensation() const
{
    return m_bytes[regmap::kCommonConfigFlags] & kThermoBit;
}

bool CommonBlock::overlaidControl() const
{
    return m_bytes[regmap::kCommonConfigFlags] & kOverlaidBit;
}

bool CommonBlock::oneChannelOnly() const
{
    return m_bytes[regmap::kCommonConfigFlags] & kOneChannelBit;
}

void CommonBlock::setConfigFlags(bool thermoCompensation, bool overlaidControl, bool oneChannelOnly)
{
    m_bytes[regmap::kCommonConfigFlags] =
        std::uint8_t((thermoCompensation ? kThermoBit : 0) | (overlaidControl ? kOverlaidBit : 0) |
                     (oneChannelOnly ? kOneChannelBit : 0));
}

std::uint16_t CommonBlock::registrationCycle() const
{
    return field::u16(m_bytes, regmap::kCommonRegistrationCycle);
}

void CommonBlock::setRegistrationCycle(std::uint16_t value)
{
    field::setU16(m_bytes, regmap::kCommonRegistrationCycle, value);
}

int CommonBlock::buttonFunction(int n) const
{
    return m_bytes[buttonByte(n)] & 0x0F;
}

bool CommonBlock::buttonOnSecondLoop(int n) const
{
    return m_bytes[buttonByte(n)] & kSecondLoopBit;
}

void CommonBlock::setButton(int n, int function, bool secondLoop)
{
    m_bytes[buttonByte(n)] = std::uint8_t((function & 0x0F) | (secondLoop ? kSecondLoopBit : 0));
}

bool CommonBlock::alarmOffAfterTenSeconds() const
{
    return m_bytes[regmap::kCommonAlarmSettingA] & kAlarmOffBit;
}

bool CommonBlock::alarmSound() const
{
    return m_bytes[regmap::kCommonAlarmSettingA] & kAlarmSoundBit;
}

bool CommonBlock::initialOutput(int y) const
{
    return m_bytes[regmap::kCommonAlarmSettingA] & (1 << (y - 2));
}

void CommonBlock::setAlarmSettings(bool offAfterTenSeconds, bool sound, bool y3, bool y4, bool y5)
{
    m_bytes[regmap::kCommonAlarmSettingA] =
        std::uint8_t((offAfterTenSeconds ? kAlarmOffBit : 0) | (sound ? kAlarmSoundBit : 0) |
                     (y3 ? 0x02 : 0) | (y4 ? 0x04 : 0) | (y5 ? 0x08 : 0));
}

int CommonBlock::outputY2Parameter() const
{
    return m_bytes[regmap::kCommonAlarmSettingB] & 0x0F;
}

void CommonBlock::setOutputY2Parameter(int code)
{
    m_bytes[regmap::kCommonAlarmSettingB] = std::uint8_t(code & 0x0F);
}

std::uint16_t CommonBlock::checkValue() const
{
    return field::u16(m_bytes, regmap::kCommonCheckValue);
}

bool CommonBlock::checkValueMatches() const
{
    return Crc16(m_bytes.data(), regmap::kCommonDataBytes) == checkValue();
}

void SealCommonBlock(RegisterImages &images)
{
    auto &h = images.holding;
    const std::uint16_t crc = Crc16(h.data() + regmap::kCommonBlock, regmap::kCommonDataBytes);
    field::setU16(h, regmap::kCommonBlock + regmap::kCommonCheckValue, crc);
    std::copy_n(h.begin() + regmap::kCommonBlock, regmap::kCommonBlockBytes,
                h.begin() + regmap::kCommonShadow);
}

CommonBlockWrite UpdateCommonBlock(RegisterImages &images, const SettingsWriter &writeSettings)
{
    SealCommonBlock(images);
    CommonBlockWrite result;
    result.shadowResult = writeSettings(regmap::kCommonShadow, regmap::kCommonBlockBytes);
    result.blockResult = writeSettings(regmap::kCommonBlock, regmap::kCommonBlockBytes);
    return result;
}
