// lorvan-netfile: writes a network file for devices on a line, as the configurator's scan would
// have found them, so that a demonstration starts with a tree.

#include "cli/netfile.h"
#include "platform/datafolder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool append = !args.isEmpty() && args.first() == QLatin1String("--append");
    if (append)
        args.removeFirst();
    const char *usage =
        "usage: lorvan-netfile [--append] PORT-PATH COM-NUMBER OUT-FILE ADDRESS:BAUD[:PERIOD]...\n"
        "Tables are named in the configurator's data folder, as a scan names them.\n"
        "PERIOD: seconds between cyclic polls (default 30). --append: add the devices to\n"
        "those OUT-FILE holds, as a scan of another line would.\n";
    if (args.size() < 4) {
        std::fputs(usage, stderr);
        return 64;
    }
    bool ok = false;
    const int portNumber = args[1].toInt(&ok);
    if (!ok) {
        std::fputs(usage, stderr);
        return 64;
    }
    QList<DeviceOnLine> devices;
    for (const QString &pair : args.mid(3)) {
        DeviceOnLine d;
        bool a = false;
        bool b = false;
        d.address = pair.section(QLatin1Char(':'), 0, 0).toInt(&a);
        d.baud = pair.section(QLatin1Char(':'), 1, 1).toInt(&b);
        bool p = true;
        if (!pair.section(QLatin1Char(':'), 2, 2).isEmpty())
            d.periodS = pair.section(QLatin1Char(':'), 2, 2).toInt(&p);
        if (!a || !b || !p || d.periodS < 0) {
            std::fputs(usage, stderr);
            return 64;
        }
        devices.append(d);
    }
    try {
        const QString error =
            writeFoundNetwork(args[0], portNumber, devices, dataFolder(), args[2], append);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "lorvan-netfile: %s\n", qUtf8Printable(error));
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lorvan-netfile: %s\n", e.what());
        return 1;
    }
    return 0;
}
