#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

// MODBUS ASCII framing: pure text in, text or result code out; no port in sight.

// Result codes of every exchange: 0 a good reply, kNoReply when nothing usable came back, any
// other value the exception code the device answered with.
constexpr int kReplyOk = 0;
constexpr int kNoReply = 999;

// ":" + two upper-case hex digits per byte + LRC + CR LF.
QByteArray BuildFrame(const std::uint8_t *bytes, int count);

// 0..15 for a hexadecimal digit of either case, 999 for anything else.
int HexDigit(char c);

// Judges a received text: 0, 999 or the exception code. completed is false when the exchange
// ran out of time, which makes any text unusable.
int CheckReply(const QByteArray &reply, bool completed);

// The MODBUS serial-line CRC with its two bytes in register order: hi * 256 + lo.
std::uint16_t Crc16(const std::uint8_t *data, std::uint16_t length);

// The byteCount data bytes of a good read reply, taken two characters each from the eighth
// character on. False (and out untouched) when the reply carries fewer data characters than that
// before its LRC: a short reply is never read past its end.
bool ReplyData(const QByteArray &reply, int byteCount, std::uint8_t *out);

// What the reply to one request must look like to be taken as its reply.
struct ReplyExpectation
{
    std::uint8_t address = 0;  // 0: any address may answer (the test tool asks whoever is there)
    std::uint8_t function = 0; // 0: any function; no request the link builds has it
    int dataBytes = -1;        // reads: the byte count, and exactly that many data bytes
    bool echo = false;         // writes 15 and 16: the reply repeats start and count
    std::uint16_t start = 0;
    std::uint16_t count = 0;
};

// The expectation a request carries in its own fields: reads of functions 1 to 4 by their count,
// writes of 15 and 16 by their echo; any other function by address and function alone. Fewer
// than two bytes expect any frame at all.
ReplyExpectation ExpectedReply(const std::uint8_t *request, int count);
// The same from the request text; a text that is no well-formed frame expects any frame.
ReplyExpectation ExpectedReply(const QByteArray &requestText);

// Why a complete frame on the line was not taken as the reply.
enum class FrameRefusal : std::uint8_t {
    LrcError,         // well formed, but its sum is not zero: nothing in it can be trusted
    Malformed,        // odd or non-hexadecimal body, too short, cut off by another ":"
    OtherAddress,     // a reply from (or a request to) another device
    OtherFunction,    // neither the function asked nor its exception
    WrongLengthOrEcho // byte count or data length not as asked, or a write echo that differs
};

// How the text received for one request was judged.
struct ReplyMatch
{
    bool complete = false;       // the reply is in the text
    qsizetype start = -1;        // index of its ":"
    qsizetype length = 0;        // characters up to and including its CR LF
    int result = kNoReply;       // 0, or the exception code of a good exception reply
    bool exception = false;      // the device answered with an exception
    QList<FrameRefusal> refused; // complete frames before the reply that were not it, in order
    qsizetype skipped = 0;       // characters outside any frame (line noise)
    bool partial = false;        // no reply, and a frame begun but not ended at the text's end
};

// Looks through everything received so far for the first frame that answers expect. Characters
// before a ":" are skipped, a ":" always starts a frame afresh, and nothing after the reply is
// looked at. Pure: the same text always gives the same judgement.
ReplyMatch MatchReply(const QByteArray &received, const ReplyExpectation &expect);

// The published lookup tables' first entries, for checking the generated ones.
std::uint8_t Crc16HighTable(int index);
std::uint8_t Crc16LowTable(int index);
