#include "link/exchange.h"

#include "link/frame.h"
#include "link/linkport.h"
#include "link/porterror.h"
#include "platform/pumpedwait.h"

#include <QThread>

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

int PollingExchange::Exchange(LinkPort &port, const QByteArray &request, int waitMs,
                              QByteArray &reply, bool &completed)
{
    if (settle)
        settle(kSettleMs);
    else
        QThread::msleep(kSettleMs);
    reply.clear();
    CloseOnExit guard{port};
    passesUsed = 0;
    completed = true;

    if (!port.IsOpen()) {
        bool raised = false;
        try {
            port.Open();
        } catch (const PortError &) {
            raised = true; // an unopenable port is simply no reply
        }
        if (!raised && !port.IsOpen())
            return kNoReply;
    }
    port.Purge();
    const bool ok = port.WriteText(request);

    const double passLimit = waitMs / 10.0;
    bool ended = false;
    do {
        ++passesUsed;
        char chunk[kReadChunk];
        const int n = port.ReadAvailable(chunk, kReadChunk);
        reply.append(chunk, n);
        if (reply.contains("\r\n")) {
            port.Close();
            ended = true;
        }
        // Checked even when CR LF has just come: a reply that needs one pass too many is late.
        if (passesUsed > passLimit) {
            port.Close();
            completed = false;
            ended = true;
        }
        if (between)
            between(kPassMs);
        else
            DelayPumping(kPassMs);
    } while (ok && !ended);

    return CheckReply(reply, completed);
}

int SingleReadExchange::Exchange(LinkPort &port, const QByteArray &request, int waitMs,
                                 QByteArray &reply, bool &completed)
{
    completed = true;
    port.Purge();
    if (!port.IsOpen())
        port.Open();
    CloseOnExit guard{port};
    port.Purge();
    if (rtsControl)
        port.SetRts(true);
    port.WriteText(request);
    if (rtsControl)
        port.SetRts(false);
    if (wait)
        wait(waitMs);
    else
        DelayPumping(waitMs);
    reply = port.ReadAllWaiting();
    return CheckReply(reply, true);
}
