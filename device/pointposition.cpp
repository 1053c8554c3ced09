#include "device/pointposition.h"

#include <cmath>
#include <limits>

namespace pointpos {

int scale(int position)
{
    static constexpr int kScales[] = {1, 10, 100, 1000};
    return kScales[position & 3];
}

std::optional<std::int64_t> cut(double value, double factor)
{
    const double product = value * factor;
    if (!std::isfinite(product) || std::fabs(product) > 9.0e15)
        return std::nullopt;
    const double allowance = 1e-9 * std::fabs(factor);
    return std::int64_t(std::trunc(product + (product < 0 ? -allowance : allowance)));
}

namespace {

template <typename T> std::optional<T> fitted(double value, int position)
{
    const auto n = cut(value, scale(position));
    if (!n || *n < std::numeric_limits<T>::min() || *n > std::numeric_limits<T>::max())
        return std::nullopt;
    return T(*n);
}

} // namespace

std::optional<std::int16_t> toI16(double value, int position)
{
    return fitted<std::int16_t>(value, position);
}

std::optional<std::uint16_t> toU16(double value, int position)
{
    return fitted<std::uint16_t>(value, position);
}

std::optional<std::int32_t> toI32(double value, int position)
{
    return fitted<std::int32_t>(value, position);
}

double fromStored(std::int64_t stored, int position)
{
    return double(stored) / scale(position);
}

} // namespace pointpos
