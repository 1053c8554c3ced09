#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class ModbusLink;

// One invocation of the command-line tool, parsed. Pure: no port is touched here.
struct CliCommand
{
    enum class Action { ReadHolding, ReadInput, ReadCoils, ReadDiscrete, WriteHolding, WriteCoils };

    QString portPath;
    int baud = 0;
    int stopBits = 2;
    int responseWait = 100;
    std::uint8_t address = 0;
    Action action = Action::ReadHolding;
    std::uint16_t start = 0;
    std::uint16_t count = 0;
    QByteArray bytes; // write-holding: image-order bytes; write-coils: one byte (0/1) per coil
};

// Exit status for a command line that cannot be run.
constexpr int kUsageExit = 64;

struct CliParse
{
    std::optional<CliCommand> command;
    QString error;     // set when command is empty and no help was asked for
    bool help = false; // --help or -h: print the usage, run nothing
};

CliParse parseCliArguments(const QStringList &arguments); // without the program name
QString cliUsage();

// Result code of the link as the process exit status: 0, 9 for no usable reply, an exception
// code as itself within 1..8.
int exitStatusForResult(int result);

// Image bytes as "0A 1B ..." and flags as "0 1 ...".
QString formatBytes(const QByteArray &bytes);
QString formatFlags(const QByteArray &flags);

struct CliOutcome
{
    int result = 0; // the link's result code
    QString output; // the data line for reads, empty for writes
};

// Runs the command through a link whose port is already set up.
CliOutcome runCliCommand(const CliCommand &command, ModbusLink &link);
