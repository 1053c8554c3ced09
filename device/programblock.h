#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// One setpoint program (100 holding registers): a start date and time, the point position of its
// values and up to 32 segments, each running from a start value to an end value in a number of
// seconds.
struct ProgramBlock
{
    static constexpr int kMaxSegments = 32;
    static constexpr std::size_t kBytes = 200;

    std::uint8_t minutes = 0;
    std::uint8_t hours = 0;
    std::uint8_t day = 0;
    std::uint8_t month = 0;
    std::uint8_t year = 0;
    std::uint8_t point = 0;
    std::uint8_t count = 0; // as the device or a file holds it, possibly above 32
    std::uint8_t byte7 = 0; // not edited, carried as read
    std::array<std::int16_t, kMaxSegments> start{};
    std::array<std::int16_t, kMaxSegments> end{};
    std::array<std::uint16_t, kMaxSegments> duration{};

    static ProgramBlock decode(std::span<const std::uint8_t, kBytes> bytes);
    void encode(std::span<std::uint8_t, kBytes> bytes) const;

    // The segments that exist: a count byte above 32 must never lead past the block.
    int segments() const;

    friend bool operator==(const ProgramBlock &, const ProgramBlock &) = default;
};

namespace programs {

constexpr int kPrograms = 4;
constexpr std::size_t kAllBytes = kPrograms * ProgramBlock::kBytes;

// A shown start or end value (stored × 0.1^p).
double shown(std::int16_t stored, int point);

// A program taken from the device or a file: a segment that does not start where the previous
// one ended is made to (a start of 0 is left alone), a zero duration becomes 1. True when a start
// value was changed; the zero durations do not count.
bool repair(ProgramBlock &block);
QString repairText(int k);
QString repairCaption(int k);

// Segments 2..n that do not start where the previous one ended, in order.
std::vector<int> discontinuities(const ProgramBlock &block);

// A new segment count as entered: refused (false) outside 0..32, else cut to a whole number; the
// segment just behind the program is emptied so that lengthening it again brings no old values
// back.
bool setCount(ProgramBlock &block, double count);

// An edited cell of segment row (1-based): column 1 start value, 2 end value, 3 duration. The
// neighbouring segment follows so that the curve stays continuous.
enum class CellEdit {
    Stored,
    Ignored,  // empty text, or not a number: nothing happens
    Refused,  // a number the field cannot hold
    NotWhole, // a duration that is not a whole number
};
CellEdit editCell(ProgramBlock &block, int column, int row, const QString &text,
                  const QLocale &locale);

} // namespace programs

// The program file: the marker and the four blocks in image order.
namespace programfile {

constexpr std::size_t kBytes = 814;
QByteArray marker(); // "ProgFileLorvan"

QByteArray compose(std::span<const std::uint8_t, programs::kAllBytes> blocks);

enum class Outcome { Good, NoMarker, Short };
// Checks the whole file before anything is taken from it: the blocks are copied only when the
// outcome is Good.
Outcome parse(const QByteArray &file, std::span<std::uint8_t, programs::kAllBytes> blocks);

} // namespace programfile
