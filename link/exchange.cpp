#include "link/exchange.h"

#include "link/frame.h"
#include "link/linkport.h"
#include "link/porterror.h"
#include "platform/pumpedwait.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

// Closes the port however the exchange ends, so an error never leaves it held open.
struct CloseOnExit
{
    LinkPort &port;
    ~CloseOnExit()
    {
        if (port.IsOpen())
            port.Close();
    }
};

constexpr int kSettleMs = 50;
constexpr int kPassMs = 9;
constexpr int kReadChunk = 100;

} // namespace

int replyWindowMs(int waitMs, int requestChars, int replyChars, double characterMs)
{
    const int lineMs = int(std::ceil((requestChars + replyChars) * characterMs));
    return std::max(waitMs, lineMs + kTurnaroundMs);
}

void ExchangeStrategy::timeReply(const LinkPort &port, double fallbackMs)
{
    if (!m_match.complete)
        return;
    const qint64 sent = port.sentOutAtNs();
    const qint64 arrived = port.receivedAtNs(m_match.start + m_match.length - 1);
    if (sent >= 0 && arrived >= 0)
        m_replyMs = std::max<qint64>(0, arrived - sent) / 1e6;
    else
        m_replyMs = fallbackMs;
}

ExchangeRecord exchangeRecord(const LinkPort &port, const QByteArray &requestBytes,
                              const ExchangeStrategy &strategy, bool raised)
{
    ExchangeRecord r;
    r.port = port.lineName();
    r.address = requestBytes.size() > 0 ? std::uint8_t(requestBytes[0]) : 0;
    r.function = requestBytes.size() > 1 ? std::uint8_t(requestBytes[1]) : 0;
    r.outcome = classifyExchange(strategy.lastMatch(), raised || strategy.portFailed());
    if (r.outcome == ExchangeKind::Exception)
        r.exceptionCode = strategy.lastMatch().result;
    if (r.outcome == ExchangeKind::Good || r.outcome == ExchangeKind::Exception)
        r.replyMs = strategy.replyMs();
    return r;
}

int PollingExchange::Exchange(LinkPort &port, const QByteArray &request, int waitMs,
                              QByteArray &reply, bool &completed)
{
    // The settling pause runs from the start of the exchange to the request. The port is
    // opened inside it, not after it: opening costs real time (the serial port class writes and
    // syncs a lock file on disk each time), which would otherwise come on top of the pause.
    QElapsedTimer pauseClock;
    pauseClock.start();
    reply.clear();
    m_match = {};
    m_portFailed = false;
    m_replyMs = -1;
    CloseOnExit guard{port};
    passesUsed = 0;
    completed = true;
    const ReplyExpectation expect = ExpectedReply(request);

    bool raised = false;
    if (!port.IsOpen()) {
        try {
            port.Open();
        } catch (const PortError &) {
            raised = true; // an unopenable port is simply no reply
        }
    }
    if (settle) {
        settle(kSettleMs);
    } else {
        const qint64 leftUs = qint64(kSettleMs) * 1000 - pauseClock.nsecsElapsed() / 1000;
        if (leftUs > 0)
            QThread::usleep(quint64(leftUs));
    }
    m_portFailed = raised || !port.IsOpen();
    if (!raised && !port.IsOpen())
        return kNoReply;
    port.Purge();
    const bool ok = port.WriteText(request);

    // Timed against a deadline from the start of the wait: counting passes instead gave up
    // before the wait was over when passes were short, and late when the machine was busy.
    QElapsedTimer realClock;
    realClock.start();
    const auto now = [&] { return clockMs ? clockMs() : realClock.elapsed(); };
    const qint64 deadline = now() + waitMs;
    const qint64 writtenAt = now();
    bool ended = false;
    do {
        ++passesUsed;
        char chunk[kReadChunk];
        const int n = port.ReadAvailable(chunk, kReadChunk);
        reply.append(chunk, n);
        // A frame that is not the reply (a late answer of another device, noise) does not end
        // the wait: the right one may still come.
        if (n > 0)
            m_match = MatchReply(reply, expect);
        if (m_match.complete) {
            port.Close();
            ended = true;
        } else if (now() >= deadline) {
            port.Close();
            completed = false;
            ended = true;
        } else if (ok) {
            const int pause = int(std::min<qint64>(kPassMs, deadline - now()));
            if (between) {
                between(pause);
            } else if (!DelayPumping(pause)) {
                // The program is ending: nobody will take the reply, and every further pause
                // would return at once, turning the rest of the wait into a busy loop.
                port.Close();
                completed = false;
                ended = true;
            }
        }
    } while (ok && !ended);

    timeReply(port, double(now() - writtenAt));
    return m_match.complete ? m_match.result : kNoReply;
}

int SingleReadExchange::Exchange(LinkPort &port, const QByteArray &request, int waitMs,
                                 QByteArray &reply, bool &completed)
{
    completed = true;
    m_match = {};
    m_portFailed = false;
    m_replyMs = -1;
    port.Purge();
    if (!port.IsOpen())
        port.Open();
    CloseOnExit guard{port};
    port.Purge();
    if (rtsControl)
        port.SetRts(true);
    port.WriteText(request);
    if (rtsControl) {
        // Turning the converter round early would cut the request's tail off the line.
        port.DrainOutput();
        port.SetRts(false);
    }
    if (wait)
        wait(waitMs);
    else
        DelayPumping(waitMs);
    reply = port.ReadAllWaiting();
    m_match = MatchReply(reply, ExpectedReply(request));
    timeReply(port, -1); // one read after the whole wait tells nothing of when the reply came
    return m_match.complete ? m_match.result : kNoReply;
}
