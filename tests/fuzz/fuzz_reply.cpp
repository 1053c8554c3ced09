// The configurator's reply check, the matching of a reply to its request and the data taken from
// the matched frame: any text the line brings.
#include "link/frame.h"

#include <array>
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

    // Matching a read of address 1, and whatever request the same bytes make: a match is one
    // whole frame of the text, judged alike by the codec alone, with a read's data all in it.
    const ReplyExpectation read{1, 3, byteCount};
    for (const ReplyExpectation &e : {read, ExpectedReply(data + 1, int(size - 1))}) {
        const ReplyMatch m = MatchReply(reply, e);
        const QByteArray frame = reply.mid(m.start, m.length);
        std::array<std::uint8_t, 256> taken{}; // a matched byte count is one byte
        if (m.complete &&
            (!frame.startsWith(':') || frame.indexOf("\r\n") != m.length - 2 ||
             CheckReply(frame, true) != m.result ||
             (!m.exception && e.dataBytes >= 0 && !ReplyData(frame, e.dataBytes, taken.data()))))
            std::abort();
    }
    return 0;
}
