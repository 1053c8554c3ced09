#pragma once

#include "simreplies.h"
#include "workstationtestenv.h"

#include "device/identity.h"
#include "devsim/devicesimulator.h"
#include "platform/measurementtable.h"
#include "session/session.h"
#include "support/tablefiles.h"
#include "workstation/devicetree.h"
#include "workstation/mainwindow.h"

#include <QtTest>

// A plant of simulated devices for polling tests, and the tree entries that point at them.
struct PolledDevice
{
    int address;
    int speedCode;
    int period; // seconds
    bool cyclic = true;
    devsim::FaultSettings faults = {};
    int port = 1;
};

inline devsim::Scenario pollingScenario(const QList<PolledDevice> &devices)
{
    devsim::Scenario s;
    for (const PolledDevice &p : devices) {
        devsim::DeviceSetup d;
        d.address = quint8(p.address);
        d.speedCode = quint8(p.speedCode);
        d.serial = quint16(0x3000 + p.address);
        // Values that change from poll to poll, so that a row cannot pass by matching a
        // neighbour's reply.
        for (int c = 0; c < 4; ++c)
            d.inputs[c] = devsim::InputWave{10.0 * (c + 1) + p.address, 5.0 + c, 7.0 + c};
        for (int c = 0; c < 4; ++c)
            d.channels[c].name = QStringLiteral("Вход %1.%2").arg(p.address).arg(c + 1);
        d.faults = p.faults;
        auto line = std::find_if(s.lines.begin(), s.lines.end(),
                                 [&](const devsim::LineSetup &l) { return l.port == p.port; });
        if (line == s.lines.end()) {
            s.lines.append(devsim::LineSetup{});
            line = s.lines.end() - 1;
            line->port = p.port;
        }
        line->devices.append(d);
    }
    return s;
}

// Adds the devices to the network as a scan would have, each with its own table, and selects
// the first.
inline void addPolledDevices(MainWindow &main, const QList<PolledDevice> &devices,
                             const QString &tableFolder)
{
    DeviceNetwork &network = main.session().network();
    for (const PolledDevice &p : devices) {
        std::array<std::uint8_t, 18> ident{};
        ident[0] = 105;
        ident[1] = 3;
        ident[6] = std::uint8_t(p.address);
        ident[7] = std::uint8_t(p.speedCode);
        const int number = network.deviceCount() + 1;
        DeviceNode record = DeviceNode::found(
            number, p.port, ident, tableFolder + QStringLiteral("/ArcData%1.dbf").arg(p.address));
        record.setPollPeriod(p.period);
        record.setCyclicPoll(p.cyclic);
        network.addFeatures(network.addDevice(describeIdentity(ident).description(), record));
    }
    main.EnableDeviceCommands();
    main.SelectDevice(0);
}

inline qint64 tableRows(const QString &path)
{
    if (!QFileInfo::exists(path))
        return 0;
    MeasurementTable t;
    t.open(path);
    return t.rowCount();
}

// The table as an independent reader sees it: the field names and types, then one line per row
// with the row number and the channel values to four decimals (the time is left out).
inline QStringList readPolledRows(const QString &path)
{
    QStringList lines = readWithDbfread(path);
    if (lines.isEmpty() || lines.first().startsWith(QLatin1String("dbfread failed")))
        return lines;
    QStringList fields = lines.first().split(QLatin1Char(';'));
    for (QString &f : fields)
        f = f.section(QLatin1Char(','), 0, 1);
    lines.first() = fields.join(QLatin1Char(';'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QStringList values = lines[i].split(QLatin1Char(';'));
        values.removeAt(1);
        lines[i] = values.join(QLatin1Char(';'));
    }
    return lines;
}

// What dbfread must show for the replies: the row number, then each value to four decimals.
inline QStringList expectedRows(const QList<SimTraffic::Reply> &replies)
{
    QStringList rows;
    for (int i = 0; i < replies.size(); ++i) {
        QStringList fields{QString::number(i)};
        for (float v : replies[i].values)
            fields.append(QString::asprintf("%.4f", double(v)));
        rows.append(fields.join(QLatin1Char(';')));
    }
    return rows;
}
