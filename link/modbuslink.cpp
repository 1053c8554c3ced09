#include "link/modbuslink.h"

#include "link/commport.h"
#include "link/frame.h"
#include "link/porterror.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

class BusyScope
{
public:
    explicit BusyScope(bool &flag) : m_flag(flag) { m_flag = true; }
    ~BusyScope() { m_flag = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &m_flag;
};

bool fits(int first, int count, std::size_t size)
{
    return first >= 0 && count >= 0 && std::size_t(first) + std::size_t(count) <= size;
}

std::uint8_t hi(std::uint16_t v)
{
    return std::uint8_t(v >> 8);
}

std::uint8_t lo(std::uint16_t v)
{
    return std::uint8_t(v & 0xFF);
}

} // namespace

RegisterSpan registerSpan(std::uint16_t bytePosition, std::uint16_t byteLength)
{
    std::uint16_t b = bytePosition;
    std::uint16_t len = byteLength;
    if (b & 1) {
        b = std::uint16_t(b - 1);
        len = std::uint16_t(len + 1);
    }
    if (len & 1)
        len = std::uint16_t(len + 1);
    return {std::uint16_t(b / 2), std::uint16_t(len / 2)};
}

ModbusLink::ModbusLink(RegisterImages &images) : m_images(images) {}

void ModbusLink::Setup(CommPort &port)
{
    port.setBaudrate(Baudrate::br9600);
    port.setDatabits(Databits::db8);
    port.setParity(Parity::paNone);
    port.setStopbits(Stopbits::sb2);
    port.setPortNum(1);
    m_port = &port;
}

void ModbusLink::putHeader(std::uint8_t address, std::uint8_t function, std::uint16_t first,
                           std::uint16_t count)
{
    m_request[0] = address;
    m_request[1] = function;
    m_request[2] = hi(first);
    m_request[3] = lo(first);
    m_request[4] = hi(count);
    m_request[5] = lo(count);
}

int ModbusLink::run(int requestBytes, int waitMs, int replyBytes)
{
    m_requestText = BuildFrame(m_request.data(), requestBytes);
    m_replyText.clear();
    m_replyFrame.clear();
    m_match = {};
    if (!m_port) {
        m_completed = false;
        return kNoReply;
    }
    const int window = replyWindowMs(waitMs, int(m_requestText.size()), replyFrameChars(replyBytes),
                                     m_port->characterMs());
    const QByteArray head(reinterpret_cast<const char *>(m_request.data()), 2);
    int result = kNoReply;
    try {
        result = m_exchange.Exchange(*m_port, m_requestText, window, m_replyText, m_completed);
    } catch (...) {
        if (m_stats)
            m_stats->record(exchangeRecord(*m_port, head, m_exchange, true));
        throw;
    }
    if (m_stats)
        m_stats->record(exchangeRecord(*m_port, head, m_exchange, false));
    m_match = m_exchange.lastMatch();
    if (m_match.complete)
        m_replyFrame = m_replyText.mid(m_match.start, m_match.length);
    if (showReply)
        showReply(m_replyText);
    return result;
}

int ModbusLink::readRegisters(std::uint8_t function, std::uint8_t address,
                              std::uint16_t bytePosition, std::uint16_t byteLength,
                              std::span<std::uint8_t> image, bool wrapErrors)
{
    if (m_busy)
        return kNoReply;
    BusyScope busy(m_busy);
    RegisterSpan span = registerSpan(bytePosition, byteLength);
    if (!fits(2 * span.start, 2 * span.count, image.size()))
        return kNoReply;

    int result = kReplyOk;
    while (span.count > 0) {
        const std::uint16_t m = std::min<std::uint16_t>(span.count, kChunkRegisters);
        std::uint8_t *target = image.data() + 2 * span.start;
        try {
            putHeader(address, function, span.start, m);
            int chunk = run(6, m_responseWait + kRegisterExtraWait, 3 + 2 * m);
            if (chunk == kReplyOk && !ReplyData(m_replyFrame, 2 * m, target))
                chunk = kNoReply;
            if (result == kReplyOk)
                result = chunk;
        } catch (const std::exception &) {
            if (!wrapErrors)
                throw;
            const int osError = errno;
            throw ESendThreadError(
                QStringLiteral("Ошибка-ReadHoldRegs: %1 addr: %2 str: %3 ofs: %4")
                    .arg(osError)
                    .arg(QString::number(quintptr(target), 16)
                             .toUpper()
                             .rightJustified(int(2 * sizeof(void *)), QLatin1Char('0')))
                    .arg(QString::fromLatin1(m_replyText))
                    .arg(QString::number(span.start, 16)
                             .toUpper()
                             .rightJustified(4, QLatin1Char('0'))));
        }
        span.count = std::uint16_t(span.count - m);
        span.start = std::uint16_t(span.start + m);
    }
    return result;
}

template <typename Transfer>
int ModbusLink::tellHolding(std::uint8_t address, std::uint16_t bytePosition,
                            std::uint16_t byteLength, Transfer transfer)
{
    // Refused while another exchange waits: nothing was touched, nothing to tell.
    if (m_busy || !holdingTransferred)
        return transfer();
    struct Tell
    {
        ModbusLink &link;
        std::uint8_t address;
        RegisterSpan span;
        bool holds = false;
        // Also when an error travels through: the image may then be part written.
        ~Tell() { link.holdingTransferred(address, span, holds); }
    } tell{*this, address, registerSpan(bytePosition, byteLength)};
    const int result = transfer();
    tell.holds = result == kReplyOk;
    return result;
}

int ModbusLink::ReadHoldingRegisters(std::uint8_t address, std::uint16_t bytePosition,
                                     std::uint16_t byteLength)
{
    return tellHolding(address, bytePosition, byteLength, [&] {
        return readRegisters(3, address, bytePosition, byteLength, m_images.holding, true);
    });
}

int ModbusLink::ReadInputRegisters(std::uint8_t address, std::uint16_t bytePosition,
                                   std::uint16_t byteLength)
{
    return readRegisters(4, address, bytePosition, byteLength, m_images.input, false);
}

int ModbusLink::ReadInputRegisterBlock(std::uint8_t address, std::uint16_t startRegister,
                                       std::uint16_t count, std::span<std::uint16_t> out)
{
    if (m_busy || count > out.size())
        return kNoReply;
    BusyScope busy(m_busy);
    putHeader(address, 4, startRegister, count);
    const int result = run(6, m_responseWait + kRegisterExtraWait, 3 + 2 * count);
    if (result != kReplyOk)
        return result;
    std::vector<std::uint8_t> bytes(2 * std::size_t(count));
    if (!ReplyData(m_replyFrame, 2 * count, bytes.data()))
        return kNoReply;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = std::uint16_t(bytes[2 * i] + 256 * bytes[2 * i + 1]);
    return result;
}

int ModbusLink::readFlags(std::uint8_t function, std::uint8_t address, std::uint16_t position,
                          std::uint16_t count, std::span<std::uint8_t> image)
{
    if (m_busy || !fits(position, count, image.size()))
        return kNoReply;
    BusyScope busy(m_busy);
    putHeader(address, function, position, count);
    const int byteCount = (count + 7) / 8;
    const int result = run(6, m_responseWait + kFlagExtraWait, 3 + byteCount);
    if (result != kReplyOk)
        return result;
    std::uint8_t packed[3] = {}; // image halves hold at most 24 flags
    if (!ReplyData(m_replyFrame, byteCount, packed))
        return kNoReply;
    for (int i = 0; i < count; ++i)
        image[position + i] = (packed[i / 8] >> (i % 8)) & 1;
    return result;
}

int ModbusLink::ReadDiscreteInputs(std::uint8_t address, std::uint16_t position,
                                   std::uint16_t count)
{
    return readFlags(2, address, position, count, m_images.discrete);
}

int ModbusLink::ReadCoils(std::uint8_t address, std::uint16_t position, std::uint16_t count)
{
    return readFlags(1, address, position, count, m_images.coils);
}

int ModbusLink::WriteCoils(std::uint8_t address, std::uint16_t position, std::uint16_t count)
{
    if (m_busy || !fits(position, count, m_images.coils.size()))
        return kNoReply;
    BusyScope busy(m_busy);
    putHeader(address, 15, position, count);
    const int byteCount = (count + 7) / 8;
    m_request[6] = std::uint8_t(byteCount);
    for (int b = 0; b < byteCount; ++b) {
        std::uint8_t packed = 0;
        for (int bit = 0; bit < 8 && 8 * b + bit < count; ++bit) {
            if (m_images.coils[position + 8 * b + bit] != 0)
                packed |= std::uint8_t(1 << bit);
        }
        m_request[7 + b] = packed;
    }
    ++m_writeTally.planned;
    const int result = run(7 + byteCount, m_responseWait + kFlagExtraWait, 6);
    if (result == kReplyOk)
        ++m_writeTally.acknowledged;
    return result;
}

int ModbusLink::WriteHoldingRegisters(std::uint8_t address, std::uint16_t bytePosition,
                                      std::uint16_t byteLength)
{
    return tellHolding(address, bytePosition, byteLength,
                       [&] { return writeHolding(address, bytePosition, byteLength); });
}

int ModbusLink::writeHolding(std::uint8_t address, std::uint16_t bytePosition,
                             std::uint16_t byteLength)
{
    if (m_busy)
        return kNoReply;
    BusyScope busy(m_busy);
    RegisterSpan span = registerSpan(bytePosition, byteLength);
    if (!fits(2 * span.start, 2 * span.count, m_images.holding.size()))
        return kNoReply;

    m_writeTally.planned += (span.count + kChunkRegisters - 1) / kChunkRegisters;
    int result = kReplyOk;
    while (span.count > 0) {
        const std::uint16_t m = std::min<std::uint16_t>(span.count, kChunkRegisters);
        putHeader(address, 16, span.start, m);
        m_request[6] = std::uint8_t(2 * m);
        std::copy_n(m_images.holding.begin() + 2 * span.start, 2 * m, m_request.begin() + 7);
        const int chunk = run(7 + 2 * m, m_responseWait + kFlagExtraWait, 6);
        if (chunk == kReplyOk)
            ++m_writeTally.acknowledged;
        if (result == kReplyOk)
            result = chunk;
        if (chunk == kNoReply)
            break; // a silent device gets no further chunks; an exception reply does
        span.count = std::uint16_t(span.count - m);
        span.start = std::uint16_t(span.start + m);
    }
    return result;
}
