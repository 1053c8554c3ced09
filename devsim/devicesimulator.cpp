#include "devsim/devicesimulator.h"

#include "devsim/simline.h"

#include <QDir>

namespace devsim {

DeviceSimulator::DeviceSimulator() = default;

DeviceSimulator::~DeviceSimulator()
{
    stop();
}

void DeviceSimulator::addLine(const LineSetup &line)
{
    m_setups.append(line);
}

void DeviceSimulator::load(const Scenario &scenario)
{
    for (const LineSetup &line : scenario.lines)
        addLine(line);
}

bool DeviceSimulator::start(const QString &portDir, QString *error)
{
    if (m_running)
        return true;
    if (portDir.isEmpty() || !QDir().mkpath(portDir)) {
        if (error)
            *error = QStringLiteral("cannot use port folder '%1'").arg(portDir);
        return false;
    }
    for (const LineSetup &setup : std::as_const(m_setups)) {
        auto line = std::make_unique<SimLine>(setup, m_logger);
        const QString link = QDir(portDir).filePath(QStringLiteral("COM%1").arg(setup.port));
        if (!line->open(link, error)) {
            m_lines.clear();
            return false;
        }
        m_lines.push_back(std::move(line));
    }
    m_running = true;
    return true;
}

void DeviceSimulator::stop()
{
    m_lines.clear();
    m_running = false;
}

QList<DeviceSimulator::Published> DeviceSimulator::published() const
{
    QList<Published> list;
    for (const auto &line : m_lines)
        list.append({line->port(), line->linkPath(), line->ptyPath(), line->monitorLinkPath(),
                     line->monitorPtyPath()});
    return list;
}

void DeviceSimulator::setLogger(std::function<void(const QString &)> logger)
{
    m_logger = std::move(logger);
}

bool DeviceSimulator::withDevice(int port, quint8 address,
                                 const std::function<void(SimDevice &)> &fn)
{
    for (const auto &line : m_lines) {
        if (line->port() == port)
            return line->withDevice(address, fn);
    }
    return false;
}

} // namespace devsim
