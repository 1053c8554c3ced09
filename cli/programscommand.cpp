// programs: the four setpoint programs of a program file as text.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/programblock.h"

#include <QFile>

int runPrograms(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("Program file."));
    parseSubcommand(parser, QStringLiteral("programs"),
                    QStringLiteral("Prints the four programs of a program file: start, point "
                                   "position and segments (start, end, seconds), tab-separated."),
                    arguments);
    if (parser.positionalArguments().size() != 1)
        throw CliFailure(QStringLiteral("one program file is needed"), 64);
    QFile file(parser.positionalArguments().first());
    if (!file.open(QIODevice::ReadOnly))
        throw CliFailure(file.fileName() + QStringLiteral(": ") + file.errorString(), kFileExit);
    // A program file is 814 bytes; more is not one of ours, and is not read.
    const QByteArray bytes = file.read(programfile::kBytes + 1);
    std::array<std::uint8_t, programs::kAllBytes> blocks{};
    switch (programfile::parse(bytes, blocks)) {
    case programfile::Outcome::Good:
        break;
    case programfile::Outcome::NoMarker:
        throw CliFailure(file.fileName() + QStringLiteral(": not a program file"), kFileExit);
    case programfile::Outcome::Short:
        throw CliFailure(file.fileName() + QStringLiteral(": program file cut short"), kFileExit);
    }
    QString out;
    for (int k = 0; k < programs::kPrograms; ++k) {
        const ProgramBlock p =
            ProgramBlock::decode(std::span<const std::uint8_t, ProgramBlock::kBytes>(
                blocks.data() + k * ProgramBlock::kBytes, ProgramBlock::kBytes));
        out += QString::asprintf(
            "program\t%d\tstart\t%02d.%02d.%02d %02d:%02d\tpoint\t%d\tsegments\t%d\n", k + 1, p.day,
            p.month, p.year, p.hours, p.minutes, p.point, p.segments());
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
