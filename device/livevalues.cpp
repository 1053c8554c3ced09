#include "device/livevalues.h"

#include "device/imagefields.h"
#include "link/modbuslink.h"

namespace livevalues {

int read(ModbusLink &link, std::uint8_t address, std::array<double, 4> &values)
{
    const int result = link.ReadInputRegisters(address, 0, kBytes);
    if (result != 0)
        return result;
    for (int c = 0; c < 4; ++c)
        values[c] = double(field::f32(link.images().input, std::size_t(4 * c)));
    return 0;
}

} // namespace livevalues
