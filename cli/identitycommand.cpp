// identity: the identity block of one device as the configurator describes it.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/identity.h"

int runIdentity(const QStringList &arguments)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parseSubcommand(
        parser, QStringLiteral("identity"),
        QStringLiteral("Prints a device's description and identity fields, "
                       "tab-separated."
                       "\nExample: lorvan-cli identity --port $LORVAN_PORT_DIR/COM1 --addr 2"),
        arguments);
    CliLine line(parser);
    reachDevice(line, parser);
    const IdentityTexts t = describeIdentity(
        std::span<const std::uint8_t>(line.images().holding.data(), identity::kBytes));
    const std::pair<const char *, QString> rows[] = {
        {"description", t.description()},
        {"type", t.type},
        {"address", t.address},
        {"speed", t.speed},
        {"version", t.version.trimmed()},
        {"release", t.releaseDate.trimmed()},
        {"serial", t.serial.trimmed()},
        {"variant", t.variant.trimmed()},
        {"date", t.clockDate},
        {"time", t.clockTime},
    };
    QString out = QStringLiteral("field\tvalue\n");
    for (const auto &[name, value] : rows)
        out += QLatin1String(name) + QLatin1Char('\t') + value + QLatin1Char('\n');
    printOut(out);
    return 0;
}
