#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The settings block of one measurement input X1…X4 (9 holding registers) and the channel's
// description text.
struct ChannelBlock
{
    // Codes as the device keeps them; encode masks each to its bits, so that a list without a
    // selection (−1) gives type 7, characteristic 15 and scheme 3.
    bool on = false;
    int sensorType = 0;     // bits 4–6 of byte 0
    int characteristic = 0; // bits 0–3 of byte 0
    bool squareRoot = false;
    int pointPosition = 0;  // bits 0–1 of byte 1
    bool percent = false;   // unit: "%" when set, "°C" when clear
    int scheme = 0;         // bits 0–1 of byte 2
    std::uint8_t byte3 = 0; // not edited, carried as read
    float rangeStart = 0;
    float rangeEnd = 0;
    float correction = 0;
    std::uint16_t filterTenths = 0; // filter time in tenths of a second

    static constexpr std::size_t kBytes = 18;

    static ChannelBlock decode(std::span<const std::uint8_t, kBytes> bytes);
    // The point position alone, from the block's first register (what other windows scale by).
    static int pointPositionOf(std::span<const std::uint8_t, 2> firstRegister)
    {
        return firstRegister[1] & 0x03;
    }
    // Bits 2–6 of bytes 1 and 2 are written as 0.
    void encode(std::span<std::uint8_t, kBytes> bytes) const;

    friend bool operator==(const ChannelBlock &, const ChannelBlock &) = default;
};

namespace channel {

constexpr int kChannels = 4;
constexpr int kDescriptionBytes = 16;
constexpr int kDescriptionChars = 15; // the last byte stays zero

// The filter time as stored: the value in seconds times 10, cut toward zero; nothing when it
// does not fit the 16-bit field.
std::optional<std::uint16_t> filterTenths(double seconds);

// A channel's description block: Windows-1251 bytes, at most 15, then zeros. Characters the
// code page lacks become '?'; a text that encodes to more than 15 bytes is cut there.
void setDescription(std::span<std::uint8_t, kDescriptionBytes> bytes, const QString &text);
// Up to the first zero byte, never past the 16 bytes.
QString description(std::span<const std::uint8_t, kDescriptionBytes> bytes);

// The measured value's two input registers.
float measuredValue(std::span<const std::uint8_t, 4> bytes);

// Sensor types, the items of the type lists (index = code).
enum SensorType { NoSensor = 0, Thermocouple = 1, UnifiedSignal = 2, ResistanceThermometer = 3 };
QStringList sensorTypeItems();
// The seven characteristics of a type 1..3; empty for any other.
QStringList characteristicItems(int sensorType);

// The type the editor shows for a code read from channel n: 0 and the codes the list does not
// hold (4–7) become a thermocouple, and a resistance thermometer anywhere but X1 becomes a
// unified signal (movedToUnified tells the caller to say so).
int shownSensorType(int code, int n, bool *movedToUnified = nullptr);

struct DefaultRange
{
    float start = 0;
    float end = 0;
    std::optional<int> pointPosition; // set only where the characteristic fixes it
};
// Nothing for a characteristic the type does not have.
std::optional<DefaultRange> defaultRange(int sensorType, int characteristic);

QStringList pointPositionItems(); // "0000." … "0.000"
// X1 offers an empty first item; the other inputs never take a resistance thermometer.
QStringList schemeItems(int n);
// The scheme code written for a selected scheme list index: 0 becomes 1, −1 stays −1 (code 3
// once masked).
int schemeCode(int index);

} // namespace channel
