#pragma once

#include "device/networkfile.h"
#include "logger/lineworker.h"
#include "logger/loggerconfig.h"
#include "logger/rowsink.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class QThread;

// The lines of a network: every device whose cyclic polling is on with a period, grouped by COM
// port in the file's order. The port's device is the configuration's [ports] entry, else the
// usual port rules; a relative table path is taken from dataFolder. What is left out and why goes
// into notes.
QList<LineSetup> linesOf(const SavedNetwork &network, const LoggerConfig &config,
                         const QString &dataFolder, QStringList *notes);

// The logging service: one worker thread per line, all writing the configurator's tables.
class Logger : public QObject
{
    Q_OBJECT
public:
    explicit Logger(QObject *parent = nullptr);
    ~Logger() override;

    // Where each row goes besides its table. Takes effect at the next start; not owned.
    void addSink(RowSink *sink);
    void clearSinks();

    // Reads the network file and starts polling; false with error (path and reason) when there
    // is nothing to poll or the file cannot be used.
    bool start(const LoggerConfig &config, QString *error);
    // Every line finishes the poll under way with its row, closes its port and ends; stopped()
    // follows once all have. At once when nothing runs.
    void stop();
    bool isRunning() const { return !m_threads.empty(); }

signals:
    void stopped();

private:
    void lineEnded();

    QList<RowSink *> m_sinks;
    std::vector<std::unique_ptr<LineWorker>> m_workers;
    std::vector<std::unique_ptr<QThread>> m_threads;
    int m_running = 0;
};
