#include "cli/netfile.h"

#include "device/identity.h"
#include "device/networkfile.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/modbuslink.h"
#include "link/porterror.h"

#include <QDir>

namespace {

std::optional<Baudrate> rateOf(int baud)
{
    for (int code = 0; code <= 4; ++code) {
        const std::optional<Baudrate> rate = baudrateForSpeedCode(code);
        if (rate && baudrateValue(*rate) == baud)
            return rate;
    }
    return std::nullopt;
}

} // namespace

QString writeFoundNetwork(const QString &portPath, int portNumber,
                          const QList<DeviceOnLine> &devices, const QString &tableFolder,
                          const QString &fileName, bool append)
{
    CommPort port;
    RegisterImages images;
    ModbusLink link(images);
    link.Setup(port);
    port.setDeviceName(portPath);
    link.setResponseWait(100);
    SavedNetwork network;
    if (append) {
        QString error;
        const auto existing = networkfile::load(fileName, &error);
        if (!existing)
            return error;
        network = *existing;
    }
    for (const DeviceOnLine &d : devices) {
        const std::optional<Baudrate> rate = rateOf(d.baud);
        if (!rate || d.address < 1 || d.address > 247)
            return QStringLiteral("no device %1 at %2 bit/s possible").arg(d.address).arg(d.baud);
        port.setBaudrate(*rate);
        if (link.ReadHoldingRegisters(std::uint8_t(d.address), 0, identity::kBytes) != kReplyOk)
            return QStringLiteral("device %1 at %2 bit/s does not answer")
                .arg(d.address)
                .arg(d.baud);
        const int number = network.deviceCount + 1;
        networkfile::appendFoundDevice(
            network, portNumber,
            std::span<const std::uint8_t>(images.holding.data(), identity::kBytes),
            QDir(tableFolder).filePath(QStringLiteral("ArcData%1.dbf").arg(number)));
        if (d.periodS > 0) {
            for (auto e = network.entries.rbegin(); e != network.entries.rend(); ++e) {
                if (e->isDevice()) {
                    e->device.setPollPeriod(d.periodS);
                    break;
                }
            }
        }
    }
    // The first device is the selected one, and its record the selected device's copy, so that
    // the chart's title and table agree from the start.
    if (!append && !network.entries.isEmpty())
        network.current = network.entries.first().device;
    QString error;
    if (!networkfile::save(fileName, network, &error))
        return error;
    return {};
}
