#include "device/programblock.h"

#include "device/imagefields.h"
#include "device/pointposition.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kStarts = 8;
constexpr std::size_t kEnds = 72;
constexpr std::size_t kDurations = 136;

} // namespace

ProgramBlock ProgramBlock::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    ProgramBlock b;
    b.minutes = bytes[0];
    b.hours = bytes[1];
    b.day = bytes[2];
    b.month = bytes[3];
    b.year = bytes[4];
    b.point = bytes[5];
    b.count = bytes[6];
    b.byte7 = bytes[7];
    for (int i = 0; i < kMaxSegments; ++i) {
        b.start[i] = field::i16(bytes, kStarts + 2 * i);
        b.end[i] = field::i16(bytes, kEnds + 2 * i);
        b.duration[i] = field::u16(bytes, kDurations + 2 * i);
    }
    return b;
}

void ProgramBlock::encode(std::span<std::uint8_t, kBytes> bytes) const
{
    bytes[0] = minutes;
    bytes[1] = hours;
    bytes[2] = day;
    bytes[3] = month;
    bytes[4] = year;
    bytes[5] = point;
    bytes[6] = count;
    bytes[7] = byte7;
    for (int i = 0; i < kMaxSegments; ++i) {
        field::setI16(bytes, kStarts + 2 * i, start[i]);
        field::setI16(bytes, kEnds + 2 * i, end[i]);
        field::setU16(bytes, kDurations + 2 * i, duration[i]);
    }
}

int ProgramBlock::segments() const
{
    return std::min<int>(count, kMaxSegments);
}

namespace programs {

double shown(std::int16_t stored, int point)
{
    return pointpos::fromStored(stored, point);
}

bool repair(ProgramBlock &block)
{
    bool repaired = false;
    std::int16_t prev = block.start[0];
    for (int i = 0; i < block.segments(); ++i) {
        if (block.start[i] != prev && block.start[i] != 0) {
            block.start[i] = block.end[i - 1]; // i > 0: segment 1 starts as prev
            repaired = true;
        }
        if (block.duration[i] == 0)
            block.duration[i] = 1;
        prev = block.end[i];
    }
    return repaired;
}

QString repairText(int k)
{
    return QStringLiteral("В программе-%1 имеются ошибки.").arg(k);
}

QString repairCaption(int k)
{
    return QStringLiteral("Программа %1").arg(k);
}

std::vector<int> discontinuities(const ProgramBlock &block)
{
    std::vector<int> segments;
    for (int i = 1; i < block.segments(); ++i)
        if (block.start[i] != block.end[i - 1])
            segments.push_back(i + 1);
    return segments;
}

bool setCount(ProgramBlock &block, double entered)
{
    if (!(entered >= 0 && entered < ProgramBlock::kMaxSegments + 1))
        return false;
    const int count = int(entered);
    block.count = std::uint8_t(count);
    if (count >= 0 && count < ProgramBlock::kMaxSegments) {
        block.start[count] = 0;
        block.end[count] = 0;
        block.duration[count] = 0;
    }
    return true;
}

CellEdit editCell(ProgramBlock &block, int column, int row, const QString &text,
                  const QLocale &locale)
{
    if (row < 1 || row > ProgramBlock::kMaxSegments || text.trimmed().isEmpty())
        return CellEdit::Ignored;
    const int i = row - 1;
    if (column == 3) {
        bool whole = false;
        const qlonglong seconds = text.trimmed().toLongLong(&whole, 10);
        if (!whole) {
            bool number = false;
            locale.toDouble(text.trimmed(), &number);
            return number ? CellEdit::NotWhole : CellEdit::Ignored;
        }
        if (seconds < 0 || seconds > std::numeric_limits<std::uint16_t>::max())
            return CellEdit::Refused;
        block.duration[i] = std::uint16_t(seconds);
        return CellEdit::Stored;
    }
    if (column != 1 && column != 2)
        return CellEdit::Ignored;
    bool number = false;
    const double value = locale.toDouble(text.trimmed(), &number);
    if (!number)
        return CellEdit::Ignored;
    const auto stored = pointpos::toI16(value, block.point);
    if (!stored)
        return CellEdit::Refused;
    if (column == 1) {
        block.start[i] = *stored;
        if (row >= 2)
            block.end[i - 1] = *stored;
    } else {
        block.end[i] = *stored;
        if (row < block.segments())
            block.start[i + 1] = *stored;
    }
    return CellEdit::Stored;
}

} // namespace programs

namespace programfile {

QByteArray marker()
{
    return QByteArrayLiteral("ProgFileLorvan");
}

QByteArray compose(std::span<const std::uint8_t, programs::kAllBytes> blocks)
{
    QByteArray file = marker();
    file.append(reinterpret_cast<const char *>(blocks.data()), qsizetype(blocks.size()));
    return file;
}

Outcome parse(const QByteArray &file, std::span<std::uint8_t, programs::kAllBytes> blocks)
{
    const QByteArray m = marker();
    if (!file.startsWith(m))
        return file.size() < m.size() && m.startsWith(file) ? Outcome::Short : Outcome::NoMarker;
    if (std::size_t(file.size()) < kBytes)
        return Outcome::Short;
    std::copy_n(reinterpret_cast<const std::uint8_t *>(file.constData()) + m.size(), blocks.size(),
                blocks.begin());
    return Outcome::Good;
}

} // namespace programfile
