// The logging service against the simulator with pacing on, so that line times are physical:
// polls per second on one line at 115200 and at 9600 bit/s against the line's floor, four lines
// against one, the service's CPU per poll and its resident memory.
//   lorvan-loggerbench [SECONDS]       the benchmark rows, SECONDS of polling each (default 20)
//   lorvan-loggerbench soak SECONDS    32 devices on 4 lines; fails when a poll loses its row or
//                                      the memory grows after the warm-up

#include "bench/benchtable.h"
#include "bench/childprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kDevicesPerLine = 8;
constexpr int kPauseMs = 50;
constexpr int kTurnaroundMs = 5;
// The poll's reply: 16 data bytes, 43 characters. The simulator sends it at ten bits a character;
// the request reaches it over the pseudo-terminal at once, so on this line the floor is the pause,
// the turnaround and the reply's line time (on a real line the request's adds to both sides).
constexpr int kReplyChars = 43;

double floorMs(int baud)
{
    return kPauseMs + kTurnaroundMs + kReplyChars * 10000.0 / baud;
}

int speedCode(int baud)
{
    const int speeds[] = {9600, 19200, 38400, 57600, 115200};
    for (int i = 0; i < 5; ++i) {
        if (speeds[i] == baud)
            return i;
    }
    return -1;
}

// The simulated plant, its network file and the logger polling it back to back.
class Plant
{
public:
    bool start(int lines, int baud)
    {
        m_lines = lines;
        const QString ports = m_dir.filePath(QStringLiteral("ports"));
        QString scenario;
        for (int l = 1; l <= lines; ++l) {
            scenario +=
                QStringLiteral("line %1\nturnaround %2\npacing on\n").arg(l).arg(kTurnaroundMs);
            for (int a = 1; a <= kDevicesPerLine; ++a)
                scenario += QStringLiteral("device %1 %2\ninput 1 %3.5\n")
                                .arg(a)
                                .arg(speedCode(baud))
                                .arg(10 * l + a);
        }
        QFile file(m_dir.filePath(QStringLiteral("plant.scenario")));
        if (!file.open(QIODevice::WriteOnly) || file.write(scenario.toUtf8()) < 0)
            return fail("cannot write the scenario");
        file.close();
        bench::endWithUs(m_sim);
        m_sim.setStandardOutputFile(QProcess::nullDevice());
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start(QStringLiteral(LORVAN_DEVSIM_PATH),
                    {QStringLiteral("--port-dir"), ports, file.fileName()});
        QElapsedTimer clock;
        clock.start();
        const QString last = ports + QStringLiteral("/COM%1").arg(lines);
        while (!QFileInfo::exists(last) && clock.elapsed() < 5000)
            QThread::msleep(10);
        if (!QFileInfo::exists(last))
            return fail("the simulator published no lines");

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("LORVAN_HOME"), m_dir.filePath(QStringLiteral("data")));
        m_env.insert(QStringLiteral("LORVAN_PORT_DIR"), ports);
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        const QString net = m_dir.filePath(QStringLiteral("plant.ini"));
        for (int l = 1; l <= lines; ++l) {
            QStringList args;
            if (l > 1)
                args << QStringLiteral("--append");
            args << ports + QStringLiteral("/COM%1").arg(l) << QString::number(l) << net;
            for (int a = 1; a <= kDevicesPerLine; ++a)
                args << QStringLiteral("%1:%2:1").arg(a).arg(baud);
            QProcess netfile;
            netfile.setProcessEnvironment(m_env);
            netfile.setProcessChannelMode(QProcess::ForwardedChannels);
            netfile.start(QStringLiteral(LORVAN_NETFILE_PATH), args);
            if (!netfile.waitForFinished(30000) || netfile.exitCode() != 0)
                return fail("lorvan-netfile failed");
        }
        bench::endWithUs(m_logger);
        m_logger.setProcessEnvironment(m_env);
        m_logger.setStandardErrorFile(m_dir.filePath(QStringLiteral("logger.log")));
        m_logger.start(QStringLiteral(LORVAN_LOGGER_PATH),
                       {net, QStringLiteral("--every"), QStringLiteral("0")});
        return m_logger.waitForStarted(5000) || fail("lorvan-logger did not start");
    }

    // Rows in all tables, from their headers' counts.
    qint64 rows() const
    {
        qint64 total = 0;
        for (int n = 1; n <= m_lines * kDevicesPerLine; ++n) {
            QFile table(m_dir.filePath(QStringLiteral("data/ArcData%1.dbf").arg(n)));
            if (!table.open(QIODevice::ReadOnly))
                continue;
            const QByteArray head = table.read(8);
            if (head.size() == 8)
                total += qint64(quint8(head[4])) | qint64(quint8(head[5])) << 8 |
                         qint64(quint8(head[6])) << 16 | qint64(quint8(head[7])) << 24;
        }
        return total;
    }

    // The logger's CPU time so far, in seconds.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_logger.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
               double(::sysconf(_SC_CLK_TCK));
    }

    // Resident memory in kB.
    qint64 residentKb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_logger.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
        return 0;
    }

    // Stops the logger; its summary counts polls and rows per line.
    bool stop(qint64 *polls, qint64 *rowsWritten)
    {
        ::kill(pid_t(m_logger.processId()), SIGTERM);
        if (!m_logger.waitForFinished(10000) || m_logger.exitCode() != 0)
            return fail("lorvan-logger did not end cleanly");
        QFile log(m_dir.filePath(QStringLiteral("logger.log")));
        log.open(QIODevice::ReadOnly);
        *polls = *rowsWritten = 0;
        for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() == 5 && words[2] == QStringLiteral("опросов,")) {
                *polls += words[1].toLongLong();
                *rowsWritten += words[3].toLongLong();
            }
        }
        return true;
    }

    ~Plant()
    {
        if (m_logger.state() != QProcess::NotRunning) {
            m_logger.kill();
            m_logger.waitForFinished(3000);
        }
        m_sim.terminate();
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
    }

private:
    static bool fail(const char *why)
    {
        std::fprintf(stderr, "loggerbench: %s\n", why);
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_sim;
    QProcess m_logger;
    QProcessEnvironment m_env;
    int m_lines = 0;
};

struct Sample
{
    double msPerPoll = 0;
    double cpuMsPerPoll = 0;
    qint64 warmKb = 0;
    qint64 endKb = 0;
    qint64 polls = 0;
    qint64 rows = 0;
};

// Polls for warmS, then measures over sampleS.
std::optional<Sample> measure(int lines, int baud, double warmS, double sampleS)
{
    Plant plant;
    if (!plant.start(lines, baud))
        return std::nullopt;
    QThread::msleep(unsigned(warmS * 1000));
    Sample s;
    QElapsedTimer clock;
    clock.start();
    const qint64 rows0 = plant.rows();
    const double cpu0 = plant.cpuSeconds();
    s.warmKb = plant.residentKb();
    QThread::msleep(unsigned(sampleS * 1000));
    const qint64 rows1 = plant.rows();
    const double cpu1 = plant.cpuSeconds();
    const double elapsed = double(clock.elapsed());
    s.endKb = plant.residentKb();
    if (!plant.stop(&s.polls, &s.rows) || rows1 <= rows0)
        return std::nullopt;
    s.msPerPoll = elapsed / double(rows1 - rows0);
    s.cpuMsPerPoll = 1000 * (cpu1 - cpu0) / double(rows1 - rows0);
    return s;
}

int soak(double seconds)
{
    // Memory settles within the first minute; growth after it is a leak.
    const double warm = std::min(60.0, seconds / 3);
    const auto s = measure(4, 115200, warm, seconds - warm);
    if (!s)
        return 1;
    std::printf("logger soak: %lld polls, %lld rows, %.1f ms per poll, memory %lld kB after "
                "warm-up, %lld kB at the end\n",
                qlonglong(s->polls), qlonglong(s->rows), s->msPerPoll, qlonglong(s->warmKb),
                qlonglong(s->endKb));
    if (s->rows != s->polls) {
        std::printf("logger soak: polls without their row\n");
        return 1;
    }
    // A page or two of allocator slack is not growth.
    if (s->endKb > s->warmKb + 512) {
        std::printf("logger soak: memory grew\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("soak"))
        return soak(args.value(1, QStringLiteral("60")).toDouble());
    const double sample = args.value(0, QStringLiteral("20")).toDouble();
    const double warm = std::min(2.0, sample / 2);

    const auto fast = measure(1, 115200, warm, sample);
    const auto slow = measure(1, 9600, warm, sample);
    const auto four = measure(4, 115200, warm, sample);
    if (!fast || !slow || !four)
        return 1;
    for (const auto &[s, baud] : {std::pair{*fast, 115200}, std::pair{*slow, 9600}}) {
        const double floor = floorMs(baud);
        bench::row(QStringLiteral("logger, 1 line x 8 @%1, ms per poll").arg(baud),
                   bench::ms(s.msPerPoll), bench::ms(floor), s.msPerPoll / floor, 1 / 0.9);
        bench::note(QStringLiteral("  %1 polls/s against the floor's %2 (pause %3 ms + "
                                   "turnaround %4 ms + reply)")
                        .arg(1000 / s.msPerPoll, 0, 'f', 2)
                        .arg(1000 / floor, 0, 'f', 2)
                        .arg(kPauseMs)
                        .arg(kTurnaroundMs));
    }
    // Four lines polled together against one line alone: per poll, four times as fast at best.
    const double base = fast->msPerPoll / 4;
    bench::row(QStringLiteral("logger, 4 lines x 8 @115200, ms per poll"),
               bench::ms(four->msPerPoll), bench::ms(base), four->msPerPoll / base, 4 / 3.6);
    bench::note(QStringLiteral("  %1x the polls of one line (goal >= 3.6x)")
                    .arg(fast->msPerPoll / four->msPerPoll, 0, 'f', 2));
    // CPU against the wall time of a poll: the share of a core the service takes per line.
    bench::row(QStringLiteral("logger CPU per poll, 4 lines @115200"),
               bench::ms(four->cpuMsPerPoll), bench::ms(four->msPerPoll * 4),
               four->cpuMsPerPoll / (four->msPerPoll * 4), 0.05);
    bench::row(QStringLiteral("logger memory, 32 devices, end/warm-up (kB)"),
               QString::number(four->endKb), QString::number(four->warmKb),
               double(four->endKb) / double(four->warmKb), 1.05);
    return 0;
}
