#pragma once

#include <QByteArray>

#include <functional>

class LinkPort;

// One request out, one reply in: the two ways the programs wait for a device.
class ExchangeStrategy
{
public:
    virtual ~ExchangeStrategy() = default;
    // Sends request, collects the reply text into reply; returns 0, 999 or an exception code.
    // completed is false when the wait ran out.
    virtual int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                         bool &completed) = 0;
};

// The configurator's exchange: a short settling pause, then passes of at least 9 ms that read
// what has arrived until CR LF comes or waitMs / 10 passes are used up. The port is open only
// for the exchange.
class PollingExchange : public ExchangeStrategy
{
public:
    int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                 bool &completed) override;

    // Seams for tests that count passes without a clock; the defaults sleep and pump for real.
    std::function<void(int)> settle;  // plain sleep before the exchange
    std::function<void(int)> between; // pumped wait between passes
    int passesUsed = 0;               // passes of the last exchange
};

// The test tool's exchange: write (with RTS raised around it when asked), wait the whole time
// while the event loop runs, then one read.
class SingleReadExchange : public ExchangeStrategy
{
public:
    int Exchange(LinkPort &port, const QByteArray &request, int waitMs, QByteArray &reply,
                 bool &completed) override;

    bool rtsControl = true;
    std::function<void(int)> wait;
};
