#pragma once

#include <array>
#include <cstdint>

// The in-memory images of one device's register space that transactions move data into and out
// of. Register n is bytes 2n (first on the wire) and 2n + 1; one byte per flag.
struct RegisterImages
{
    static constexpr int kHoldingBytes = 3360; // holding registers 0..1679
    static constexpr int kInputBytes = 104;    // input registers 0..51
    static constexpr int kDiscreteCount = 24;  // discrete inputs 0..23
    static constexpr int kCoilCount = 16;      // coils 0..15

    std::array<std::uint8_t, kHoldingBytes> holding{};
    std::array<std::uint8_t, kInputBytes> input{};
    std::array<std::uint8_t, kDiscreteCount> discrete{};
    std::array<std::uint8_t, kCoilCount> coils{};
};
