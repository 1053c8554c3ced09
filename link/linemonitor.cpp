#include "link/linemonitor.h"

#include "link/frame.h"
#include "platform/printabletext.h"

#include <QStringList>

namespace {

// No MODBUS ASCII frame is longer; a ":" followed by this much without an end is no frame.
constexpr qsizetype kLongestFrame = 1 + 2 * 256 + 2 + 2;

struct Body
{
    bool wellFormed = false;
    bool lrcGood = false;
    QByteArray bytes; // address to data, without the LRC
};

Body parseBody(const QByteArray &frame)
{
    Body b;
    // ":" + at least address, function and LRC + CR LF
    if (frame.size() < 1 + 6 + 2 || !frame.endsWith("\r\n"))
        return b;
    const QByteArray hex = frame.mid(1, frame.size() - 3);
    if (hex.size() % 2 != 0)
        return b;
    unsigned sum = 0;
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const int h = HexDigit(hex[i]);
        const int l = HexDigit(hex[i + 1]);
        if (h > 15 || l > 15)
            return b;
        const auto byte = char(h * 16 + l);
        sum += quint8(byte);
        b.bytes.append(byte);
    }
    b.wellFormed = true;
    b.lrcGood = (sum & 0xFF) == 0;
    b.bytes.chop(1);
    return b;
}

std::uint16_t word(const QByteArray &bytes, int at)
{
    return std::uint16_t(quint8(bytes[at]) << 8 | quint8(bytes[at + 1]));
}

bool isRead(std::uint8_t function)
{
    return function >= 1 && function <= 4;
}

bool isMultipleWrite(std::uint8_t function)
{
    return function == 15 || function == 16;
}

// A reply's shape without knowing its request: an exception, a read's byte count that fits, a
// multiple write's echo.
bool looksLikeReply(const QByteArray &b)
{
    const auto function = std::uint8_t(b[1]);
    if (function & 0x80)
        return b.size() == 3;
    if (isRead(function))
        return b.size() >= 3 && quint8(b[2]) == b.size() - 3 && b.size() != 6;
    if (isMultipleWrite(function))
        return b.size() == 6;
    return false;
}

void decodeRequest(LineEvent &e, const QByteArray &b)
{
    if ((isRead(e.function) || e.function == 5 || e.function == 6) && b.size() == 6) {
        e.start = word(b, 2);
        if (e.function == 5 || e.function == 6)
            e.data = b.mid(4, 2);
        else
            e.count = word(b, 4);
    } else if (isMultipleWrite(e.function) && b.size() >= 7) {
        e.start = word(b, 2);
        e.count = word(b, 4);
        e.byteCount = quint8(b[6]);
        e.data = b.mid(7);
    } else {
        e.data = b.mid(2);
    }
}

void decodeReply(LineEvent &e, const QByteArray &b)
{
    if (e.function & 0x80) {
        e.exceptionCode = b.size() > 2 ? quint8(b[2]) : 0;
    } else if (isRead(e.function) && b.size() >= 3) {
        e.byteCount = quint8(b[2]);
        e.data = b.mid(3);
    } else if ((isMultipleWrite(e.function) || e.function == 5 || e.function == 6) &&
               b.size() == 6) {
        e.start = word(b, 2);
        if (isMultipleWrite(e.function))
            e.count = word(b, 4);
        else
            e.data = b.mid(4, 2);
    } else {
        e.data = b.mid(2);
    }
}

QString hexBytes(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex(' ').toUpper());
}

// Data as MODBUS registers, first byte high; an odd last byte is no register.
QString registers(const QByteArray &data)
{
    QStringList words;
    for (qsizetype i = 0; i + 1 < data.size(); i += 2)
        words << QString::number(word(data, int(i)));
    return words.join(QLatin1Char(' '));
}

QString kindName(LineEvent::Kind kind)
{
    switch (kind) {
    case LineEvent::Kind::Request:
        return QStringLiteral("request");
    case LineEvent::Kind::Reply:
        return QStringLiteral("reply");
    case LineEvent::Kind::Unpaired:
        return QStringLiteral("unpaired");
    case LineEvent::Kind::Unanswered:
        return QStringLiteral("unanswered");
    case LineEvent::Kind::Noise:
        return QStringLiteral("noise");
    case LineEvent::Kind::Malformed:
        return QStringLiteral("malformed");
    }
    return {};
}

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

bool isFrameEvent(const LineEvent &e)
{
    return e.kind == LineEvent::Kind::Request || e.kind == LineEvent::Kind::Reply ||
           e.kind == LineEvent::Kind::Unpaired;
}

} // namespace

QList<LineEvent> LineDecoder::feed(const QByteArray &bytes, double atMs)
{
    QList<LineEvent> out;
    for (const char c : bytes) {
        if (c == ':') {
            endNoise(out, atMs);
            if (!m_frame.isEmpty()) {
                LineEvent cut;
                cut.kind = LineEvent::Kind::Malformed;
                cut.atMs = atMs;
                cut.text = m_frame;
                out.append(cut);
            }
            m_frame = QByteArray(1, ':');
        } else if (!m_frame.isEmpty()) {
            m_frame.append(c);
            if (c == '\n')
                endFrame(out, atMs);
            else if (m_frame.size() > kLongestFrame) {
                m_noise = m_frame;
                m_frame.clear();
            }
        } else {
            m_noise.append(c);
            m_noiseAtMs = atMs;
        }
    }
    return out;
}

QList<LineEvent> LineDecoder::finish(double atMs)
{
    QList<LineEvent> out;
    if (!m_frame.isEmpty()) {
        LineEvent open;
        open.kind = LineEvent::Kind::Malformed;
        open.atMs = atMs;
        open.text = m_frame;
        out.append(open);
        m_frame.clear();
    }
    endNoise(out, atMs);
    if (m_pending) {
        LineEvent gone = *m_pending;
        gone.kind = LineEvent::Kind::Unanswered;
        gone.requestAtMs = m_pending->atMs;
        gone.atMs = atMs;
        out.append(gone);
        m_pending.reset();
    }
    return out;
}

void LineDecoder::endNoise(QList<LineEvent> &out, double atMs)
{
    Q_UNUSED(atMs);
    if (m_noise.isEmpty())
        return;
    LineEvent noise;
    noise.kind = LineEvent::Kind::Noise;
    noise.atMs = m_noiseAtMs;
    noise.text = m_noise;
    out.append(noise);
    m_noise.clear();
}

void LineDecoder::endFrame(QList<LineEvent> &out, double atMs)
{
    LineEvent e;
    e.atMs = atMs;
    e.text = m_frame;
    m_frame.clear();
    const Body body = parseBody(e.text);
    if (!body.wellFormed) {
        e.kind = LineEvent::Kind::Malformed;
        out.append(e);
        return;
    }
    e.lrcGood = body.lrcGood;
    e.address = std::uint8_t(body.bytes[0]);
    e.function = std::uint8_t(body.bytes[1]);

    // A reply answers the request before it: its address (any, for a request to address 0) and
    // function or exception, and, when it can be trusted, the shape that request expects.
    bool answers = false;
    if (m_pending && (m_pending->address == 0 || m_pending->address == e.address) &&
        (e.function & 0x7F) == m_pending->function) {
        answers = body.lrcGood ? MatchReply(e.text, ExpectedReply(m_pending->text)).complete : true;
    }
    if (answers) {
        e.kind = LineEvent::Kind::Reply;
        decodeReply(e, body.bytes);
        e.replyMs = e.atMs - m_pending->atMs;
        m_pending.reset();
    } else if (body.lrcGood && looksLikeReply(body.bytes)) {
        e.kind = LineEvent::Kind::Unpaired;
        decodeReply(e, body.bytes);
    } else {
        e.kind = LineEvent::Kind::Request;
        decodeRequest(e, body.bytes);
        if (m_pending) {
            LineEvent gone = *m_pending;
            gone.kind = LineEvent::Kind::Unanswered;
            gone.requestAtMs = m_pending->atMs;
            gone.atMs = atMs;
            out.append(gone);
        }
        m_pending = e;
    }
    out.append(e);
}

QString formatLineEvent(const LineEvent &e, const QString &stamp)
{
    QStringList parts{stamp};
    switch (e.kind) {
    case LineEvent::Kind::Noise:
        return stamp +
               QStringLiteral(" noise %1 chars %2").arg(e.text.size()).arg(printableText(e.text));
    case LineEvent::Kind::Malformed:
        return stamp + QStringLiteral(" malformed ") + printableText(e.text);
    case LineEvent::Kind::Unanswered:
        return stamp + QStringLiteral(" unanswered addr %1 fn %2 request of %3 ms before")
                           .arg(e.address)
                           .arg(e.function)
                           .arg(ms(e.atMs - e.requestAtMs));
    case LineEvent::Kind::Request:
        parts << QStringLiteral("request");
        break;
    case LineEvent::Kind::Reply:
        parts << QStringLiteral("reply  ");
        break;
    case LineEvent::Kind::Unpaired:
        parts << QStringLiteral("unpaired reply");
        break;
    }
    parts << QStringLiteral("addr %1 fn %2").arg(e.address).arg(e.function);
    if (e.function & 0x80)
        parts << QStringLiteral("exception %1").arg(e.exceptionCode);
    if (e.start)
        parts << QStringLiteral("start %1").arg(*e.start);
    if (e.count)
        parts << QStringLiteral("count %1").arg(*e.count);
    if (e.byteCount)
        parts << QStringLiteral("bytes %1").arg(*e.byteCount);
    if (!e.data.isEmpty())
        parts << QStringLiteral("data %1 regs %2").arg(hexBytes(e.data), registers(e.data));
    parts << (e.lrcGood ? QStringLiteral("LRC good") : QStringLiteral("LRC wrong"));
    if (e.kind == LineEvent::Kind::Reply)
        parts << QStringLiteral("reply %1 ms").arg(ms(e.replyMs));
    return parts.join(QLatin1Char(' '));
}

QString lineEventCsvHeader()
{
    return QStringLiteral("time,event,address,function,start,count,bytes,data,registers,exception,"
                          "lrc,reply_ms,text");
}

QString lineEventCsv(const LineEvent &e, const QString &stamp)
{
    const bool frame = isFrameEvent(e) || e.kind == LineEvent::Kind::Unanswered;
    const auto opt = [](const auto &v) { return v ? QString::number(*v) : QString(); };
    QString text = printableText(e.text);
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QStringList{
        stamp,
        kindName(e.kind),
        frame ? QString::number(e.address) : QString(),
        frame ? QString::number(e.function) : QString(),
        opt(e.start),
        opt(e.count),
        opt(e.byteCount),
        hexBytes(e.data),
        registers(e.data),
        (e.function & 0x80) && isFrameEvent(e) ? QString::number(e.exceptionCode) : QString(),
        isFrameEvent(e) ? (e.lrcGood ? QStringLiteral("good") : QStringLiteral("wrong"))
                        : QString(),
        e.kind == LineEvent::Kind::Reply        ? ms(e.replyMs)
        : e.kind == LineEvent::Kind::Unanswered ? ms(e.atMs - e.requestAtMs)
                                                : QString(),
        QLatin1Char('"') + text + QLatin1Char('"')}
        .join(QLatin1Char(','));
}
