#pragma once

#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// The eight limit comparators (24 holding registers, three per comparator). A comparator
// watches one input and trips above or below its threshold, with a hysteresis; both numbers
// are kept scaled by the watched input's point position.
struct Comparator
{
    bool on = false;        // bit 7 of byte 0
    int input = 0;          // bits 5–6: 0..3 = X1..X4
    int output = 0;         // bits 3–4: 0 none, 1..3 = Y3..Y5
    bool above = false;     // bit 0: trips above the threshold, else below
    std::uint8_t byte1 = 0; // not edited, carried as read
    std::int16_t threshold = 0;
    std::uint16_t hysteresis = 0;

    static constexpr std::size_t kBytes = 6;

    friend bool operator==(const Comparator &, const Comparator &) = default;
};

struct AlarmBlock
{
    static constexpr int kComparators = 8;
    static constexpr std::size_t kBytes = kComparators * Comparator::kBytes;

    std::array<Comparator, kComparators> comparators{};

    static AlarmBlock decode(std::span<const std::uint8_t, kBytes> bytes);
    // Codes are masked to their bits; bits 1–2 of byte 0 are written as 0.
    void encode(std::span<std::uint8_t, kBytes> bytes) const;

    friend bool operator==(const AlarmBlock &, const AlarmBlock &) = default;
};

namespace alarms {

// The shown threshold and hysteresis at the watched input's point position.
double threshold(const Comparator &c, int pointPosition);
double hysteresis(const Comparator &c, int pointPosition);
// The stored numbers of entered values, or nothing when the scaled value does not fit the field
// (a wrapped number would trip the comparator somewhere else entirely).
std::optional<std::int16_t> storedThreshold(double value, int pointPosition);
std::optional<std::uint16_t> storedHysteresis(double value, int pointPosition);

QStringList inputItems();    // "X1" … "X4"
QStringList outputItems();   // "нет", "Y3", "Y4", "Y5"
QStringList functionItems(); // "меньше", "больше"
QStringList outputY2Items(); // the parameter shown on output Y2, codes 0..6

} // namespace alarms
