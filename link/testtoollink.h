#pragma once

#include "link/exchange.h"

#include <QByteArray>

#include <array>
#include <cstdint>

class CommPort;
class LinkPort;

// The link test tool's own link: one request per transaction, values in standard MODBUS order
// (first byte high), a fixed wait and one read. Port errors reach the caller.
class TestToolLink
{
public:
    static constexpr int kMaxRegisters = 125; // the most one MODBUS read may carry

    // 19200 baud, 8 data bits, no parity, 1 stop bit, direct writes, port 1.
    void Setup(CommPort &port);
    void setPort(LinkPort *port) { m_port = port; }
    LinkPort *port() const { return m_port; }

    int ResponseWait() const { return m_responseWait; }
    void setResponseWait(int ms) { m_responseWait = ms; }
    // "Аппаратный контроль": RTS raised while sending, for a direction-switched converter.
    bool rtsControl() const { return m_exchange.rtsControl; }
    void setRtsControl(bool on) { m_exchange.rtsControl = on; }

    // Function 3: fills values (256 * first + second) and rawBytes (wire order) on success.
    int Read(std::uint8_t address, std::uint16_t startRegister, std::uint16_t count);
    // Function 16 from values; the result is kept in lastWriteResult as well.
    int Write(std::uint8_t address, std::uint16_t startRegister, std::uint16_t count);

    std::array<std::uint16_t, kMaxRegisters> values{};
    QByteArray rawBytes;
    int lastWriteResult = 0;

    const QByteArray &requestText() const { return m_requestText; }
    // Everything the last exchange read, as the receive-buffer viewer shows it.
    const QByteArray &replyText() const { return m_replyText; }
    // The last exchange's reply frame alone (empty without one), and how its text was judged.
    const QByteArray &replyFrame() const { return m_replyFrame; }
    const ReplyMatch &lastMatch() const { return m_match; }
    SingleReadExchange &exchange() { return m_exchange; }
    // Where every exchange is recorded for the line statistics; none by default.
    void setStats(ExchangeStats *stats) { m_stats = stats; }

    static constexpr int kReadExtraWait = 25;
    static constexpr int kWriteExtraWait = 50;

private:
    // replyBytes: the bytes of the expected reply, for the reply window on slow lines.
    int run(const std::uint8_t *request, int count, int waitMs, int replyBytes);

    LinkPort *m_port = nullptr;
    SingleReadExchange m_exchange;
    int m_responseWait = 100;
    QByteArray m_requestText;
    QByteArray m_replyText;
    QByteArray m_replyFrame;
    ReplyMatch m_match;
    bool m_busy = false;
    ExchangeStats *m_stats = nullptr;
};
