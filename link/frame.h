#pragma once

#include <QByteArray>

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

// The published lookup tables' first entries, for checking the generated ones.
std::uint8_t Crc16HighTable(int index);
std::uint8_t Crc16LowTable(int index);
