// The program file loader, then the repair every loaded program goes through.
#include "device/programblock.h"

#include <array>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    std::array<std::uint8_t, programs::kAllBytes> blocks;
    blocks.fill(0x5A);
    const programfile::Outcome outcome = programfile::parse(file, blocks);
    if (outcome != programfile::Outcome::Good) {
        for (std::uint8_t b : blocks)
            if (b != 0x5A)
                std::abort(); // refused, yet copied
        return 0;
    }
    for (int k = 0; k < programs::kPrograms; ++k) {
        auto bytes = std::span<const std::uint8_t, ProgramBlock::kBytes>(
            blocks.data() + k * ProgramBlock::kBytes, ProgramBlock::kBytes);
        ProgramBlock block = ProgramBlock::decode(bytes);
        programs::repair(block);
        (void)programs::discontinuities(block);
    }
    return 0;
}
