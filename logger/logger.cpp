#include "logger/logger.h"

#include "link/commport.h"
#include "logger/loggerlog.h"
#include "platform/datafolder.h"
#include "platform/portpath.h"

#include <QDir>
#include <QThread>

QList<LineSetup> linesOf(const SavedNetwork &network, const LoggerConfig &config,
                         const QString &dataFolder, QStringList *notes)
{
    QList<LineSetup> lines;
    const QDir data(dataFolder);
    for (const SavedEntry &entry : network.entries) {
        if (!entry.isDevice())
            continue;
        const DeviceNode &node = entry.device;
        const QString who = QStringLiteral("%1 (COM%2, адрес %3)")
                                .arg(entry.text)
                                .arg(node.portNumber())
                                .arg(node.address());
        if (!node.cyclicPoll() || node.pollPeriod() <= 0) {
            notes->append(who + QStringLiteral(": циклический опрос выключен"));
            continue;
        }
        if (!baudrateForSpeedCode(node.speedCode())) {
            notes->append(who + QStringLiteral(": неизвестный код скорости %1, не опрашивается")
                                    .arg(node.speedCode()));
            continue;
        }
        if (node.portNumber() < 1 || node.tablePath().isEmpty()) {
            notes->append(who + QStringLiteral(": нет порта или таблицы, не опрашивается"));
            continue;
        }
        auto line = std::find_if(lines.begin(), lines.end(), [&](const LineSetup &l) {
            return l.portNumber == node.portNumber();
        });
        if (line == lines.end()) {
            LineSetup setup;
            setup.portNumber = node.portNumber();
            setup.devicePath =
                config.ports.value(setup.portNumber, portDevicePath(setup.portNumber));
            setup.pauseMs = config.pauseMs;
            lines.append(setup);
            line = lines.end() - 1;
        }
        LoggedDevice device;
        device.text = entry.text;
        device.address = node.address();
        device.speedCode = node.speedCode();
        device.periodMs = config.everyMs.value_or(qint64(node.pollPeriod()) * 1000);
        device.tablePath = QDir::cleanPath(data.absoluteFilePath(node.tablePath()));
        line->devices.append(device);
    }
    return lines;
}

Logger::Logger(QObject *parent) : QObject(parent) {}

Logger::~Logger()
{
    // An owner that did not wait for stopped(): the lines still end cleanly, one row at most
    // later.
    for (auto &worker : m_workers)
        worker->requestStop();
    for (auto &thread : m_threads)
        thread->wait();
}

void Logger::addSink(RowSink *sink)
{
    m_sinks.append(sink);
}

void Logger::clearSinks()
{
    m_sinks.clear();
}

bool Logger::start(const LoggerConfig &config, QString *error)
{
    if (isRunning()) {
        *error = QStringLiteral("опрос уже идёт");
        return false;
    }
    QString why;
    bool damaged = false;
    const auto network = networkfile::load(config.networkFile, &why, &damaged);
    if (!network) {
        *error = damaged ? QStringLiteral("%1: %2 (%3)")
                               .arg(config.networkFile, networkfile::damagedMessage(), why)
                         : why;
        return false;
    }
    QStringList notes;
    const QString folder = config.dataFolder.isEmpty() ? dataFolder() : config.dataFolder;
    const QList<LineSetup> lines = linesOf(*network, config, folder, &notes);
    for (const QString &note : notes)
        logLine(note);
    if (lines.isEmpty()) {
        *error =
            QStringLiteral("%1: ни одного прибора с циклическим опросом").arg(config.networkFile);
        return false;
    }
    logLine(QStringLiteral("сеть %1, пауза %2 мс").arg(config.networkFile).arg(config.pauseMs));
    for (const LineSetup &line : lines) {
        QStringList devices;
        for (const LoggedDevice &d : line.devices)
            devices.append(QStringLiteral("%1 каждые %2 мс").arg(d.address).arg(d.periodMs));
        logLine(QStringLiteral("%1 (%2): адреса %3")
                    .arg(portDisplayName(line.portNumber), line.devicePath,
                         devices.join(QStringLiteral(", "))));
        auto worker = std::make_unique<LineWorker>(line, m_sinks);
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(portDisplayName(line.portNumber));
        worker->moveToThread(thread.get());
        connect(thread.get(), &QThread::finished, this, &Logger::lineEnded);
        thread->start();
        worker->start();
        m_workers.push_back(std::move(worker));
        m_threads.push_back(std::move(thread));
    }
    m_running = int(m_threads.size());
    return true;
}

void Logger::stop()
{
    if (!isRunning()) {
        emit stopped();
        return;
    }
    for (auto &worker : m_workers)
        worker->requestStop();
}

void Logger::lineEnded()
{
    if (--m_running > 0)
        return;
    for (std::size_t i = 0; i < m_threads.size(); ++i) {
        m_threads[i]->wait();
        logLine(QStringLiteral("%1: %2 опросов, %3 строк")
                    .arg(m_workers[i]->portName())
                    .arg(m_workers[i]->polls())
                    .arg(m_workers[i]->rows()));
    }
    m_workers.clear();
    m_threads.clear();
    emit stopped();
}
