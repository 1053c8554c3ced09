// Times the configurator's link against the simulator, which runs as its own process so that its
// CPU and its turnaround are not counted as ours. Each figure is set against its floor: the
// fixed settling pause, the characters on the wire at the port's character size and the
// simulator's own turnaround, measured with a bare client on the same line. Prints rows of the
// bench table (see bench/run.sh).
//
//   lorvan-linkbench [ROUNDS [ARCHIVE-RECORDS]]   exchanges, the CPU while waiting, the archive
//                                                 walk and the scan of an empty line
//   lorvan-linkbench giveup [ROUNDS]              how long the link waits for a silent device

#include "bench/benchtable.h"
#include "bench/childprocess.h"
#include "device/archive.h"
#include "link/commport.h"
#include "link/exchange.h"
#include "link/modbuslink.h"
#include "platform/clock.h"
#include "session/networkscan.h"
#include "session/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSettleMs = 50;

// Exchanges that failed in the whole run: the run then ends with a failure status, so that a
// smoke run notices a link that no longer works.
int g_failures = 0;

// The three speeds of the demo plant; the archive holds a full ring of records of the four
// header registers only.
const char kScenario[] = R"(line 1
turnaround 5
pacing on
device 1 4
type 3
firmware 105
release 05 03
serial 1A01
variant 05
archive on cycle 9999 params none mark 1 prefill 4093
program 1 start 01.12.26 08:00 point 1
segment 20 250 1800
device 2 1
type 3
firmware 104
release 11 02
serial 1A02
variant 00
device 5 0
type 2
firmware 112
release 02 04
serial 0B05
variant 00
)";

double cpuSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// The floor on the grid of reading passes, at least 9 ms apart, that the exchange keeps: the reply
// is seen by the first pass after it is complete.
double passGridFloor(double bare)
{
    return kSettleMs + 9.0 * std::ceil(bare / 9.0);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

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

speed_t termiosSpeed(int rate)
{
    switch (rate) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    default:
        return B115200;
    }
}

// The simulator's own share of an exchange: a bare client writes the request and waits in
// poll() for the reply's CR LF. That is the simulator's turnaround and its pacing of the reply
// characters (ten bits each); a pseudo-terminal carries the request at once. Milliseconds,
// median of rounds.
double bareExchange(const QString &path, int rate, const QByteArray &request, int rounds)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CSTOPB;
    cfsetspeed(&t, termiosSpeed(rate));
    tcsetattr(fd, TCSANOW, &t);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QThread::msleep(kSettleMs);
        tcflush(fd, TCIOFLUSH);
        QElapsedTimer clock;
        clock.start();
        if (::write(fd, request.constData(), size_t(request.size())) != request.size())
            break;
        QByteArray reply;
        while (!reply.contains("\r\n") && clock.elapsed() < 1000) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) > 0) {
                char buffer[256];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    reply.append(buffer, int(n));
            }
        }
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    ::close(fd);
    return median(times);
}

struct Case
{
    const char *name;
    int requestChars;
    int replyChars;
    std::function<int(ModbusLink &, quint8)> run;
};

constexpr int readChars(int registers)
{
    return replyFrameChars(3 + 2 * registers);
}

struct Simulator
{
    QProcess process;
    bool start(const QString &portDir, const QString &scenario)
    {
        const QString program =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../devsim/lorvan-devsim");
        bench::endWithUs(process);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, {QStringLiteral("--port-dir"), portDir, scenario});
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(portDir + QStringLiteral("/COM1")) && clock.elapsed() < 5000)
            QThread::msleep(10);
        return QFileInfo::exists(portDir + QStringLiteral("/COM1"));
    }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
};

void exchanges(ModbusLink &link, CommPort &port, const QString &path, int rounds)
{
    const Case cases[] = {
        {"poll, 8 input registers", 17, readChars(8),
         [](ModbusLink &l, quint8 a) { return l.ReadInputRegisters(a, 0, 16); }},
        {"identity, 9 registers", 17, readChars(9),
         [](ModbusLink &l, quint8 a) { return l.ReadHoldingRegisters(a, 0, 18); }},
        {"read 25 registers", 17, readChars(25),
         [](ModbusLink &l, quint8 a) { return l.ReadHoldingRegisters(a, 0x9FE, 50); }},
        {"write 25 registers", 1 + 2 * (7 + 50) + 4, replyFrameChars(6),
         [](ModbusLink &l, quint8 a) { return l.WriteHoldingRegisters(a, 0x9FE, 50); }},
    };
    struct Device
    {
        quint8 address;
        Baudrate rate;
    };
    // What opening, configuring and closing the port costs each exchange.
    std::vector<double> opens;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        port.Open();
        port.Purge();
        port.Close();
        opens.push_back(clock.nsecsElapsed() / 1e6);
    }
    bench::note(QStringLiteral("port open, purge and close: %1 ms").arg(median(opens), 0, 'f', 2));
    double cpu = 0, wall = 0;
    for (const Device device : {Device{5, Baudrate::br9600}, Device{2, Baudrate::br19200},
                                Device{1, Baudrate::br115200}}) {
        port.setBaudrate(device.rate);
        const int speed = baudrateValue(device.rate);
        for (const Case &c : cases) {
            // The write puts back what the read found, so the device keeps its program.
            link.ReadHoldingRegisters(device.address, 0x9FE, 50);
            c.run(link, device.address);
            const double bare = bareExchange(path, speed, link.requestText(), rounds);
            std::vector<double> times, passes;
            int fails = 0;
            const double cpu0 = cpuSeconds();
            for (int i = 0; i < rounds; ++i) {
                QElapsedTimer clock;
                clock.start();
                fails += c.run(link, device.address) != 0;
                times.push_back(clock.nsecsElapsed() / 1e6);
                passes.push_back(link.exchange().passesUsed);
            }
            cpu += cpuSeconds() - cpu0;
            g_failures += fails;
            for (double t : times)
                wall += t / 1000.0;
            const double floor = kSettleMs + bare;
            const double ms = median(times);
            bench::row(QStringLiteral("%1 @%2%3")
                           .arg(QLatin1String(c.name))
                           .arg(speed)
                           .arg(fails ? QStringLiteral(" (%1 failed)").arg(fails) : QString()),
                       bench::ms(ms), bench::ms(floor), ms / floor, 1.10);
            bench::note(QStringLiteral("    simulator alone %1 ms = turnaround %2 + reply %3; "
                                       "both frames at the port's character size %4 ms; passes %5, "
                                       "on the pass grid %6 ms")
                            .arg(bare, 0, 'f', 1)
                            .arg(bare - c.replyChars * 10000.0 / speed, 0, 'f', 1)
                            .arg(c.replyChars * 10000.0 / speed, 0, 'f', 1)
                            .arg((c.requestChars + c.replyChars) * port.characterMs(), 0, 'f', 1)
                            .arg(median(passes))
                            .arg(passGridFloor(bare), 0, 'f', 1));
        }
    }
    bench::row(QStringLiteral("exchange CPU while waiting (s/s)"),
               QString::number(cpu / wall, 'f', 4), QStringLiteral("1 core"), cpu / wall, 0.01);
}

// The archive walk: records of the four header registers only, read newest first until count
// records have been read.
void archiveWalk(ModbusLink &link, CommPort &port, const QString &path, int records, int rounds)
{
    port.setBaudrate(Baudrate::br115200);
    std::uint16_t word = 0;
    if (link.ReadInputRegisterBlock(1, archive::kWritePositionRegister, 1, std::span(&word, 1)) !=
        0) {
        bench::note(QStringLiteral("archive: no write position"));
        return;
    }
    auto walk = archive::Walk::start(word, 0);
    if (!walk) {
        bench::note(QStringLiteral("archive: write position outside the ring"));
        return;
    }
    std::uint16_t record[archive::kHeaderRegisters];
    link.ReadInputRegisterBlock(1, std::uint16_t(*walk->current()), archive::kHeaderRegisters,
                                std::span(record));
    const double bare = bareExchange(path, 115200, link.requestText(), rounds);
    int read = 0, fails = 0;
    std::vector<double> passes;
    QElapsedTimer clock;
    clock.start();
    for (; read < records && walk->current(); ++read, walk->advance()) {
        fails += link.ReadInputRegisterBlock(1, std::uint16_t(*walk->current()),
                                             archive::kHeaderRegisters, std::span(record)) != 0;
        passes.push_back(link.exchange().passesUsed);
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    g_failures += fails;
    const double floor = read * (kSettleMs + bare);
    bench::row(QStringLiteral("archive walk, %1 records @115200%2")
                   .arg(read)
                   .arg(fails ? QStringLiteral(" (%1 failed)").arg(fails) : QString()),
               bench::ms(ms), bench::ms(floor), ms / floor, 1.10);
    bench::note(
        QStringLiteral("    simulator alone %1 ms a record; passes %2, on the pass grid %3 ms")
            .arg(bare, 0, 'f', 1)
            .arg(median(passes))
            .arg(read * passGridFloor(bare), 0, 'f', 1));
}

// The scan of addresses 1..32 at 115200 on a line where nobody answers, against its specified
// waits: per address the settling pause and the reply wait, then the closing pause.
void emptyScan(const QString &portDir)
{
    const int master = silentLine(portDir + QStringLiteral("/COM2"));
    if (master < 0) {
        bench::note(QStringLiteral("scan: no pseudo-terminal"));
        return;
    }
    Session session(systemClock());
    session.line().link.Setup(session.line().port);
    NetworkScan::Range range;
    range.portNumber = 2;
    range.firstSpeed = 7;
    range.firstAddress = 1;
    range.lastAddress = 32;
    const LineSpeed &speed = kLineSpeeds[7];
    session.line().port.setBaudrate(speed.rate);
    const int wait = replyWindowMs(speed.scanResponseWait + ModbusLink::kRegisterExtraWait, 17,
                                   readChars(9), session.line().port.characterMs());
    QElapsedTimer clock;
    clock.start();
    try {
        session.scan().run(range);
    } catch (const std::exception &e) {
        bench::note(QStringLiteral("scan: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    ::close(master);
    const double floor = 32.0 * (kSettleMs + wait) + 300;
    bench::row(QStringLiteral("scan 1..32 @115200, nobody there"), bench::ms(ms), bench::ms(floor),
               ms / floor, 1.10);
}

// Give-up times of a silent device, from the request to the verdict: the configurator's
// function 3 exchange (its settling pause taken off).
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
                const double ms = clock.nsecsElapsed() / 1e6 - kSettleMs;
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
    const int rounds = std::max(1, argc > 1 ? QByteArray(argv[1]).toInt() : 10);
    const int records = argc > 2 ? QByteArray(argv[2]).toInt() : 300;

    QTemporaryDir dir;
    qputenv("LORVAN_PORT_DIR", dir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    QFile scenario(dir.filePath("bench.scenario"));
    if (!scenario.open(QIODevice::WriteOnly) || scenario.write(kScenario) < 0) {
        std::fprintf(stderr, "no scenario\n");
        return 1;
    }
    scenario.close();
    Simulator sim;
    if (!sim.start(dir.path(), scenario.fileName())) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    CommPort port;
    RegisterImages images;
    ModbusLink link(images);
    link.Setup(port);
    const QString path = dir.filePath("COM1");
    exchanges(link, port, path, rounds);
    if (records > 0)
        archiveWalk(link, port, path, records, rounds);
    emptyScan(dir.path());
    return g_failures == 0 ? 0 : 3;
}
