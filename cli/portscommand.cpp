// ports: the serial devices present on this PC and the COM numbers they are assigned to.

#include "cli/clicommand.h"
#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "platform/portpath.h"
#include "platform/serialdevices.h"

int runPorts(const QStringList &arguments)
{
    QCommandLineParser parser;
    parseSubcommand(parser, QStringLiteral("ports"),
                    QStringLiteral("Lists the serial devices present, tab-separated: the COM "
                                   "number assigned to each (or -), its stable name, the device "
                                   "it is now and what the system knows of it."
                                   "\nA COM number works as --port of every sub-command."),
                    arguments);
    if (!parser.positionalArguments().isEmpty())
        throw CliFailure(QStringLiteral("ports takes no arguments"), kUsageExit);
    QString out = QStringLiteral("com\tname\tdevice\tdescription\n");
    for (const SerialDevice &device : listSerialDevices(serialRoot())) {
        int n = portAssignedTo(device.stableName);
        if (n == 0)
            n = portAssignedTo(device.device);
        out += (n > 0 ? portDisplayName(n) : QStringLiteral("-")) + QLatin1Char('\t') +
               device.stableName + QLatin1Char('\t') + device.device + QLatin1Char('\t') +
               device.description + QLatin1Char('\n');
    }
    printOut(out);
    return 0;
}
