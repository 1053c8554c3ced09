#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The device's internal archive: its parameters in the common block, the ring of records it
// presents as input registers, one record's fields and texts, and the walk over the ring from
// the newest record backwards.
namespace archive {

constexpr int kRingBytes = 32750;
constexpr int kRingFirstRegister = 52;
constexpr int kRingLastRegister = kRingFirstRegister + kRingBytes / 2 - 1; // 16426
constexpr int kWritePositionRegister = 50;
// The write position is a ring byte offset plus this bias.
constexpr int kWriteBias = 10;
constexpr int kMaxWritePosition = kWriteBias + kRingBytes; // one past the last byte: still whole
constexpr int kParameterCount = 6;                         // X1..X4, Y1, Y2
constexpr int kHeaderRegisters = 4;

// Common block byte 6 and the registration cycle (bytes 4-5).
struct Parameters
{
    std::uint16_t cycle = 0;
    std::uint8_t selected = 0; // bits 0-5: X1, X2, X3, X4, Y1, Y2
    std::uint8_t mark = 0;     // bits 6-7: the record mark now written

    static Parameters decode(std::span<const std::uint8_t, 14> common);
    // Writes the cycle and the selection; the mark bits stay as the bytes hold them.
    void encode(std::span<std::uint8_t, 14> common) const;
    friend bool operator==(const Parameters &, const Parameters &) = default;
};

// Registers per record: the four header registers and one per selected parameter.
int recordRegisters(std::uint8_t selected);
// Whole records of that length the ring holds.
int ringRecords(std::uint8_t selected);

// Column headers of the selected parameters: "Вход X1" ... "Выход Y2".
QStringList parameterHeaders(std::uint8_t selected);

struct Record
{
    int mark = 0;
    int day = 0, month = 0, year = 0;
    int hour = 0, minute = 0, second = 0;
    std::vector<std::int16_t> stored; // the selected parameters' numbers, X1..Y2 order

    // Words as the device's memory holds them (first byte + 256 × second byte).
    static Record decode(std::span<const std::uint16_t> words);
    bool valid(int currentMark) const;
    // "hh:mm:ss dd.MM.yy"
    QString dateText() const;
    // Mark, date and one text per value: inputs at their channel's point position with one
    // decimal, outputs in hundredths with width 5.
    QStringList texts(std::uint8_t selected, const std::array<int, 4> &pointPositions) const;
};

// The walk over the ring from the record before the write position backwards. A write position
// outside the ring gives no walk at all, since its end register would lie outside the ring.
class Walk
{
public:
    static std::optional<Walk> start(std::uint16_t writePosition, std::uint8_t selected);

    // First register of the record to read, or nothing once the walk has gone around: it met the
    // end register, or read as many records as the ring holds (an end that is never met exactly).
    std::optional<int> current() const;
    void advance();

    int endRegister() const { return m_end; }
    int length() const { return m_length; }
    // Where the walk continues after passing the ring's start: the last whole record slot, as
    // the device lays records from ring byte 0 and wraps when the next would not fit.
    static int topRegister(int length);

private:
    Walk(int end, int length);
    int wrapped(int reg) const;

    int m_end = kRingFirstRegister;
    int m_length = kHeaderRegisters;
    int m_current = kRingFirstRegister;
    int m_steps = 0;
    int m_limit = 0;
};

// The sort key "yyMMddhhmmss" of a date text, empty when the text does not hold one.
QString sortKey(const QString &dateText);
// Row order that puts the rows oldest first: rows with equal keys keep their order, rows
// without a key keep their places.
std::vector<int> sortOrder(const QStringList &dateTexts);

} // namespace archive
