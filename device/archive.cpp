#include "device/archive.h"

#include "device/clocktext.h"

#include "device/pointposition.h"

#include <algorithm>
#include <bit>

namespace archive {

namespace {
constexpr std::size_t kCycleByte = 4;
constexpr std::size_t kSelectionByte = 6;
} // namespace

Parameters Parameters::decode(std::span<const std::uint8_t, 14> common)
{
    Parameters p;
    p.cycle = std::uint16_t(common[kCycleByte] | (common[kCycleByte + 1] << 8));
    p.selected = common[kSelectionByte] & 0x3F;
    p.mark = common[kSelectionByte] >> 6;
    return p;
}

void Parameters::encode(std::span<std::uint8_t, 14> common) const
{
    common[kCycleByte] = std::uint8_t(cycle & 0xFF);
    common[kCycleByte + 1] = std::uint8_t(cycle >> 8);
    common[kSelectionByte] = std::uint8_t((common[kSelectionByte] & 0xC0) | (selected & 0x3F));
}

int recordRegisters(std::uint8_t selected)
{
    return kHeaderRegisters + std::popcount(unsigned(selected & 0x3F));
}

int ringRecords(std::uint8_t selected)
{
    return kRingBytes / (2 * recordRegisters(selected));
}

QStringList parameterHeaders(std::uint8_t selected)
{
    QStringList headers;
    for (int bit = 0; bit < kParameterCount; ++bit) {
        if (!(selected & (1 << bit)))
            continue;
        headers << (bit < 4 ? QStringLiteral("Вход X%1").arg(bit + 1)
                            : QStringLiteral("Выход Y%1").arg(bit - 3));
    }
    return headers;
}

Record Record::decode(std::span<const std::uint16_t> words)
{
    Record r;
    auto word = [&](std::size_t i) { return i < words.size() ? words[i] : std::uint16_t(0); };
    r.mark = word(0) >> 14;
    r.day = word(1) & 0x1F;
    r.month = (word(1) >> 8) & 0x0F;
    r.year = word(2) & 0xFF;
    r.hour = (word(2) >> 8) & 0x1F;
    r.minute = word(3) & 0x3F;
    r.second = (word(3) >> 8) & 0x3F;
    for (std::size_t i = kHeaderRegisters; i < words.size(); ++i)
        r.stored.push_back(std::int16_t(words[i]));
    return r;
}

bool Record::valid(int currentMark) const
{
    return mark == currentMark && day >= 1 && day <= 31 && month >= 1 && month <= 12 &&
           hour <= 23 && minute <= 59 && second <= 59;
}

QString Record::dateText() const
{
    return clockTimeText(hour, minute, second) + QLatin1Char(' ') + clockDateText(day, month, year);
}

QStringList Record::texts(std::uint8_t selected, const std::array<int, 4> &pointPositions) const
{
    QStringList out{QString::asprintf("%.1d", mark), dateText()};
    std::size_t next = 0;
    for (int bit = 0; bit < kParameterCount; ++bit) {
        if (!(selected & (1 << bit)))
            continue;
        // A record shorter than its selection shows nothing rather than a guess.
        if (next >= stored.size()) {
            out << QString();
            continue;
        }
        const std::int16_t v = stored[next++];
        // asprintf does not follow the locale: the decimal point stays a point.
        if (bit < 4)
            out << QString::asprintf("%.1f", pointpos::fromStored(v, pointPositions[bit]));
        else
            out << QString::asprintf("%5.1f", v / 100.0);
    }
    return out;
}

Walk::Walk(int end, int length)
    : m_end(end), m_length(length), m_current(wrapped(end - length)),
      m_limit(kRingBytes / (2 * length))
{
}

std::optional<Walk> Walk::start(std::uint16_t writePosition, std::uint8_t selected)
{
    if (writePosition < kWriteBias || writePosition > kMaxWritePosition)
        return std::nullopt;
    return Walk(kRingFirstRegister + (writePosition - kWriteBias) / 2, recordRegisters(selected));
}

int Walk::topRegister(int length)
{
    const int recordBytes = 2 * length;
    const int top = (kRingBytes / recordBytes) * recordBytes - recordBytes;
    return kRingFirstRegister + top / 2;
}

int Walk::wrapped(int reg) const
{
    return reg < kRingFirstRegister ? topRegister(m_length) : reg;
}

std::optional<int> Walk::current() const
{
    if (m_steps >= m_limit || (m_steps > 0 && m_current == m_end))
        return std::nullopt;
    return m_current;
}

void Walk::advance()
{
    ++m_steps;
    m_current = wrapped(m_current - m_length);
}

QString sortKey(const QString &dateText)
{
    if (dateText.size() < 17)
        return {};
    // hh:mm:ss dd.MM.yy -> yyMMddhhmmss
    static constexpr int from[] = {15, 12, 9, 0, 3, 6};
    QString key;
    for (int at : from)
        key += dateText.mid(at, 2);
    const bool digits = std::all_of(key.cbegin(), key.cend(), [](QChar c) { return c.isDigit(); });
    return key.size() == 12 && digits ? key : QString();
}

std::vector<int> sortOrder(const QStringList &dateTexts)
{
    std::vector<int> keyed;
    std::vector<QString> keys(std::size_t(dateTexts.size()));
    for (int i = 0; i < dateTexts.size(); ++i) {
        keys[std::size_t(i)] = sortKey(dateTexts[i]);
        if (!keys[std::size_t(i)].isEmpty())
            keyed.push_back(i);
    }
    std::vector<int> sorted = keyed;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](int a, int b) { return keys[std::size_t(a)] < keys[std::size_t(b)]; });
    std::vector<int> order(std::size_t(dateTexts.size()));
    for (int i = 0; i < dateTexts.size(); ++i)
        order[std::size_t(i)] = i;
    // The keyed rows take the keyed places in time order; the others stay where they were.
    for (std::size_t k = 0; k < keyed.size(); ++k)
        order[std::size_t(keyed[k])] = sorted[k];
    return order;
}

} // namespace archive
