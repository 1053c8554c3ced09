#include "platform/pumpedwait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool DelayPumping(int ms)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A timer may fire a little early; go round until the full time has passed.
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
        timer.start(int(left));
        // Once the application quits, every event loop returns at once: the wait is over then,
        // or it would spin through its remaining time.
        if (loop.exec() < 0)
            return false;
    }
    return true;
}
