// lorvan-cli: reads and writes a device's registers over the configurator's link, for scripts
// and tests that need no window.

#include "cli/clicommand.h"
#include "link/commport.h"
#include "link/frame.h"
#include "link/modbuslink.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CliParse parsed = parseCliArguments(app.arguments().mid(1));
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
            std::fprintf(stderr, "lorvan-cli: %s\n", qUtf8Printable(e.message()));
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
