#pragma once

#include <array>
#include <cstdint>

class ModbusLink;

// The measured values of a device: input registers 0..7, four 32-bit floats. The configurator's
// poll and the logging service read them this one way, so that their rows agree.
namespace livevalues {

constexpr std::uint16_t kBytes = 16;

// One function-4 read; on success (0) values holds the four channels, otherwise the link's result
// code is returned and values is left as it was.
int read(ModbusLink &link, std::uint8_t address, std::array<double, 4> &values);

} // namespace livevalues
