// The simulator's request framing: characters in any split, frames out.
#include "devsim/asciiframing.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray chars(reinterpret_cast<const char *>(data), qsizetype(size));
    devsim::FrameAssembler whole;
    devsim::FrameAssembler split;
    const QList<devsim::ReceivedFrame> once = whole.feed(chars);
    QList<devsim::ReceivedFrame> pieces;
    // The same characters fed a few at a time close the same frames.
    const qsizetype step = size ? 1 + data[0] % 7 : 1;
    for (qsizetype i = 0; i < chars.size(); i += step)
        pieces += split.feed(chars.mid(i, step));
    if (once.size() != pieces.size())
        std::abort();
    for (qsizetype i = 0; i < once.size(); ++i) {
        if (once[i].bytes != pieces[i].bytes || once[i].valid != pieces[i].valid)
            std::abort();
        if (once[i].valid && devsim::encodeFrame(once[i].bytes).toUpper() != once[i].text.toUpper())
            std::abort();
    }
    return 0;
}
