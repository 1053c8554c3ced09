#pragma once

#include "devsim/scenario.h"

#include <QByteArray>
#include <QList>

#include <random>

namespace devsim {

struct ReplyPiece
{
    QByteArray bytes;
    int delayMs = 0; // pause before this piece
};

// Decides, reply by reply, which of a device's faults strike. The draws come from a generator
// seeded per device, so the same settings and request sequence always give the same faults.
class FaultInjector
{
public:
    explicit FaultInjector(const FaultSettings &settings);

    // The exception code that replaces this reply's answer, or 0.
    int exceptionFor();
    // Shapes the reply frame for the wire; an empty list means the reply is lost.
    QList<ReplyPiece> shape(const QByteArray &frame);

private:
    bool strikes(double probability);

    FaultSettings m_settings;
    std::mt19937 m_random;
};

} // namespace devsim
