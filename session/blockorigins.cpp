#include "session/blockorigins.h"

#include <algorithm>

namespace {

// Registers of a span that lie inside the image.
std::pair<int, int> clipped(RegisterSpan span)
{
    const int first = std::min<int>(span.start, BlockOrigins::kRegisters);
    const int end = std::min<int>(int(span.start) + span.count, BlockOrigins::kRegisters);
    return {first, end};
}

} // namespace

void BlockOrigins::deviceHolds(DeviceKey device, RegisterSpan span)
{
    const auto [first, end] = clipped(span);
    std::fill(m_registers.begin() + first, m_registers.begin() + end, device);
}

void BlockOrigins::forget(RegisterSpan span)
{
    deviceHolds(DeviceKey{}, span);
}

bool BlockOrigins::isFrom(DeviceKey device, std::uint16_t bytePosition,
                          std::uint16_t byteLength) const
{
    const RegisterSpan span = registerSpan(bytePosition, byteLength);
    const auto [first, end] = clipped(span);
    if (!device.isValid() || end - first != span.count)
        return false;
    return std::all_of(m_registers.begin() + first, m_registers.begin() + end,
                       [device](const DeviceKey &k) { return k == device; });
}

void BlockOrigins::windowRead(const QString &window, std::uint16_t bytePosition,
                              std::uint16_t byteLength, DeviceKey device)
{
    m_windows[window][{bytePosition, byteLength}] = device;
}

bool BlockOrigins::windowHasRead(const QString &window, std::uint16_t bytePosition,
                                 std::uint16_t byteLength, DeviceKey device) const
{
    const auto w = m_windows.constFind(window);
    if (w == m_windows.cend() || !device.isValid())
        return false;
    const auto block = w->find({bytePosition, byteLength});
    return block != w->end() && block->second == device;
}

void BlockOrigins::windowForget(const QString &window, std::uint16_t bytePosition,
                                std::uint16_t byteLength)
{
    const auto w = m_windows.find(window);
    if (w == m_windows.end())
        return;
    // Whichever device the controls showed before, they now hold a mix.
    w->erase({bytePosition, byteLength});
    const auto reads = m_readTimes.find(window);
    if (reads == m_readTimes.end())
        return;
    std::erase_if(*reads, [&blocks = *w](const auto &read) {
        return std::none_of(blocks.cbegin(), blocks.cend(), [&read](const auto &block) {
            return block.second == DeviceKey{read.first.first, read.first.second};
        });
    });
}

void BlockOrigins::windowReadDone(const QString &window, DeviceKey device, const QDateTime &at)
{
    m_readTimes[window][{device.port, device.address}] = at;
}

QDateTime BlockOrigins::windowReadTime(const QString &window, DeviceKey device) const
{
    const auto w = m_readTimes.constFind(window);
    if (w == m_readTimes.cend() || !device.isValid())
        return {};
    const auto read = w->find({device.port, device.address});
    return read == w->end() ? QDateTime() : read->second;
}

void BlockOrigins::rekey(DeviceKey from, DeviceKey to)
{
    std::replace(m_registers.begin(), m_registers.end(), from, to);
    for (auto &blocks : m_windows) {
        for (auto &block : blocks) {
            if (block.second == from)
                block.second = to;
        }
    }
    for (auto &reads : m_readTimes) {
        const auto read = reads.find({from.port, from.address});
        if (read == reads.end())
            continue;
        const QDateTime at = read->second;
        reads.erase(read);
        reads[{to.port, to.address}] = at;
    }
}

void BlockOrigins::clear()
{
    m_registers.fill(DeviceKey{});
    m_windows.clear();
    m_readTimes.clear();
}
