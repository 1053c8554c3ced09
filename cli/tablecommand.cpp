// table: a measurement table as CSV, read by the same checked reader as the chart's grid.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "platform/measurementtable.h"

int runTable(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Measurement table (.dbf)."));
    parseSubcommand(parser, QStringLiteral("table"),
                    QStringLiteral("Prints a measurement table as CSV with a header line."
                                   "\nExample: lorvan-cli table ArcData1.dbf > table.csv"),
                    arguments);
    if (parser.positionalArguments().size() != 1)
        throw CliFailure(QStringLiteral("one table file is needed"), 64);
    MeasurementTable table;
    try {
        table.open(parser.positionalArguments().first());
    } catch (const TableError &e) {
        throw CliFailure(e.message(), kFileExit);
    }
    printOut(measurementCsvHeader());
    constexpr qint64 kBatch = 512;
    for (qint64 first = 0; first < table.rowCount(); first += kBatch) {
        QString out;
        for (const MeasurementRow &row : table.rows(first, kBatch))
            out += measurementCsvLine(row.num, row.date, row.channels, table.channelDecimals(0));
        printOut(out);
    }
    return 0;
}
