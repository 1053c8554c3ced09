#pragma once

#include "devsim/scenario.h"
#include "devsim/simdevice.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace devsim {

class SimLine;

// Runs simulated device networks on pseudo-terminals. Each line is served by a thread of its
// own, so the simulator answers whatever the starting thread is busy with.
class DeviceSimulator
{
public:
    DeviceSimulator();
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator &) = delete;
    DeviceSimulator &operator=(const DeviceSimulator &) = delete;

    void addLine(const LineSetup &line);
    void load(const Scenario &scenario);

    // Creates the pseudo-terminals and publishes each as portDir/COM<n> (the folder is made if
    // needed). On failure nothing stays published and error says why.
    bool start(const QString &portDir, QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_running; }

    struct Published
    {
        int port;
        QString link;        // portDir/COM<n>
        QString pty;         // the slave device it points at
        QString monitorLink; // portDir/COM<n>-monitor, when the line has a tap
        QString monitorPty;
    };
    QList<Published> published() const;

    // Called from the line threads with one line of text per request and reply.
    void setLogger(std::function<void(const QString &)> logger);

    // Runs fn on a device under its line's lock; false when no such device exists.
    bool withDevice(int port, quint8 address, const std::function<void(SimDevice &)> &fn);

private:
    QList<LineSetup> m_setups;
    std::vector<std::unique_ptr<SimLine>> m_lines;
    std::function<void(const QString &)> m_logger;
    bool m_running = false;
};

} // namespace devsim
