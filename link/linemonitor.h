#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// A passive decoder of a MODBUS ASCII line: bytes as they were seen, in both directions, in;
// frames and noise out, each reply paired with the request before it. Pure and incremental:
// the same bytes fed in any chunking give the same events, only their time stamps differ.

struct LineEvent
{
    enum class Kind {
        Request,
        Reply,      // answers the request before it
        Unpaired,   // looks like a reply, but no request it answers was seen
        Unanswered, // the request before the next one (or the end) got no reply
        Noise,      // characters outside any frame
        Malformed,  // begun by ":" but not hexadecimal, too short, cut off or without CR LF
    };
    Kind kind = Kind::Noise;
    double atMs = 0; // when its last character was seen
    QByteArray text; // as on the line
    bool lrcGood = false;
    std::uint8_t address = 0;
    std::uint8_t function = 0; // with the exception bit as sent
    // Fields of the function, those it has: start and count of a request (and of a write's
    // echo), the byte count and data bytes of a read reply or a write request.
    std::optional<std::uint16_t> start;
    std::optional<std::uint16_t> count;
    std::optional<int> byteCount;
    QByteArray data;
    int exceptionCode = 0;  // of an exception reply
    double replyMs = -1;    // a reply: from its request's last character to its own
    double requestAtMs = 0; // an unanswered request: when it was seen
};

class LineDecoder
{
public:
    // The bytes seen at atMs (a monotonic clock); the events they complete.
    QList<LineEvent> feed(const QByteArray &bytes, double atMs);
    // The end of the watch: the noise and the frame begun so far, the request still waiting.
    QList<LineEvent> finish(double atMs);

private:
    void endFrame(QList<LineEvent> &out, double atMs);
    void endNoise(QList<LineEvent> &out, double atMs);
    void classify(LineEvent &frame, QList<LineEvent> &out);

    QByteArray m_noise;
    double m_noiseAtMs = 0;
    QByteArray m_frame;                 // from ":" on, while a frame is open
    std::optional<LineEvent> m_pending; // the last request, until answered
};

// The event as one line of text (stamp is its wall-clock time as shown), or as a CSV row under
// lineEventCsvHeader(). Full stops whatever the locale.
QString formatLineEvent(const LineEvent &event, const QString &stamp);
QString lineEventCsvHeader();
QString lineEventCsv(const LineEvent &event, const QString &stamp);
