// Times the configurator's exchanges against the simulated plant: each default device at its own
// line speed, the reads the program makes most (a poll of the four measured values, the identity
// block, one full chunk, all four setpoint programs), with the CPU the process spent meanwhile.

#include "devsim/devicesimulator.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/modbuslink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <sys/resource.h>

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
            std::printf("%-8d %-7d %-30s %10.1f %10.1f %8.1f %6d\n", device.address, speed,
                        c.name, wall / rounds, c.replyChars * 10.0 * 1000.0 / speed,
                        100.0 * cpu / wall, fails);
        }
    }
    sim.stop();
    return 0;
}
