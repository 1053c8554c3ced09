#include "link/testtoollink.h"

#include "link/commport.h"
#include "link/frame.h"

#include <algorithm>

namespace {

// Clears the in-exchange flag however the exchange ends (port errors pass through).
struct BusyScope
{
    bool &flag;
    explicit BusyScope(bool &f) : flag(f) { flag = true; }
    ~BusyScope() { flag = false; }
};

} // namespace

void TestToolLink::Setup(CommPort &port)
{
    port.setDirectWrite(true);
    port.setBaudrate(Baudrate::br19200);
    port.setDatabits(Databits::db8);
    port.setParity(Parity::paNone);
    port.setStopbits(Stopbits::sb1);
    port.setPortNum(1);
    m_port = &port;
}

int TestToolLink::run(const std::uint8_t *request, int count, int waitMs, int replyBytes)
{
    m_requestText = BuildFrame(request, count);
    m_replyFrame.clear();
    m_match = {};
    if (!m_port)
        return kNoReply;
    bool completed = true;
    const int window = replyWindowMs(waitMs, int(m_requestText.size()), replyFrameChars(replyBytes),
                                     m_port->characterMs());
    const QByteArray requestBytes(reinterpret_cast<const char *>(request), std::min(count, 2));
    int result = kNoReply;
    try {
        result = m_exchange.Exchange(*m_port, m_requestText, window, m_replyText, completed);
    } catch (...) {
        if (m_stats)
            m_stats->record(exchangeRecord(*m_port, requestBytes, m_exchange, true));
        throw;
    }
    if (m_stats)
        m_stats->record(exchangeRecord(*m_port, requestBytes, m_exchange, false));
    m_match = m_exchange.lastMatch();
    if (m_match.complete)
        m_replyFrame = m_replyText.mid(m_match.start, m_match.length);
    return result;
}

int TestToolLink::Read(std::uint8_t address, std::uint16_t startRegister, std::uint16_t count)
{
    if (m_busy || count > kMaxRegisters)
        return kNoReply;
    BusyScope busy(m_busy);
    const std::uint8_t request[6] = {address,
                                     3,
                                     std::uint8_t(startRegister >> 8),
                                     std::uint8_t(startRegister),
                                     std::uint8_t(count >> 8),
                                     std::uint8_t(count)};
    const int result = run(request, 6, m_responseWait + kReadExtraWait, 3 + 2 * count);
    if (result != kReplyOk)
        return result;
    std::array<std::uint8_t, 2 * kMaxRegisters> bytes{};
    if (!ReplyData(m_replyFrame, 2 * count, bytes.data()))
        return kNoReply;
    rawBytes = QByteArray(reinterpret_cast<const char *>(bytes.data()), 2 * count);
    for (int i = 0; i < count; ++i)
        values[i] = std::uint16_t(256 * bytes[2 * i] + bytes[2 * i + 1]);
    return result;
}

int TestToolLink::Write(std::uint8_t address, std::uint16_t startRegister, std::uint16_t count)
{
    if (m_busy || count > kMaxRegisters)
        return kNoReply;
    BusyScope busy(m_busy);
    std::array<std::uint8_t, 7 + 2 * kMaxRegisters> request{};
    request[0] = address;
    request[1] = 16;
    request[2] = std::uint8_t(startRegister >> 8);
    request[3] = std::uint8_t(startRegister);
    request[4] = std::uint8_t(count >> 8);
    request[5] = std::uint8_t(count);
    request[6] = std::uint8_t(2 * count);
    for (int i = 0; i < count; ++i) {
        request[7 + 2 * i] = std::uint8_t(values[i] >> 8);
        request[8 + 2 * i] = std::uint8_t(values[i]);
    }
    lastWriteResult = run(request.data(), 7 + 2 * count, m_responseWait + kWriteExtraWait, 6);
    return lastWriteResult;
}
