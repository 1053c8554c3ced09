#include "testtool/hexgridcore.h"

#include "platform/cp1251.h"

#include <algorithm>

namespace {

std::uint8_t fillerFor(std::int64_t index, std::uint16_t defaultData)
{
    return index % 2 == 0 ? std::uint8_t(defaultData >> 8) : std::uint8_t(defaultData);
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// Control codes have no glyph of their own; a dot keeps the cell readable. The code page's
// unassigned 0x98 reads as a control code too.
QString charText(std::uint8_t byte)
{
    if (byte < 0x20 || byte == 0x7F || byte == 0x98)
        return QStringLiteral(".");
    const char c = char(byte);
    return cp1251::decode(&c, 1);
}

} // namespace

std::uint8_t HexStore::byteAt(std::int64_t index) const
{
    if (index < 0 || index >= count())
        return std::uint8_t(m_defaultData);
    return m_block->bytes[std::size_t(index)];
}

void HexStore::setByte(std::int64_t index, std::uint8_t value)
{
    if (index >= 0 && index < count())
        m_block->bytes[std::size_t(index)] = value;
}

void HexStore::changeSize(std::int64_t position, std::int64_t delta)
{
    const std::int64_t current = count();
    if (position < 0 || position > current)
        throw EInvalidGridOperation("Index Out Of Range");
    // Checked against what the store holds before anything is added: a caller's delta may be
    // near the type's limits, where the sum would overflow. Removing more bytes than follow
    // the position would reach past the store.
    if (delta < 0 && delta < position - current)
        throw EInvalidGridOperation("Too Many Deleted");
    if (delta > 0 && delta >= kTooLarge - current)
        throw EInvalidGridOperation("Grid Too Large");
    const std::int64_t newCount = current + delta;
    if (!m_block)
        m_block = std::make_shared<ByteBlock>();
    auto &bytes = m_block->bytes;
    // Bytes past the count are not part of the store; drop them so the shifts below are plain.
    bytes.resize(std::size_t(current));
    if (delta > 0) {
        bytes.insert(bytes.begin() + position, std::size_t(delta), 0);
        for (std::int64_t i = position; i < position + delta; ++i)
            bytes[std::size_t(i)] = fillerFor(i, m_defaultData);
    } else if (delta < 0) {
        bytes.erase(bytes.begin() + position, bytes.begin() + (position - delta));
    }
    m_block->count = std::int32_t(newCount);
}

void HexStore::adopt(std::shared_ptr<ByteBlock> block)
{
    m_block = std::move(block);
    if (m_block) {
        // A count beyond the block's bytes, or below zero, is not believed.
        m_block->count =
            std::int32_t(std::clamp<std::int64_t>(m_block->count, 0, m_block->bytes.size()));
    }
}

int HexLayout::units() const
{
    const int bytes = dataCount > 0 ? dataCount : 1;
    return dataSize == DataSize::dsByte ? bytes : (bytes + 1) / 2;
}

int HexLayout::rowCount() const
{
    const int columns = dataColumns();
    return (units() + columns - 1) / columns + 1;
}

std::int64_t HexLayout::byteIndex(int column, int row) const
{
    const std::int64_t unit = std::int64_t(row - 1) * dataColumns() + (column - 1);
    return dataSize == DataSize::dsByte ? unit : 2 * unit;
}

std::uint32_t HexLayout::rowAddress(int row, std::uint32_t begAddr) const
{
    return std::uint32_t(dataColumns()) * std::uint32_t(row - 1) + begAddr;
}

QString addressText(std::uint32_t address)
{
    return QStringLiteral("%1").arg(address, 6, 16, QLatin1Char('0')).toUpper();
}

QString headerText(int column)
{
    return QStringLiteral("%1").arg(column - 1, 2, 16, QLatin1Char('0')).toUpper();
}

std::uint16_t cellValue(const HexStore &store, std::int64_t index, DataSize size)
{
    if (size == DataSize::dsByte)
        return store.byteAt(index);
    return std::uint16_t(store.byteAt(index) * 256 + store.byteAt(index + 1));
}

QString formatCell(std::uint16_t value, ViewMode mode, DataSize size)
{
    const bool word = size == DataSize::dsWord;
    if (!word)
        value &= 0xFF;
    switch (mode) {
    case ViewMode::vmHEX:
        return QStringLiteral("%1").arg(value, word ? 4 : 2, 16, QLatin1Char('0')).toUpper();
    case ViewMode::vmBIN:
        return QStringLiteral("%1").arg(value, word ? 16 : 8, 2, QLatin1Char('0'));
    case ViewMode::vmDEC:
        return QStringLiteral("%1").arg(value, word ? 5 : 3, 10, QLatin1Char('0'));
    case ViewMode::vmASCII:
        // A word shows its low byte (the later one in the store) first.
        if (word)
            return charText(std::uint8_t(value)) + charText(std::uint8_t(value >> 8));
        return charText(std::uint8_t(value));
    }
    return {};
}

std::optional<std::uint16_t> parseCell(const QString &input, ViewMode mode, DataSize size)
{
    const bool word = size == DataSize::dsWord;
    const std::uint32_t limit = word ? 0xFFFF : 0xFF;
    if (mode == ViewMode::vmASCII) {
        const QByteArray bytes = cp1251::encode(input);
        // A character the code page cannot carry comes back as '?', not as itself.
        if (bytes.size() != (word ? 2 : 1) || cp1251::decode(bytes) != input)
            return std::nullopt;
        if (!word)
            return std::uint8_t(bytes[0]);
        return std::uint16_t(std::uint8_t(bytes[1]) * 256 + std::uint8_t(bytes[0]));
    }
    const QString text = input.trimmed();
    const int maxDigits = mode == ViewMode::vmHEX   ? (word ? 4 : 2)
                          : mode == ViewMode::vmBIN ? (word ? 16 : 8)
                                                    : 5;
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    const int base = mode == ViewMode::vmHEX ? 16 : mode == ViewMode::vmBIN ? 2 : 10;
    std::uint32_t value = 0;
    for (QChar c : text) {
        const int digit = hexValue(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + std::uint32_t(digit);
    }
    if (value > limit)
        return std::nullopt;
    return std::uint16_t(value);
}

bool fillReceiveBuffer(const QByteArray &replyText, ByteBlock &buffer)
{
    const qsizetype end = replyText.indexOf("\r\n");
    if (replyText.size() <= 7 || !replyText.startsWith(':') || end < 0)
        return false;
    const qsizetype pairs = (end - 1) / 2;
    const std::size_t size = buffer.bytes.size();
    std::size_t i = 0;
    for (; i < size && qsizetype(i) < pairs; ++i) {
        const int high = hexValue(QLatin1Char(replyText[1 + 2 * i]));
        const int low = hexValue(QLatin1Char(replyText[2 + 2 * i]));
        buffer.bytes[i] = (high < 0 || low < 0) ? 0 : std::uint8_t(high * 16 + low);
    }
    std::fill(buffer.bytes.begin() + i, buffer.bytes.end(), 0xFF);
    buffer.count = std::int32_t(size);
    return true;
}
