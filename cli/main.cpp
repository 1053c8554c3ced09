// lorvan-cli: reads and writes a device's registers over the configurator's link, and the
// sub-commands for scripts and data users, all without a window.

#include "cli/clicommand.h"
#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/modbuslink.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Subcommand
{
    const char *name;
    int (*run)(const QStringList &arguments);
};

constexpr Subcommand kSubcommands[] = {
    {"scan", runScan},         {"identity", runIdentity}, {"poll", runPoll},
    {"table", runTable},       {"netfile", runNetfile},   {"programs", runPrograms},
    {"snapshot", runSnapshot}, {"compare", runCompare},   {"restore", runRestore},
    {"monitor", runMonitor},
    {"ports", runPorts},
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (!arguments.isEmpty()) {
        for (const Subcommand &sub : kSubcommands) {
            if (arguments.first() != QLatin1String(sub.name))
                continue;
            try {
                return sub.run(arguments.mid(1));
            } catch (const CliFailure &e) {
                printErr(QStringLiteral("lorvan-cli %1: %2\n")
                             .arg(QLatin1String(sub.name), e.message()));
                return e.status();
            } catch (const std::exception &e) {
                printErr(QStringLiteral("lorvan-cli %1: %2\n")
                             .arg(QLatin1String(sub.name), QString::fromUtf8(e.what())));
                return 1;
            }
        }
    }
    const CliParse parsed = parseCliArguments(arguments);
    if (parsed.help) {
        std::printf("%s", qUtf8Printable(cliUsage()));
        return 0;
    }
    if (!parsed.command) {
        std::fprintf(stderr, "lorvan-cli: %s\n%s", qUtf8Printable(parsed.error),
                     qUtf8Printable(cliUsage()));
        return kUsageExit;
    }
    const CliCommand &cmd = *parsed.command;

    static constexpr Baudrate kRates[] = {Baudrate::br1200,  Baudrate::br2400,  Baudrate::br4800,
                                          Baudrate::br9600,  Baudrate::br19200, Baudrate::br38400,
                                          Baudrate::br57600, Baudrate::br115200};
    CommPort port;
    RegisterImages images;
    ModbusLink link(images);
    try {
        link.Setup(port);
        port.setDeviceName(cmd.portPath);
        for (const Baudrate rate : kRates) {
            if (baudrateValue(rate) == cmd.baud)
                port.setBaudrate(rate);
        }
        port.setStopbits(cmd.stopBits == 1 ? Stopbits::sb1 : Stopbits::sb2);
        link.setResponseWait(cmd.responseWait);
        // The link treats an unopenable port as a silent device; say why here.
        try {
            port.Open();
            port.Close();
        } catch (const PortError &e) {
            std::fprintf(stderr, "lorvan-cli: %s\n", qUtf8Printable(portFailureText(port, e)));
            return exitStatusForResult(kNoReply);
        }

        const CliOutcome outcome = runCliCommand(cmd, link);
        if (!outcome.output.isEmpty())
            std::printf("%s\n", qUtf8Printable(outcome.output));
        if (outcome.result == kNoReply)
            std::fprintf(stderr, "lorvan-cli: no usable reply\n");
        else if (outcome.result != kReplyOk)
            std::fprintf(stderr, "lorvan-cli: device exception %d\n", outcome.result);
        return exitStatusForResult(outcome.result);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lorvan-cli: %s\n", e.what());
        return 9;
    }
}
