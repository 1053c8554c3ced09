// netfile: the devices of a saved network file, as the configurator's tree has them.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/identity.h"
#include "device/networkfile.h"

int runNetfile(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Network file (.ini)."));
    parseSubcommand(parser, QStringLiteral("netfile"),
                    QStringLiteral("Prints the devices of a network file, tab-separated: index, "
                                   "text, port, address, speed, period, cyclic, table path."
                                   "\nExample: lorvan-cli netfile plant.ini"),
                    arguments);
    if (parser.positionalArguments().size() != 1)
        throw CliFailure(QStringLiteral("one network file is needed"), 64);
    QString error;
    bool damaged = false;
    const auto network = networkfile::load(parser.positionalArguments().first(), &error, &damaged);
    if (!network)
        throw CliFailure(damaged ? networkfile::damagedMessage() + QStringLiteral(" (") + error +
                                       QLatin1Char(')')
                                 : error,
                         kFileExit);
    QString out = QStringLiteral("index\ttext\tport\taddress\tspeed\tperiod\tcyclic\ttable path\n");
    int index = 0;
    for (const SavedEntry &entry : network->entries) {
        if (!entry.isDevice())
            continue;
        const DeviceNode &d = entry.device;
        out += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\n")
                   .arg(++index)
                   .arg(entry.text)
                   .arg(d.portNumber())
                   .arg(d.address())
                   .arg(identity::speedText(d.speedCode()))
                   .arg(d.pollPeriod())
                   .arg(d.cyclicPoll() ? 1 : 0)
                   .arg(d.tablePath());
    }
    printOut(out);
    return 0;
}
