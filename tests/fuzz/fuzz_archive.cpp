// The archive record decoder and the ring walk, on any memory the device could return.
#include "device/archive.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::uint8_t selected = data[0];
    std::uint16_t writePosition;
    std::memcpy(&writePosition, data + 1, 2);
    std::vector<std::uint16_t> words((size - 3) / 2);
    if (!words.empty())
        std::memcpy(words.data(), data + 3, words.size() * 2);

    const archive::Record record = archive::Record::decode(words);
    (void)record.valid(data[1]);
    (void)record.texts(selected, {data[1] & 7, data[2] & 7, 0, 3});
    (void)archive::parameterHeaders(selected);
    (void)archive::sortKey(record.dateText());
    if (std::optional<archive::Walk> walk = archive::Walk::start(writePosition, selected)) {
        for (int i = 0; i < 4 && walk->current(); ++i)
            walk->advance();
    }
    return 0;
}
