#pragma once

#include <QByteArray>
#include <QList>

// Device side of MODBUS ASCII: ':' opens a frame, hexadecimal pairs in either case follow, the
// last pair is the LRC, CR LF closes it. Anything that breaks these rules is dropped silently,
// because a real device cannot tell a damaged request from line noise.
namespace devsim {

struct ReceivedFrame
{
    QByteArray text;  // from ':' up to and including CR LF, as received
    QByteArray bytes; // address, function and data, LRC removed; empty when rejected
    bool valid = false;
};

class FrameAssembler
{
public:
    // Feeds received characters; returns every frame closed by them.
    QList<ReceivedFrame> feed(const QByteArray &chars);
    void clear();

private:
    QByteArray m_pending;
    bool m_inFrame = false;
};

quint8 lrc(const QByteArray &bytes);
// Decodes the characters between ':' and CR LF; empty on any defect (odd length, non-hex,
// too short, LRC mismatch).
QByteArray decodeFrameBody(const QByteArray &body);
// ':' + upper-case hex pairs + LRC + CR LF.
QByteArray encodeFrame(const QByteArray &bytes);

} // namespace devsim
