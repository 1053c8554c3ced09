#pragma once

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

namespace bench {

// A helper process (the simulator, the virtual display, a program under measurement) ends with
// the benchmark, even when the benchmark itself is killed: a run cut short by its time limit
// must not leave them behind.
inline void endWithUs(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace bench
