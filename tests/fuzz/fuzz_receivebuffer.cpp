// The test tool's receive-buffer fill from whatever reply text the line brought.
#include "testtool/hexgridcore.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    ByteBlock buffer;
    buffer.bytes.assign(data[0], 0x33);
    buffer.count = 7;
    const QByteArray text(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const bool filled = fillReceiveBuffer(text, buffer);
    if (buffer.bytes.size() != data[0])
        std::abort();
    if (filled ? std::size_t(buffer.count) != buffer.bytes.size() : buffer.count != 7)
        std::abort();
    return 0;
}
