// scan: the network scan's probes without the tree: every address of a range at the line speeds
// from the first upwards, each device at the first speed that answers.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/identity.h"

int runScan(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("port"), QStringLiteral("Serial line device."), QStringLiteral("path")});
    parser.addOption({QStringLiteral("first"), QStringLiteral("First address (default 1)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("last"), QStringLiteral("Last address (default 32)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("min-baud"),
                      QStringLiteral("Slowest line speed tried (default 9600)."),
                      QStringLiteral("bit/s")});
    parser.addOption({QStringLiteral("max-baud"),
                      QStringLiteral("Fastest line speed tried (default 115200)."),
                      QStringLiteral("bit/s")});
    addStatsOption(parser);
    parseSubcommand(
        parser, QStringLiteral("scan"),
        QStringLiteral(
            "Prints the devices a network scan would find: address, speed "
            "and description, tab-separated."
            "\nExample: lorvan-cli scan --port $LORVAN_PORT_DIR/COM1 --first 1 --last 5"),
        arguments);
    const int first = intOption(parser, QStringLiteral("first"), 1, 247, 1);
    const int last = intOption(parser, QStringLiteral("last"), first, 247, std::max(first, 32));
    const auto speedOf = [&](const char *name, int fallback) {
        const auto index =
            lineSpeedIndex(intOption(parser, QLatin1String(name), 1, 1000000, fallback));
        if (!index)
            throw CliFailure(
                QStringLiteral("--%1 must be one of 1200 ... 115200").arg(QLatin1String(name)), 64);
        return *index;
    };
    const int slowest = speedOf("min-baud", 9600);
    const int fastest = speedOf("max-baud", 115200);
    if (fastest < slowest)
        throw CliFailure(QStringLiteral("--max-baud is below --min-baud"), 64);

    CliLine line(parser);
    printOut(QStringLiteral("address\tspeed\tdescription\n"));
    for (int address = first; address <= last; ++address) {
        const auto found = line.probe(std::uint8_t(address), slowest, fastest);
        if (!found)
            continue;
        auto ident = std::span<const std::uint8_t>(line.images().holding.data(), identity::kBytes);
        printOut(QStringLiteral("%1\t%2\t%3\n")
                     .arg(address)
                     .arg(lineSpeedBaud(*found))
                     .arg(describeIdentity(ident).description()));
    }
    return 0;
}
