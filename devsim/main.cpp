// lorvan-devsim: virtual regulators on pseudo-terminals, published as COM<n> links.

#include "devsim/devicesimulator.h"
#include "devsim/scenario.h"

#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: lorvan-devsim [--port-dir DIR] [--log FILE] [SCENARIO-FILE]\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QString portDir = qEnvironmentVariable("LORVAN_PORT_DIR");
    QString logPath;
    QString scenarioPath;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if ((arg == QLatin1String("--port-dir") || arg == QLatin1String("--log")) && i + 1 < argc) {
            (arg == QLatin1String("--port-dir") ? portDir : logPath) =
                QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            usage();
            return 0;
        } else if (!arg.startsWith(QLatin1Char('-')) && scenarioPath.isEmpty()) {
            scenarioPath = arg;
        } else {
            usage();
            return 2;
        }
    }
    if (portDir.isEmpty()) {
        std::fprintf(stderr, "lorvan-devsim: no port folder: give --port-dir or set "
                             "LORVAN_PORT_DIR\n");
        return 2;
    }

    devsim::Scenario scenario;
    if (scenarioPath.isEmpty()) {
        scenario = devsim::defaultScenario();
    } else {
        QFile file(scenarioPath);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "lorvan-devsim: cannot read %s\n", qPrintable(scenarioPath));
            return 2;
        }
        const devsim::ScenarioParse parsed =
            devsim::parseScenario(QString::fromUtf8(file.readAll()));
        if (!parsed.scenario) {
            std::fprintf(stderr, "lorvan-devsim: %s: %s\n", qPrintable(scenarioPath),
                         qUtf8Printable(parsed.error));
            return 2;
        }
        scenario = *parsed.scenario;
    }

    // The stopSignals are taken by sigwait below; the line threads inherit the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QFile logFile;
    std::mutex logMutex;
    devsim::DeviceSimulator simulator;
    if (!logPath.isEmpty()) {
        logFile.setFileName(logPath);
        if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "lorvan-devsim: cannot write %s\n", qPrintable(logPath));
            return 2;
        }
        simulator.setLogger([&](const QString &line) {
            std::lock_guard lock(logMutex);
            logFile.write(line.toUtf8() + '\n');
            logFile.flush();
        });
    }
    simulator.load(scenario);
    QString error;
    if (!simulator.start(portDir, &error)) {
        std::fprintf(stderr, "lorvan-devsim: %s\n", qUtf8Printable(error));
        return 1;
    }
    for (const auto &p : simulator.published()) {
        std::printf("COM%d %s\n", p.port, qUtf8Printable(p.pty));
        if (!p.monitorPty.isEmpty())
            std::printf("COM%d-monitor %s\n", p.port, qUtf8Printable(p.monitorPty));
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.stop();
    return 0;
}
