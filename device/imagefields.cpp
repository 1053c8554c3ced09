#include "device/imagefields.h"

#include <bit>
#include <stdexcept>

namespace field {
namespace {

void check(std::size_t size, std::size_t pos, std::size_t width)
{
    if (pos > size || width > size - pos)
        throw std::out_of_range("image field beyond the image");
}

std::uint32_t load(std::span<const std::uint8_t> image, std::size_t pos, std::size_t width)
{
    check(image.size(), pos, width);
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= std::uint32_t(image[pos + i]) << (8 * i);
    return v;
}

void store(std::span<std::uint8_t> image, std::size_t pos, std::size_t width, std::uint32_t v)
{
    check(image.size(), pos, width);
    for (std::size_t i = 0; i < width; ++i)
        image[pos + i] = std::uint8_t(v >> (8 * i));
}

} // namespace

std::uint8_t u8(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::uint8_t(load(image, pos, 1));
}

std::int8_t i8(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::int8_t(load(image, pos, 1));
}

std::uint16_t u16(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::uint16_t(load(image, pos, 2));
}

std::int16_t i16(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::int16_t(load(image, pos, 2));
}

std::uint32_t u32(std::span<const std::uint8_t> image, std::size_t pos)
{
    return load(image, pos, 4);
}

std::int32_t i32(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::int32_t(load(image, pos, 4));
}

float f32(std::span<const std::uint8_t> image, std::size_t pos)
{
    return std::bit_cast<float>(load(image, pos, 4));
}

void setI8(std::span<std::uint8_t> image, std::size_t pos, std::int8_t value)
{
    store(image, pos, 1, std::uint8_t(value));
}

void setU16(std::span<std::uint8_t> image, std::size_t pos, std::uint16_t value)
{
    store(image, pos, 2, value);
}

void setI16(std::span<std::uint8_t> image, std::size_t pos, std::int16_t value)
{
    store(image, pos, 2, std::uint16_t(value));
}

void setU32(std::span<std::uint8_t> image, std::size_t pos, std::uint32_t value)
{
    store(image, pos, 4, value);
}

void setI32(std::span<std::uint8_t> image, std::size_t pos, std::int32_t value)
{
    store(image, pos, 4, std::uint32_t(value));
}

void setF32(std::span<std::uint8_t> image, std::size_t pos, float value)
{
    store(image, pos, 4, std::bit_cast<std::uint32_t>(value));
}

} // namespace field
