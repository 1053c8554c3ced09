// The programs as a user runs them, on a virtual display: LorvanConf's start-up (exec to its
// main window mapped) and resident memory then, against two windows built the same way with Qt
// alone, a bare one and one with the same visible widgets, in interleaved runs; and the CPU the
// programs spend per wall second while LorvanConf polls three simulated devices, while it sits
// idle, and while the test tool reads cyclically.
// Prints rows of the bench table (see bench/run.sh).
//
//   lorvan-startbench BUILD-DIR [STARTS [SAMPLE-SECONDS]]   (0 seconds: start-up only)

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

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

QString g_build;
QTemporaryDir *g_dir = nullptr;
QString g_display;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// utime + stime of a process, in seconds.
double cpuSecondsOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which may itself hold blanks: state is field 3.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QProcessEnvironment environment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), g_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), g_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("LORVAN_PORT_DIR"), g_dir->path());
    env.insert(QStringLiteral("LORVAN_MESSAGES"), QStringLiteral("console"));
    // A runtime folder of its own: the single-copy lock of a LorvanConf run elsewhere by the
    // same user lives in the usual one.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), g_dir->filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

struct Xvfb
{
    QProcess process;
    bool start()
    {
        for (int n = 90 + int(getpid() % 50); n < 200; ++n) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            if (QFileInfo::exists(socket) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            bench::endWithUs(process);
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start(QStringLiteral("Xvfb"),
                          {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!process.waitForStarted(5000))
                return false;
            QElapsedTimer clock;
            clock.start();
            while (!QFileInfo::exists(socket) && clock.elapsed() < 10000 &&
                   process.state() == QProcess::Running)
                QThread::msleep(20);
            if (QFileInfo::exists(socket)) {
                g_display = QStringLiteral(":%1").arg(n);
                return true;
            }
            process.kill();
            process.waitForFinished();
        }
        return false;
    }
    ~Xvfb()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
};

struct Mapped
{
    double ms = 0;
    double kb = 0;
};

std::optional<Mapped> startOnce(const QString &program)
{
    QProcess process;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("LORVAN_STARTUP_MARK"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    bench::endWithUs(process);
    process.setStandardErrorFile(QProcess::nullDevice());
    const qint64 start = monotonicNs();
    process.start(program, {});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const QList<QByteArray> words = process.readAllStandardOutput().trimmed().split(' ');
    if (words.size() != 3 || words[0] != "mapped")
        return std::nullopt;
    return Mapped{(words[1].toLongLong() - start) / 1e6, words[2].toDouble()};
}

// Medians of one program's start-ups.
struct Starts
{
    QString name;
    QString program;
    std::vector<double> ms, kb;
    double medianMs() const { return median(ms); }
    double medianMb() const { return median(kb) / 1024; }
};

void ratioRows(const Starts &conf, const Starts &base, const QString &baseName, double goal)
{
    bench::row(QStringLiteral("LorvanConf start-up vs %1").arg(baseName),
               bench::ms(conf.medianMs()), bench::ms(base.medianMs()),
               conf.medianMs() / base.medianMs(), goal);
    bench::row(QStringLiteral("LorvanConf resident memory vs %1").arg(baseName),
               QString::number(conf.medianMb(), 'f', 1) + QStringLiteral(" MB"),
               QString::number(base.medianMb(), 'f', 1) + QStringLiteral(" MB"),
               conf.medianMb() / base.medianMb(), goal);
}

// False when a program never reported its window.
bool startUp(int starts)
{
    Starts conf{QStringLiteral("LorvanConf"), g_build + QStringLiteral("/app/LorvanConf"), {}, {}};
    Starts bare{QStringLiteral("bare window"),
                g_build + QStringLiteral("/bench/lorvan-barewindow"),
                {},
                {}};
    Starts plain{QStringLiteral("same widgets"),
                 g_build + QStringLiteral("/bench/lorvan-plainwindow"),
                 {},
                 {}};
    Starts *const all[] = {&conf, &bare, &plain};
    // One of each first, unmeasured, so that all find their libraries in the page cache.
    for (Starts *s : all)
        startOnce(s->program);
    // Each run begins with another program, so that none always follows the same one.
    for (int i = 0; i < starts; ++i) {
        for (int k = 0; k < 3; ++k) {
            Starts &s = *all[(i + k) % 3];
            if (const auto m = startOnce(s.program)) {
                s.ms.push_back(m->ms);
                s.kb.push_back(m->kb);
            }
        }
    }
    for (const Starts *s : all) {
        if (s->ms.empty()) {
            bench::note(QStringLiteral("start-up: %1 did not report its window").arg(s->name));
            return false;
        }
    }
    ratioRows(conf, bare, QStringLiteral("bare window"), 1.3);
    ratioRows(conf, plain, QStringLiteral("same widgets"), 1.2);
    bench::note(QStringLiteral("    %1/%2/%3 runs (LorvanConf/bare/same widgets), load average %4")
                    .arg(conf.ms.size())
                    .arg(bare.ms.size())
                    .arg(plain.ms.size())
                    .arg(loadAverage()));
    return true;
}

struct Simulator
{
    QProcess process;
    bool start()
    {
        bench::endWithUs(process);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        QFile::remove(g_dir->filePath(QStringLiteral("COM1")));
        process.start(g_build + QStringLiteral("/devsim/lorvan-devsim"),
                      {QStringLiteral("--port-dir"), g_dir->path()});
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(g_dir->filePath(QStringLiteral("COM1"))) &&
               clock.elapsed() < 5000)
            QThread::msleep(10);
        return QFileInfo::exists(g_dir->filePath(QStringLiteral("COM1")));
    }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
};

// Runs a program (driven by a script when one is named) until the script's last step, lets it
// settle (an undriven one only settles), then samples its CPU for the given seconds. CPU seconds
// per wall second, or nothing.
std::optional<double> cpuWhile(const QString &program, const QString &script, const char *lastStep,
                               int seconds)
{
    QProcess process;
    QProcessEnvironment env = environment();
    if (!script.isEmpty()) {
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), g_build + QStringLiteral("/tests/plugins"));
        env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("lorvandriver"));
        env.insert(QStringLiteral("LORVAN_DRIVE"), script);
    }
    bench::endWithUs(process);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {});
    if (!process.waitForStarted(10000))
        return std::nullopt;
    QString said;
    QElapsedTimer clock;
    clock.start();
    const auto reached = [&] { return !lastStep || said.contains(QLatin1String(lastStep)); };
    while (!reached() && clock.elapsed() < 60000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        said += QString::fromUtf8(process.readAllStandardError());
    }
    std::optional<double> result;
    if (reached() && process.state() == QProcess::Running) {
        // The first ticks and the scan's aftermath are not the steady state.
        QThread::sleep(3);
        process.readAllStandardError();
        const double cpu0 = cpuSecondsOf(process.processId());
        const qint64 wall0 = monotonicNs();
        QThread::sleep(unsigned(seconds));
        const double cpu = cpuSecondsOf(process.processId()) - cpu0;
        result = cpu / ((monotonicNs() - wall0) / 1e9);
    }
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
    return result;
}

void cpuFigures(int seconds)
{
    const QString conf = g_build + QStringLiteral("/app/LorvanConf");
    const QString tool = g_build + QStringLiteral("/testtool/LorvanModbusTest");
    struct Case
    {
        const char *name;
        QString program;
        QString script;
        const char *lastStep;
        double goal;
    };
    const Case cases[] = {
        {"LorvanConf polling 3 devices, CPU s/s", conf, QStringLiteral("poll-on"), "polling on",
         0.02},
        {"LorvanConf idle, CPU s/s", conf, QString(), nullptr, 0.005},
        {"LorvanModbusTest cyclic read, CPU s/s", tool, QStringLiteral("tool-cyclic"), "search",
         0.02},
    };
    for (const Case &c : cases) {
        Simulator sim;
        if (!sim.start()) {
            bench::note(QStringLiteral("CPU: the simulator did not start"));
            return;
        }
        const auto figure = cpuWhile(c.program, c.script, c.lastStep, seconds);
        if (!figure) {
            bench::note(QStringLiteral("%1: not measured").arg(QLatin1String(c.name)));
            continue;
        }
        bench::row(QLatin1String(c.name), QString::number(*figure, 'f', 4),
                   QStringLiteral("1 core"), *figure, c.goal);
        bench::note(
            QStringLiteral("    %1 s sampled, load average %2").arg(seconds).arg(loadAverage()));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lorvan-startbench BUILD-DIR [STARTS [SAMPLE-SECONDS]]\n");
        return 2;
    }
    g_build = QString::fromLocal8Bit(argv[1]);
    const int starts = std::max(1, argc > 2 ? QByteArray(argv[2]).toInt() : 11);
    // No sample seconds: the start-up figures alone.
    const int seconds = std::max(0, argc > 3 ? QByteArray(argv[3]).toInt() : 60);
    QTemporaryDir dir;
    g_dir = &dir;
    QDir(dir.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Xvfb display;
    if (!display.start()) {
        std::fprintf(stderr, "no virtual display\n");
        return 1;
    }
    if (!startUp(starts))
        return 1;
    if (seconds > 0)
        cpuFigures(seconds);
    return 0;
}
