#pragma once

#include <cstdint>
#include <optional>

// Values tied to a measurement input (setpoints, thresholds, archived values, the filter time)
// are stored as whole numbers: the value times 10 to the power of the input's point position.
namespace pointpos {

constexpr int kMaxPosition = 3; // "0.000"

// 1, 10, 100 or 1000; positions outside 0..3 count by their low two bits, as the device does.
int scale(int position);

// value × factor with the fraction cut toward zero. The product of a decimal fraction and its
// scale lands a hair below the whole number it means (0.29 × 100 = 28.999…), so the cut allows
// for a billionth of the factor before it truncates. Nothing for a value that is not finite.
std::optional<std::int64_t> cut(double value, double factor);

// The stored number of a value at a point position, or nothing when it does not fit the
// field's width: a value that would wrap is refused rather than stored as another number.
std::optional<std::int16_t> toI16(double value, int position);
std::optional<std::uint16_t> toU16(double value, int position);
std::optional<std::int32_t> toI32(double value, int position);

double fromStored(std::int64_t stored, int position);

} // namespace pointpos
