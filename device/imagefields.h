#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

// The one place that reads and writes fields inside a register image. The image is the device's
// own memory, so wider fields are least significant byte first whatever the PC's byte order.
// A field reaching past the image's end is a programming error and throws std::out_of_range.
namespace field {

std::uint8_t u8(std::span<const std::uint8_t> image, std::size_t pos);
std::int8_t i8(std::span<const std::uint8_t> image, std::size_t pos);
std::uint16_t u16(std::span<const std::uint8_t> image, std::size_t pos);
std::int16_t i16(std::span<const std::uint8_t> image, std::size_t pos);
std::uint32_t u32(std::span<const std::uint8_t> image, std::size_t pos);
std::int32_t i32(std::span<const std::uint8_t> image, std::size_t pos);
float f32(std::span<const std::uint8_t> image, std::size_t pos);

void setI8(std::span<std::uint8_t> image, std::size_t pos, std::int8_t value);
void setU16(std::span<std::uint8_t> image, std::size_t pos, std::uint16_t value);
void setI16(std::span<std::uint8_t> image, std::size_t pos, std::int16_t value);
void setU32(std::span<std::uint8_t> image, std::size_t pos, std::uint32_t value);
void setI32(std::span<std::uint8_t> image, std::size_t pos, std::int32_t value);
void setF32(std::span<std::uint8_t> image, std::size_t pos, float value);

// The N bytes of a block at pos in an image (an array or a span, const or not), for a codec that
// reads and writes only its own block.
template <std::size_t N, typename Image> auto block(Image &&image, std::size_t pos)
{
    std::span whole(image);
    if (pos > whole.size() || whole.size() - pos < N)
        throw std::out_of_range("image block beyond the image");
    return whole.subspan(pos).template first<N>();
}

} // namespace field
