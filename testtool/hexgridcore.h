#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

// The pure parts of the hex grid: its byte store, the cell arithmetic and the notations. The
// widget only paints what these compute.

enum class ViewMode { vmHEX, vmBIN, vmDEC, vmASCII };
enum class DataSize { dsByte, dsWord };

// The grid's own failure: a store resize that cannot be done.
class EInvalidGridOperation : public std::runtime_error
{
public:
    explicit EInvalidGridOperation(const char *message) : std::runtime_error(message) {}
};

// A counted block of bytes: what the grid shows and what a caller may hand it. count is the
// number of bytes in use; bytes may hold more (a caller's buffer is larger than what it shows),
// never fewer.
struct ByteBlock
{
    std::int32_t count = 0;
    std::vector<std::uint8_t> bytes;
};

// The grid's store: grows with DefaultData's pattern, reads outside give DefaultData's low byte.
class HexStore
{
public:
    // A store this large or larger is refused before any memory is taken.
    static constexpr std::int64_t kTooLarge = 134217726;

    HexStore() = default;

    std::uint16_t defaultData() const { return m_defaultData; }
    void setDefaultData(std::uint16_t value) { m_defaultData = value; }

    int count() const { return m_block ? m_block->count : 0; }
    bool hasBlock() const { return m_block != nullptr; }
    std::uint8_t byteAt(std::int64_t index) const;
    void setByte(std::int64_t index, std::uint8_t value); // ignored outside the store

    // Adds (delta > 0) or removes (delta < 0) bytes at position; new bytes take the high byte of
    // DefaultData at even indexes and its low byte at odd ones.
    void changeSize(std::int64_t position, std::int64_t delta);
    // Grows or shrinks at the end.
    void resize(std::int64_t newCount)
    {
        changeSize(newCount < count() ? std::max<std::int64_t>(newCount, 0) : count(),
                   newCount - count());
    }

    // Shows a caller's block from now on, shared rather than copied: the caller and the grid both
    // keep it alive. The block's count is trusted only as far as its bytes reach.
    void adopt(std::shared_ptr<ByteBlock> block);
    const std::shared_ptr<ByteBlock> &block() const { return m_block; }

private:
    std::shared_ptr<ByteBlock> m_block;
    std::uint16_t m_defaultData = 0xFFFF;
};

// Cell arithmetic. Columns and rows count the fixed column and row as 0.
struct HexLayout
{
    int gridColCount = 4;
    int dataCount = 256;
    DataSize dataSize = DataSize::dsByte;

    int dataColumns() const { return gridColCount > 0 ? gridColCount : 1; }
    int units() const;
    int rowCount() const; // the data rows plus the header row
    std::int64_t byteIndex(int column, int row) const;
    std::uint32_t rowAddress(int row, std::uint32_t begAddr) const;
};

QString addressText(std::uint32_t address); // "%.6X"
QString headerText(int column);             // column number j - 1 as "%.2X"

// A cell's value: one byte, or two bytes with the first as the high byte.
std::uint16_t cellValue(const HexStore &store, std::int64_t index, DataSize size);
QString formatCell(std::uint16_t value, ViewMode mode, DataSize size);
// The reverse, for a typed cell text; nothing when the text is not a value of that notation.
std::optional<std::uint16_t> parseCell(const QString &text, ViewMode mode, DataSize size);

// Reads a reply text (":" hex pairs CR LF) into buffer bytes 0..: the whole frame as received,
// then 0xFF up to the end of the buffer; count := its byte length. A text that is not a frame
// leaves the buffer as it was (false). A character that is not a hexadecimal digit gives 0 in its
// byte; a lone last digit and pairs beyond the buffer are dropped.
bool fillReceiveBuffer(const QByteArray &replyText, ByteBlock &buffer);
