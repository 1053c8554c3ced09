// The network file reader: a file it accepts is saved back to bytes it reads the same way.
#include "device/networkfile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<SavedNetwork> network = networkfile::decode(bytes);
    if (network && networkfile::decode(networkfile::encode(*network)) != network)
        std::abort();
    return 0;
}
