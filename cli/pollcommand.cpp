// poll: the polling cycle's read of one device, repeated: the four measured values every period,
// appended to a measurement table or printed as CSV.

#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "device/imagefields.h"
#include "device/registermap.h"
#include "platform/measurementtable.h"
#include "platform/pumpedwait.h"

#include <QDateTime>
#include <QLocale>

int runPoll(const QStringList &arguments)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({QStringLiteral("period"),
                      QStringLiteral("Seconds between reads (default 1)."), QStringLiteral("s")});
    parser.addOption({QStringLiteral("count"),
                      QStringLiteral("Number of reads; 0 (default) reads until stopped."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("table"),
                      QStringLiteral("Append the rows to this measurement table (made when "
                                     "missing) instead of printing CSV."),
                      QStringLiteral("file")});
    parseSubcommand(
        parser, QStringLiteral("poll"),
        QStringLiteral(
            "Reads the four measured values of a device every period."
            "\nExample: lorvan-cli poll --port $LORVAN_PORT_DIR/COM1 --addr 1 --count 3"),
        arguments);
    const int period = intOption(parser, QStringLiteral("period"), 1, 86400, 1);
    const int count = intOption(parser, QStringLiteral("count"), 0, 1000000000, 0);
    const QString table = parser.value(QStringLiteral("table"));

    CliLine line(parser);
    const CliDevice device = reachDevice(line, parser);
    if (table.isEmpty())
        printOut(measurementCsvHeader());
    std::fflush(stdout);
    qint64 rows = 0;
    for (int n = 0; count == 0 || n < count; ++n) {
        if (n > 0 && !DelayPumping(period * 1000))
            break;
        const QDateTime now = QDateTime::currentDateTime();
        requireReply(line.link().ReadInputRegisters(device.address, regmap::measuredValue(1),
                                                    regmap::kMeasuredValuesBytes),
                     QStringLiteral("reading the measured values"));
        std::array<double, 4> values{};
        std::array<std::optional<double>, 4> shown{};
        for (int c = 0; c < 4; ++c) {
            values[std::size_t(c)] =
                double(field::f32(line.images().input, regmap::measuredValue(c + 1)));
            shown[std::size_t(c)] = values[std::size_t(c)];
        }
        if (!table.isEmpty()) {
            try {
                EnsureMeasurementTable(table);
                AppendMeasurementRow(table, now, values);
            } catch (const TableError &e) {
                throw CliFailure(e.message(), kFileExit);
            }
        } else {
            // The row as the table would hold it: the same number and date texts.
            printOut(measurementCsvLine(measurementNumText(rows),
                                        measurementDateText(now, QLocale::system()), shown, 4));
            std::fflush(stdout);
        }
        ++rows;
    }
    return 0;
}
