#pragma once

#include "link/exchangestats.h"
#include "link/frame.h"

#include <QByteArray>

#include <functional>

class LinkPort;

// Margin for the device to turn round between the end of a request and the start of its reply.
constexpr int kTurnaroundMs = 50;

// Characters of a reply frame that carries replyBytes bytes (address to data, without the LRC).
constexpr int replyFrameChars(int replyBytes)
{
    return 1 + 2 * replyBytes + 2 + 2;
}

// The wait an exchange gets: the caller's wait, but never less than the line needs to carry the
// request and the longest expected reply at the current speed, plus the device's turnaround.
// Slow lines would otherwise give up on healthy devices in the middle of their reply.
int replyWindowMs(int waitMs, int requestChars, int replyChars, double characterMs);

// One request out, one reply in: the two ways the programs wait for a device. Only a frame that
// answers the request (MatchReply against what the request's own fields expect) is its reply;
// everything else received is passed over.
class ExchangeStrategy
{
public:
    virtual ~ExchangeStrategy() = default;
    // Sends request, collects everything received into reply; returns 0, 999 or an exception
    // code. completed is false when the wait ran out.
    virtual int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                         bool &completed) = 0;

    // The judgement of the last exchange's text: where in it the reply is, what was refused.
    const ReplyMatch &lastMatch() const { return m_match; }
    // For the line statistics: whether the last exchange found its port unusable, and its reply
    // time (request's last character out to the reply's CR LF in), -1 without a reply.
    bool portFailed() const { return m_portFailed; }
    double replyMs() const { return m_replyMs; }

protected:
    // The reply time from the port's own stamps, or fallbackMs where the port keeps none.
    void timeReply(const LinkPort &port, double fallbackMs);

    ReplyMatch m_match;
    bool m_portFailed = false;
    double m_replyMs = -1;
};

// What the statistics keep of the exchange strategy just ran for request (address, function
// first); raised: it ended by a port error.
ExchangeRecord exchangeRecord(const LinkPort &port, const QByteArray &requestBytes,
                              const ExchangeStrategy &strategy, bool raised);

// The configurator's exchange: a short settling pause, then passes at most 9 ms apart that read
// what has arrived until the reply is complete or waitMs have passed since the request was
// written; the last pass reads at the deadline itself. The port is open only for the exchange.
class PollingExchange : public ExchangeStrategy
{
public:
    int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                 bool &completed) override;

    // Seams for tests that run in virtual time; the defaults sleep, pump and read the clock.
    std::function<void(int)> settle;  // plain sleep before the exchange
    std::function<void(int)> between; // pumped wait between passes
    std::function<qint64()> clockMs;  // a monotonic clock in milliseconds
    int passesUsed = 0;               // passes of the last exchange
};

// The test tool's exchange: write (with RTS raised until the request has left the line when
// asked), wait the whole time while the event loop runs, then one read.
class SingleReadExchange : public ExchangeStrategy
{
public:
    int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                 bool &completed) override;

    bool rtsControl = true;
    std::function<void(int)> wait;
};
