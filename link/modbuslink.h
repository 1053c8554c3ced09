#pragma once

#include "link/exchange.h"
#include "link/registerimages.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>
#include <span>

class CommPort;
class LinkPort;

// Widening of a byte range to whole registers: an odd start takes in the register's first byte,
// an odd length is rounded up. 16-bit arithmetic, as the device's own addresses are.
struct RegisterSpan
{
    std::uint16_t start = 0; // first register
    std::uint16_t count = 0; // registers
};
RegisterSpan registerSpan(std::uint16_t bytePosition, std::uint16_t byteLength);

// The configurator's link: builds requests, runs exchanges and moves data between replies and
// the register images. Never retries. A transaction of several chunks runs every chunk it may
// and reports the first failure among them, so that a partly stale image is never success. One
// exchange at a time: a transaction started while another one waits (from a timer or a click
// delivered during its wait) returns 999 at once and touches nothing.
class ModbusLink
{
public:
    explicit ModbusLink(RegisterImages &images);

    // 9600 baud, 8 data bits, no parity, 2 stop bits, port 1; the port is used from then on.
    void Setup(CommPort &port);
    void setPort(LinkPort *port) { m_port = port; }
    LinkPort *port() const { return m_port; }

    int ResponseWait() const { return m_responseWait; }
    void setResponseWait(int ms) { m_responseWait = ms; }

    int ReadHoldingRegisters(std::uint8_t address, std::uint16_t bytePosition,
                             std::uint16_t byteLength);
    int ReadInputRegisters(std::uint8_t address, std::uint16_t bytePosition,
                           std::uint16_t byteLength);
    // Registers as device memory order words: first reply byte + 256 * second.
    int ReadInputRegisterBlock(std::uint8_t address, std::uint16_t startRegister,
                               std::uint16_t count, std::span<std::uint16_t> out);
    int ReadDiscreteInputs(std::uint8_t address, std::uint16_t position, std::uint16_t count);
    int ReadCoils(std::uint8_t address, std::uint16_t position, std::uint16_t count);
    int WriteCoils(std::uint8_t address, std::uint16_t position, std::uint16_t count);
    int WriteHoldingRegisters(std::uint8_t address, std::uint16_t bytePosition,
                              std::uint16_t byteLength);

    // Write requests (chunks) the transactions meant to send, and those the device acknowledged,
    // counted from the start: a command that writes in several exchanges tells from the
    // difference how much of it the device now holds.
    struct WriteTally
    {
        int planned = 0;
        int acknowledged = 0;
    };
    WriteTally writeTally() const { return m_writeTally; }

    const QByteArray &requestText() const { return m_requestText; }
    // Everything the last exchange received, as the diagnostic field shows it.
    const QByteArray &replyText() const { return m_replyText; }
    // The last exchange's reply frame alone (empty without one), and how its text was judged.
    const QByteArray &replyFrame() const { return m_replyFrame; }
    const ReplyMatch &lastMatch() const { return m_match; }
    bool completed() const { return m_completed; }
    bool busy() const { return m_busy; }
    RegisterImages &images() { return m_images; }
    PollingExchange &exchange() { return m_exchange; }
    // Where every exchange is recorded for the line statistics; none by default.
    void setStats(ExchangeStats *stats) { m_stats = stats; }
    ExchangeStats *stats() const { return m_stats; }

    // Shown every reply text as it came (the main window's diagnostic field).
    std::function<void(const QByteArray &)> showReply;
    // Told after every holding-register read or write that reached the line: holds is true
    // when the registers of span in the image now hold what the device at address has, false
    // when the transfer failed and may have left the image part one, part the other.
    std::function<void(std::uint8_t address, RegisterSpan span, bool holds)> holdingTransferred;

    static constexpr int kChunkRegisters = 25;
    static constexpr int kRegisterExtraWait = 100; // functions 3 and 4
    static constexpr int kFlagExtraWait = 300;     // functions 1, 2, 15 and 16

private:
    // replyBytes: the bytes of the longest reply expected, for the reply window on slow lines.
    int run(int requestBytes, int waitMs, int replyBytes);
    int readRegisters(std::uint8_t function, std::uint8_t address, std::uint16_t bytePosition,
                      std::uint16_t byteLength, std::span<std::uint8_t> image, bool wrapErrors);
    int readFlags(std::uint8_t function, std::uint8_t address, std::uint16_t position,
                  std::uint16_t count, std::span<std::uint8_t> image);
    int writeHolding(std::uint8_t address, std::uint16_t bytePosition, std::uint16_t byteLength);
    template <typename Transfer>
    int tellHolding(std::uint8_t address, std::uint16_t bytePosition, std::uint16_t byteLength,
                    Transfer transfer);
    void putHeader(std::uint8_t address, std::uint8_t function, std::uint16_t first,
                   std::uint16_t count);

    RegisterImages &m_images;
    LinkPort *m_port = nullptr;
    PollingExchange m_exchange;
    int m_responseWait = 100;
    std::array<std::uint8_t, 1023> m_request{};
    QByteArray m_requestText;
    QByteArray m_replyText;
    QByteArray m_replyFrame;
    ReplyMatch m_match;
    bool m_completed = true;
    bool m_busy = false;
    WriteTally m_writeTally;
    ExchangeStats *m_stats = nullptr;
};
