#include "link/frame.h"

#include <algorithm>
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

// The characters between a frame's ":" and its CR LF, read as bytes (the LRC the last of them).
class FrameBody
{
public:
    FrameBody(const char *text, qsizetype length) : m_text(text), m_length(length) {}

    // Whole hexadecimal pairs only: unlike the device's own sum, a frame that is to be taken as
    // the reply leaves no doubt about any of its characters.
    bool wellFormed() const
    {
        if (m_length % 2 != 0)
            return false;
        for (qsizetype i = 0; i < m_length; ++i) {
            if (HexDigit(m_text[i]) > 15)
                return false;
        }
        return true;
    }
    qsizetype bytes() const { return m_length / 2; }
    std::uint8_t at(qsizetype k) const { return pairValue(m_text[2 * k], m_text[2 * k + 1]); }
    std::uint16_t word(qsizetype k) const { return std::uint16_t(at(k) * 256 + at(k + 1)); }
    bool sumIsZero() const
    {
        unsigned sum = 0;
        for (qsizetype k = 0; k < bytes(); ++k)
            sum += at(k);
        return sum % 256 == 0;
    }

private:
    const char *m_text;
    qsizetype m_length;
};

struct Verdict
{
    bool taken = false;
    FrameRefusal why = FrameRefusal::Malformed;
    int result = kNoReply;
    bool exception = false;
};

Verdict refuse(FrameRefusal why)
{
    Verdict v;
    v.why = why;
    return v;
}

Verdict judge(const FrameBody &body, const ReplyExpectation &e)
{
    // Address, function and LRC at the least.
    if (!body.wellFormed() || body.bytes() < 3)
        return refuse(FrameRefusal::Malformed);
    if (!body.sumIsZero())
        return refuse(FrameRefusal::LrcError);
    const qsizetype n = body.bytes() - 1; // without the LRC
    if (e.address != 0 && body.at(0) != e.address)
        return refuse(FrameRefusal::OtherAddress);
    const std::uint8_t function = body.at(1);
    const bool exception =
        e.function == 0 ? (function & 0x80) != 0 : function == (e.function | 0x80);
    if (exception) {
        if (n != 3)
            return refuse(FrameRefusal::WrongLengthOrEcho);
        // Code 0 would read as success with no data behind it.
        if (body.at(2) == 0)
            return refuse(FrameRefusal::Malformed);
        return {true, FrameRefusal::Malformed, body.at(2), true};
    }
    if (e.function != 0 && function != e.function)
        return refuse(FrameRefusal::OtherFunction);
    if (e.dataBytes >= 0 && (n < 3 || body.at(2) != e.dataBytes || n - 3 != e.dataBytes))
        return refuse(FrameRefusal::WrongLengthOrEcho);
    if (e.echo && (n != 6 || body.word(2) != e.start || body.word(4) != e.count))
        return refuse(FrameRefusal::WrongLengthOrEcho);
    return {true, FrameRefusal::Malformed, kReplyOk, false};
}

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

ReplyExpectation ExpectedReply(const std::uint8_t *request, int count)
{
    ReplyExpectation e;
    if (count < 2)
        return e;
    e.address = request[0];
    e.function = request[1];
    if (count < 6)
        return e;
    const std::uint16_t first = std::uint16_t(request[2] * 256 + request[3]);
    const std::uint16_t n = std::uint16_t(request[4] * 256 + request[5]);
    switch (e.function) {
    case 1:
    case 2:
        e.dataBytes = (n + 7) / 8;
        break;
    case 3:
    case 4:
        e.dataBytes = 2 * n;
        break;
    case 15:
    case 16:
        e.echo = true;
        e.start = first;
        e.count = n;
        break;
    default:
        break;
    }
    return e;
}

ReplyExpectation ExpectedReply(const QByteArray &requestText)
{
    if (!requestText.startsWith(':') || !requestText.endsWith("\r\n"))
        return {};
    const FrameBody body(requestText.constData() + 1, requestText.size() - 3);
    if (!body.wellFormed() || body.bytes() < 1 || !body.sumIsZero())
        return {};
    std::array<std::uint8_t, 6> head{};
    const qsizetype n = std::min<qsizetype>(body.bytes() - 1, qsizetype(head.size()));
    for (qsizetype k = 0; k < n; ++k)
        head[std::size_t(k)] = body.at(k);
    return ExpectedReply(head.data(), int(n));
}

ReplyMatch MatchReply(const QByteArray &received, const ReplyExpectation &expect)
{
    ReplyMatch m;
    const char *text = received.constData();
    const qsizetype size = received.size();
    qsizetype i = 0;
    while (i < size) {
        if (text[i] != ':') {
            ++m.skipped;
            ++i;
            continue;
        }
        // The frame runs to its CR LF, unless another ":" starts a new one before that.
        qsizetype j = i + 1;
        while (j < size && text[j] != ':' &&
               !(text[j] == '\r' && j + 1 < size && text[j + 1] == '\n'))
            ++j;
        if (j >= size) {
            m.partial = true;
            break;
        }
        if (text[j] == ':') {
            m.refused.append(FrameRefusal::Malformed);
            i = j;
            continue;
        }
        const Verdict v = judge(FrameBody(text + i + 1, j - i - 1), expect);
        if (v.taken) {
            m.complete = true;
            m.start = i;
            m.length = j + 2 - i;
            m.result = v.result;
            m.exception = v.exception;
            return m;
        }
        m.refused.append(v.why);
        i = j + 2;
    }
    return m;
}

std::uint8_t Crc16HighTable(int index)
{
    return kCrc.high[std::size_t(index) & 0xFF];
}

std::uint8_t Crc16LowTable(int index)
{
    return kCrc.low[std::size_t(index) & 0xFF];
}
