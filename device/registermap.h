#pragma once

#include <cstdint>

// Where each block of settings lies in the holding image (byte positions) and in the other
// images. Numbered blocks are 1-based, as the windows number them.
// A block of the holding image: byte position and length.
struct HoldingBlock
{
    std::uint16_t position = 0;
    std::uint16_t length = 0;
};

namespace regmap {

constexpr std::uint16_t kIdentity = 0x000; // registers 0..8
constexpr std::uint16_t kIdentityBytes = 18;

constexpr std::uint16_t kChannelBytes = 18; // 9 registers per input
constexpr std::uint16_t channel(int k)
{
    return std::uint16_t(0x66 + 18 * k);
}

constexpr std::uint16_t kLoopMainBytes = 34; // registers 110, 127
constexpr std::uint16_t loopMain(int k)
{
    return std::uint16_t(0xBA + 34 * k);
}

constexpr std::uint16_t kDisplaySelection = 0x1A4; // registers 210..214
constexpr std::uint16_t kDisplaySelectionBytes = 10;

constexpr std::uint16_t kLoopExtraBytes = 12; // registers 220, 226
constexpr std::uint16_t loopExtra(int k)
{
    return std::uint16_t(0x1AC + 12 * k);
}

constexpr std::uint16_t kAccessCodes = 0x20A; // three 32-bit floats, registers 261..266
constexpr std::uint16_t kAccessCodesBytes = 12;

constexpr std::uint16_t kNameBytes = 16;
constexpr std::uint16_t channelName(int k)
{
    return std::uint16_t(0x206 + 16 * k);
}
constexpr std::uint16_t loopName(int k)
{
    return std::uint16_t(0x262 + 16 * k);
}

constexpr std::uint16_t kLoopTuningBytes = 44; // registers 329, 351
constexpr std::uint16_t loopTuning(int k)
{
    return std::uint16_t(0x266 + 44 * k);
}

constexpr std::uint16_t kAlarms = 0x2EA; // registers 373..396
constexpr std::uint16_t kAlarmsBytes = 48;

constexpr std::uint16_t kCommonBlock = 0x936;  // registers 1179..1185
constexpr std::uint16_t kCommonShadow = 0x99A; // registers 1229..1235
constexpr std::uint16_t kCommonBlockBytes = 14;
constexpr std::uint16_t kCommonDataBytes = 12; // the check value covers these

// Fields of the common block, as offsets from its start.
constexpr std::uint16_t kCommonTimeCorrection = 0;
constexpr std::uint16_t kCommonConfigFlags = 1;
constexpr std::uint16_t kCommonAlarmSettingA = 3;
constexpr std::uint16_t kCommonRegistrationCycle = 4; // 16-bit
constexpr std::uint16_t kCommonArchiveSetting = 6;
constexpr std::uint16_t kCommonAlarmSettingB = 7;
constexpr std::uint16_t kCommonLoopFunctions = 8; // four bytes
constexpr std::uint16_t kCommonCheckValue = 12;   // 16-bit

constexpr std::uint16_t kProgramBytes = 200; // registers 1279, 1379, 1479, 1579
constexpr std::uint16_t program(int k)
{
    return std::uint16_t(0x936 + 200 * k);
}

// Input image.
constexpr std::uint16_t measuredValue(int k)
{
    return std::uint16_t(4 * (k - 1));
}
constexpr std::uint16_t kMeasuredValuesBytes = 16;
constexpr std::uint16_t kArchiveState = 0x64; // registers 50..51

// Flag images.
constexpr std::uint16_t kAlarmStates = 16; // discrete inputs 16..23
constexpr std::uint16_t kArchiveRecordingCoil = 1;
constexpr std::uint16_t kArchiveCoilCount = 5;
constexpr std::uint16_t manualModeCoil(int k)
{
    return std::uint16_t(3 + k);
}

} // namespace regmap
