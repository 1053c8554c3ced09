#include "devsim/asciiframing.h"

namespace devsim {

namespace {

// The longest request a device accepts: address, function, 252 data bytes, LRC, as hex.
constexpr int kMaxFrameChars = 1 + 2 * 256 + 2;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

quint8 lrc(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char b : bytes)
        sum = quint8(sum + quint8(b));
    return quint8(-sum);
}

QByteArray decodeFrameBody(const QByteArray &body)
{
    // Address, function and LRC at least.
    if (body.size() < 6 || body.size() % 2 != 0)
        return {};
    QByteArray bytes;
    bytes.reserve(body.size() / 2);
    for (qsizetype i = 0; i < body.size(); i += 2) {
        const int hi = hexValue(body[i]);
        const int lo = hexValue(body[i + 1]);
        if (hi < 0 || lo < 0)
            return {};
        bytes.append(char(hi * 16 + lo));
    }
    quint8 sum = 0;
    for (char b : bytes)
        sum = quint8(sum + quint8(b));
    if (sum != 0)
        return {};
    bytes.chop(1);
    return bytes;
}

QByteArray encodeFrame(const QByteArray &bytes)
{
    QByteArray text = ":";
    text += bytes.toHex().toUpper();
    text += QByteArray(1, char(lrc(bytes))).toHex().toUpper();
    text += "\r\n";
    return text;
}

QList<ReceivedFrame> FrameAssembler::feed(const QByteArray &chars)
{
    QList<ReceivedFrame> frames;
    for (char c : chars) {
        if (c == ':') {
            // A new start abandons whatever was pending: the sender has begun again.
            m_pending = ":";
            m_inFrame = true;
            continue;
        }
        if (!m_inFrame)
            continue;
        m_pending.append(c);
        if (c == '\n') {
            ReceivedFrame frame;
            frame.text = m_pending;
            if (m_pending.endsWith("\r\n")) {
                frame.bytes = decodeFrameBody(m_pending.mid(1, m_pending.size() - 3));
                frame.valid = !frame.bytes.isEmpty();
            }
            frames.append(frame);
            clear();
        } else if (m_pending.size() > kMaxFrameChars + 2) {
            frames.append(ReceivedFrame{m_pending, {}, false});
            clear();
        }
    }
    return frames;
}

void FrameAssembler::clear()
{
    m_pending.clear();
    m_inFrame = false;
}

} // namespace devsim
