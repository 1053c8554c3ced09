#include "link/frame.h"

#include <array>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendHexByte(QByteArray &text, std::uint8_t b)
{
    text.append(kHex[b >> 4]);
    text.append(kHex[b & 0x0F]);
}

// A character pair as a byte. Non-hex characters take part with their 999, as the device's own
// firmware sums them, so a garbled pair spoils the LRC instead of being skipped.
std::uint8_t pairValue(char high, char low)
{
    return std::uint8_t((16 * HexDigit(high) + HexDigit(low)) % 256);
}

// The reflected 0xA001 polynomial's table split into its two bytes gives exactly the two
// published tables: the "high" one is each entry's low byte, the "low" one its high byte.
struct CrcTables
{
    std::array<std::uint8_t, 256> high{};
    std::array<std::uint8_t, 256> low{};
};

constexpr CrcTables makeCrcTables()
{
    CrcTables t;
    for (int i = 0; i < 256; ++i) {
        std::uint16_t crc = std::uint16_t(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
        t.high[i] = std::uint8_t(crc & 0xFF);
        t.low[i] = std::uint8_t(crc >> 8);
    }
    return t;
}

constexpr CrcTables kCrc = makeCrcTables();
static_assert(kCrc.high[1] == 0xC1 && kCrc.high[2] == 0x81 && kCrc.high[3] == 0x40);
static_assert(kCrc.low[1] == 0xC0 && kCrc.low[2] == 0xC1 && kCrc.low[3] == 0x01);

} // namespace

QByteArray BuildFrame(const std::uint8_t *bytes, int count)
{
    QByteArray text;
    text.reserve(1 + 2 * count + 4);
    text.append(':');
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        appendHexByte(text, bytes[i]);
        sum += bytes[i];
    }
    appendHexByte(text, std::uint8_t((256 - sum % 256) % 256));
    text.append("\r\n");
    return text;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 999;
}

int CheckReply(const QByteArray &reply, bool completed)
{
    if (reply.size() <= 7 || !completed)
        return kNoReply;
    if (reply.at(0) != ':')
        return kNoReply;
    const qsizetype cr = reply.indexOf("\r\n");
    if (cr < 0)
        return kNoReply;
    // cr is 0-based, so the pairs before it start at 1 and there are (cr - 1) / 2 of them.
    const qsizetype pairs = (cr - 1) / 2;
    unsigned sum = 0;
    for (qsizetype k = 0; k < pairs; ++k)
        sum += pairValue(reply.at(1 + 2 * k), reply.at(2 + 2 * k));
    if (sum % 256 != 0)
        return kNoReply;
    if (HexDigit(reply.at(3)) < 8)
        return kReplyOk;
    const int code = 16 * HexDigit(reply.at(5)) + HexDigit(reply.at(6));
    // An exception reply that names code 0 would read as success and hand its bytes to the
    // caller as data; it is no usable reply.
    return code == 0 ? kNoReply : code;
}

std::uint16_t Crc16(const std::uint8_t *data, std::uint16_t length)
{
    std::uint8_t hi = 0xFF;
    std::uint8_t lo = 0xFF;
    for (std::uint16_t n = 0; n < length; ++n) {
        const std::uint8_t i = data[n] ^ hi;
        hi = lo ^ kCrc.high[i];
        lo = kCrc.low[i];
    }
    return std::uint16_t(hi * 256 + lo);
}

bool ReplyData(const QByteArray &reply, int byteCount, std::uint8_t *out)
{
    const qsizetype cr = reply.indexOf("\r\n");
    // Data start at index 7 and must end before the two LRC characters that precede CR.
    if (byteCount < 0 || cr < 0 || 7 + 2 * qsizetype(byteCount) > cr - 2)
        return false;
    for (int i = 0; i < byteCount; ++i)
        out[i] = pairValue(reply.at(7 + 2 * i), reply.at(8 + 2 * i));
    return true;
}

std::uint8_t Crc16HighTable(int index)
{
    return kCrc.high[std::size_t(index) & 0xFF];
}

std::uint8_t Crc16LowTable(int index)
{
    return kCrc.low[std::size_t(index) & 0xFF];
}
