// programs: the four setpoint programs of a program file, or of a device, as text.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/clocktext.h"
#include "device/programblock.h"

#include "device/registermap.h"
#include "platform/atomicfile.h"

#include <QFile>

namespace {

void readProgramFile(const QString &path, std::array<std::uint8_t, programs::kAllBytes> &blocks)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliFailure(path + QStringLiteral(": ") + file.errorString(), kFileExit);
    // A program file is 814 bytes; what lies beyond is not read.
    const QByteArray bytes = file.read(programfile::kBytes + 1);
    switch (programfile::parse(bytes, blocks)) {
    case programfile::Outcome::Good:
        return;
    case programfile::Outcome::NoMarker:
        throw CliFailure(path + QStringLiteral(": not a program file"), kFileExit);
    case programfile::Outcome::Short:
        throw CliFailure(path + QStringLiteral(": program file cut short"), kFileExit);
    }
}

} // namespace

int runPrograms(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Program file."),
                                 QStringLiteral("[file]"));
    addDeviceOptions(parser);
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("With --port: also save the device's programs as a program "
                                     "file."),
                      QStringLiteral("file")});
    parseSubcommand(
        parser, QStringLiteral("programs"),
        QStringLiteral(
            "Prints the four programs of a program file or a device: start, point "
            "position and segments (start, end, seconds), tab-separated."
            "\nExample: lorvan-cli programs --port $LORVAN_PORT_DIR/COM1 --addr 1 -o furnace.prg"),
        arguments);
    const QStringList positional = parser.positionalArguments();
    std::array<std::uint8_t, programs::kAllBytes> blocks{};
    if (parser.isSet(QStringLiteral("port"))) {
        if (!positional.isEmpty())
            throw CliFailure(QStringLiteral("a file or --port, not both"), 64);
        CliLine line(parser);
        const CliDevice device = reachDevice(line, parser);
        requireReply(line.link().ReadHoldingRegisters(device.address, regmap::program(1),
                                                      std::uint16_t(programs::kAllBytes)),
                     QStringLiteral("reading the programs"));
        std::copy_n(line.images().holding.begin() + regmap::program(1), blocks.size(),
                    blocks.begin());
        const QString path = parser.value(QStringLiteral("output"));
        if (!path.isEmpty()) {
            if (const auto failure = writeFileAtomically(path, programfile::compose(blocks)))
                throw CliFailure(path + QStringLiteral(": ") + failure->reason, kFileExit);
        }
    } else {
        if (positional.size() != 1)
            throw CliFailure(QStringLiteral("one program file, or --port, is needed"), 64);
        readProgramFile(positional.first(), blocks);
    }
    QString out;
    for (int k = 0; k < programs::kPrograms; ++k) {
        const ProgramBlock p =
            ProgramBlock::decode(std::span<const std::uint8_t, ProgramBlock::kBytes>(
                blocks.data() + k * ProgramBlock::kBytes, ProgramBlock::kBytes));
        out += QStringLiteral("program\t%1\tstart\t%2\tpoint\t%3\tsegments\t%4\n")
                   .arg(k + 1)
                   .arg(startText(p.day, p.month, p.year, p.hours, p.minutes))
                   .arg(p.point)
                   .arg(p.segments());
        out += QStringLiteral("segment\tstart\tend\tseconds\n");
        for (int s = 0; s < p.segments(); ++s)
            out += QStringLiteral("%1\t%2\t%3\t%4\n")
                       .arg(s + 1)
                       .arg(QString::number(programs::shown(p.start[std::size_t(s)], p.point), 'f',
                                            p.point))
                       .arg(QString::number(programs::shown(p.end[std::size_t(s)], p.point), 'f',
                                            p.point))
                       .arg(p.duration[std::size_t(s)]);
    }
    printOut(out);
    return 0;
}
