#pragma once

#include "link/commport.h"
#include "link/exchangestats.h"
#include "link/modbuslink.h"
#include "link/registerimages.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>

// What the sub-commands of lorvan-cli share: their failure, their options for reaching a device
// and the device they reach.

// Exit statuses beside the register commands' own (clicommand.h): a device that does not answer
// and a file that cannot be read or written.
constexpr int kNoDeviceExit = 9;
constexpr int kFileExit = 66;

// Ends a sub-command: the message goes to standard error, status becomes the exit status.
class CliFailure : public std::runtime_error
{
public:
    CliFailure(const QString &message, int status)
        : std::runtime_error(message.toStdString()), m_message(message), m_status(status)
    {
    }
    QString message() const { return m_message; }
    int status() const { return m_status; }

private:
    QString m_message;
    int m_status;
};

// Parses a sub-command's arguments; --help prints the help and ends the process with 0, anything
// wrong throws CliFailure with the usage status.
void parseSubcommand(QCommandLineParser &parser, const QString &name, const QString &summary,
                     const QStringList &arguments);
// A whole number option within low..high, or fallback when the option is absent.
int intOption(const QCommandLineParser &parser, const QString &name, int low, int high,
              std::optional<int> fallback = std::nullopt);

// --port, --addr and --baud: one device on one line. Without --baud the device is looked for at
// the speeds a device can have (9600 bit/s and up), slowest first, as the network scan does.
void addDeviceOptions(QCommandLineParser &parser);
// --port's value; throws CliFailure with the usage status when it is missing.
QString portOption(const QCommandLineParser &parser);
// A port error as the tool reports it: the port's own text, then why the port cannot be used.
QString portFailureText(const CommPort &port, const PortError &error);

// The line speeds the network scan tries, in its order and with its reply waits (kLineSpeeds):
// indexes 0..kLineSpeedCount-1, and the bit/s of each.
constexpr int kLineSpeedCount = int(kLineSpeeds.size());
int lineSpeedBaud(int speedIndex);
// Index of a speed in bit/s; nothing for a speed the devices do not know.
std::optional<int> lineSpeedIndex(int baud);

// --stats: the exchange statistics on standard error when the sub-command ends.
void addStatsOption(QCommandLineParser &parser);

// The port, the register images and the link of one run of the tool.
class CliLine
{
public:
    explicit CliLine(const QString &portPath); // throws CliFailure when the port cannot be opened
    // --port's line; with --stats set, the statistics are printed when the line goes (also when
    // a failure ends the sub-command) or when SIGINT stops it.
    explicit CliLine(const QCommandLineParser &parser);
    ~CliLine();
    CliLine(const CliLine &) = delete;
    CliLine &operator=(const CliLine &) = delete;

    CommPort &port() { return m_port; }
    const ExchangeStats &stats() const { return m_stats; }
    ModbusLink &link() { return m_link; }
    RegisterImages &images() { return m_images; }

    void setSpeed(int speedIndex);
    // Reads the identity block at each speed from speedIndex up to lastIndex; the speed index
    // that answered, nothing when none did. The identity is at the start of the holding image.
    std::optional<int> probe(std::uint8_t address, int speedIndex, int lastIndex);

private:
    void printStats() const;

    CommPort m_port;
    RegisterImages m_images;
    ModbusLink m_link{m_images};
    ExchangeStats m_stats;
    bool m_printStats = false;
};

// The statistics as lorvan-cli prints them: a header, then one tab-separated line per device.
QString statsText(const ExchangeStats &stats);

// The device that --port, --addr and --baud name, with the line at its speed and its identity
// read. Throws CliFailure when it does not answer.
struct CliDevice
{
    std::uint8_t address = 0;
    int speedIndex = 0;
};
CliDevice reachDevice(CliLine &line, const QCommandLineParser &parser);

// Throws CliFailure with the result code's meaning unless the exchange succeeded.
void requireReply(int result, const QString &what);

// Standard output and standard error, UTF-8.
void printOut(const QString &text);
void printErr(const QString &text);
