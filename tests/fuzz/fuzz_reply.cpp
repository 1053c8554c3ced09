// The configurator's reply check and the data taken from a good reply: any text the line brings.
#include "link/frame.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte is how many data bytes the transaction expects.
    const int byteCount = data[0];
    const QByteArray reply(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (const bool completed : {true, false}) {
        const int result = CheckReply(reply, completed);
        if (!completed && result != kNoReply)
            std::abort();
    }
    std::vector<std::uint8_t> out(byteCount, 0xA5);
    if (!ReplyData(reply, byteCount, out.data())) {
        for (std::uint8_t b : out)
            if (b != 0xA5)
                std::abort(); // refused, yet written
    }
    return 0;
}
