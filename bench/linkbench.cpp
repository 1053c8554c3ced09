// Times the configurator's exchanges against the simulated plant: each default device at its own
// line speed, the reads the program makes most (a poll of the four measured values, the identity
// block, one full chunk, all four setpoint programs), with the CPU the process spent meanwhile.
// With "giveup" as the first argument it instead times how long each program's link waits for a
// silent device on a pseudo-terminal, for a range of reply waits.

#include "devsim/devicesimulator.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/modbuslink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

struct Case
{
    const char *name;
    int replyChars; // characters of the reply frame(s), for the line's own share
    std::function<int(ModbusLink &, quint8)> run;
};

// A line on which nothing ever answers: a pseudo-terminal whose other end only listens.
int silentLine(const QString &linkPath)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    QFile::remove(linkPath);
    if (::symlink(ptsname(master), linkPath.toLocal8Bit().constData()) != 0)
        return -1;
    return master;
}

// Give-up times of a silent device, from the request to the verdict: the configurator's
// function 3 exchange (its 50 ms settling pause taken off) and the test tool's read.
int giveUpTimes(int rounds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("silent");
    const int master = silentLine(path);
    if (master < 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    CommPort port;
    port.setDeviceName(path);
    RegisterImages images;
    ModbusLink link(images);
    link.setPort(&port);
    std::printf("%-6s %-7s %-28s %8s %8s %8s %7s\n", "W ms", "speed", "exchange", "min ms",
                "max ms", "mean ms", "passes");
    for (const Baudrate rate : {Baudrate::br115200, Baudrate::br9600}) {
        port.setBaudrate(rate);
        for (const int w : {110, 150, 200, 400}) {
            link.setResponseWait(w - ModbusLink::kRegisterExtraWait);
            double lo = 1e9, hi = 0, sum = 0;
            for (int i = 0; i < rounds; ++i) {
                QElapsedTimer clock;
                clock.start();
                link.ReadHoldingRegisters(1, 0, 2);
                const double ms = clock.nsecsElapsed() / 1e6 - 50.0;
                lo = std::min(lo, ms);
                hi = std::max(hi, ms);
                sum += ms;
            }
            std::printf("%-6d %-7d %-28s %8.1f %8.1f %8.1f %7d\n", w, baudrateValue(rate),
                        "configurator, 1 register", lo, hi, sum / rounds,
                        link.exchange().passesUsed);
        }
    }
    ::close(master);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "giveup")
        return giveUpTimes(argc > 2 ? QByteArray(argv[2]).toInt() : 5);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;

    QTemporaryDir dir;
    qputenv("LORVAN_PORT_DIR", dir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    devsim::DeviceSimulator sim;
    const devsim::Scenario scenario = devsim::defaultScenario();
    sim.load(scenario);
    QString error;
    if (!sim.start(dir.path(), &error)) {
        std::fprintf(stderr, "simulator: %s\n", qUtf8Printable(error));
        return 1;
    }

    CommPort port;
    RegisterImages images;
    ModbusLink link(images);
    link.Setup(port);

    const Case cases[] = {
        {"poll, 8 input registers", 1 + 6 + 32 + 4,
         [](ModbusLink &l, quint8 a) { return l.ReadInputRegisters(a, 0, 16); }},
        {"identity, 9 registers", 1 + 6 + 36 + 4,
         [](ModbusLink &l, quint8 a) { return l.ReadHoldingRegisters(a, 0, 18); }},
        {"one chunk, 25 registers", 1 + 6 + 100 + 4,
         [](ModbusLink &l, quint8 a) { return l.ReadHoldingRegisters(a, 0x9FE, 50); }},
        {"four programs, 400 registers", 16 * (1 + 6 + 100 + 4),
         [](ModbusLink &l, quint8 a) { return l.ReadHoldingRegisters(a, 0x9FE, 800); }},
    };

    std::printf("%-8s %-7s %-30s %10s %10s %8s %6s\n", "address", "speed", "read", "ms/read",
                "line ms", "cpu %", "fails");
    for (const devsim::DeviceSetup &device : scenario.lines.first().devices) {
        const auto rate = baudrateForSpeedCode(device.speedCode);
        if (!rate)
            continue;
        port.setBaudrate(*rate);
        const int speed = baudrateValue(*rate);
        for (const Case &c : cases) {
            int fails = 0;
            QElapsedTimer clock;
            clock.start();
            const double cpu0 = cpuSeconds();
            for (int i = 0; i < rounds; ++i)
                fails += c.run(link, device.address) != kReplyOk;
            const double wall = clock.elapsed();
            const double cpu = (cpuSeconds() - cpu0) * 1000.0;
            std::printf("%-8d %-7d %-30s %10.1f %10.1f %8.1f %6d\n", device.address, speed, c.name,
                        wall / rounds, c.replyChars * 10.0 * 1000.0 / speed, 100.0 * cpu / wall,
                        fails);
        }
    }
    sim.stop();
    return 0;
}
