#include "cli/clicommand.h"

#include "link/frame.h"
#include "link/modbuslink.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct ActionName
{
    const char *name;
    CliCommand::Action action;
};

constexpr std::array<ActionName, 6> kActions = {{
    {"read-holding", CliCommand::Action::ReadHolding},
    {"read-input", CliCommand::Action::ReadInput},
    {"read-coils", CliCommand::Action::ReadCoils},
    {"read-discrete", CliCommand::Action::ReadDiscrete},
    {"write-holding", CliCommand::Action::WriteHolding},
    {"write-coils", CliCommand::Action::WriteCoils},
}};

constexpr int kHoldingRegisters = RegisterImages::kHoldingBytes / 2;
constexpr int kInputImageRegisters = RegisterImages::kInputBytes / 2;
constexpr int kLastInputRegister = 65535;
constexpr int kMaxBlock = 125;

bool isAsciiHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

std::optional<int> parseNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                          ? text.mid(2).toInt(&ok, 16)
                          : text.toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// Image-order bytes for whole registers: four hexadecimal digits each, blanks, ":" and ","
// allowed between them. Anything else is refused rather than written in part.
std::optional<QByteArray> parseHexBytes(QString text, QString *why)
{
    text.remove(QLatin1Char(' ')).remove(QLatin1Char(':')).remove(QLatin1Char(','));
    for (const QChar c : text) {
        if (!isAsciiHexDigit(c)) {
            *why = QStringLiteral("'%1' is not a hexadecimal digit").arg(c);
            return std::nullopt;
        }
    }
    if (text.isEmpty() || text.size() % 4 != 0) {
        *why = QStringLiteral("%1 hex digits do not make whole registers (4 digits each)")
                   .arg(text.size());
        return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

std::optional<QByteArray> parseBits(QString text)
{
    text.remove(QLatin1Char(' ')).remove(QLatin1Char(','));
    if (text.isEmpty())
        return std::nullopt;
    QByteArray out;
    for (const QChar c : text) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1'))
            return std::nullopt;
        out.append(char(c == QLatin1Char('1') ? 1 : 0));
    }
    return out;
}

CliParse failure(const QString &text)
{
    return {std::nullopt, text};
}

} // namespace

QString cliUsage()
{
    return QStringLiteral(
        "usage: lorvan-cli SUB-COMMAND [OPTIONS]     (lorvan-cli SUB-COMMAND --help for each)\n"
        "       lorvan-cli --port PATH --baud N [--stop-bits 1|2] [--wait MS] --addr A COMMAND\n"
        "       lorvan-cli --help\n"
        "sub-commands (device ones take --port PATH --addr A [--baud N] [--stats]):\n"
        "  scan --port PATH [--first A] [--last A] [--min-baud N] [--max-baud N]\n"
        "                               address, speed and description of each device found\n"
        "  identity                     a device's description and identity fields\n"
        "  poll [--period S] [--count N] [--table FILE]\n"
        "                               the four measured values as CSV, or into a table\n"
        "  table FILE                   a measurement table as CSV\n"
        "  netfile FILE                 the devices of a network file\n"
        "  programs FILE | programs --port PATH --addr A [-o FILE]\n"
        "                               the four setpoint programs of a file or a device\n"
        "  snapshot [-o FILE]           every settings block of a device as readable text\n"
        "  compare SNAPSHOT [SECOND]    fields in which a device (or SECOND) differs\n"
        "  restore SNAPSHOT [--yes]     writes a snapshot to a device and reads it back\n"
        "  monitor --port PATH --baud N [--csv] [--seconds S]\n"
        "                               every frame seen on a line, never writing to it\n"
        "  ports                        serial devices present and the COM numbers assigned\n"
        "PATH may be COM<n>: the device assigned to it, as the configurator resolves it\n"
        "examples against the demo plant (scripts/run-demo.sh; P=$LORVAN_PORT_DIR/COM1):\n"
        "  lorvan-cli scan --port $P --first 1 --last 5\n"
        "  lorvan-cli identity --port $P --addr 2\n"
        "  lorvan-cli poll --port $P --addr 1 --count 3 > values.csv\n"
        "  lorvan-cli poll --port $P --addr 1 --count 3 --table t.dbf && lorvan-cli table t.dbf\n"
        "  lorvan-netfile $P 1 plant.ini 1:115200 2:19200 && lorvan-cli netfile plant.ini\n"
        "  lorvan-cli programs --port $P --addr 1 -o furnace.prg && lorvan-cli programs "
        "furnace.prg\n"
        "  lorvan-cli snapshot --port $P --addr 1 -o furnace.txt\n"
        "  lorvan-cli compare furnace.txt --port $P --addr 1\n"
        "  lorvan-cli restore furnace.txt --port $P --addr 1 --yes\n"
        "  lorvan-cli poll --port $P --addr 2 --count 100 --stats > /dev/null\n"
        "  lorvan-cli monitor --port $P-monitor --baud 115200\n"
        "register commands:\n"
        "  read-holding START COUNT     holding registers, image-order bytes\n"
        "  read-input START COUNT       input registers, image-order bytes\n"
        "  read-coils START COUNT       coils, 0 or 1 each\n"
        "  read-discrete START COUNT    discrete inputs, 0 or 1 each\n"
        "  write-holding START HEXBYTES holding registers from image-order bytes, 4 hex digits\n"
        "                               per register\n"
        "  write-coils START BITS       coils from a string of 0 and 1\n"
        "exit status: 0 success, 1 differences (compare) or nothing written (restore), 1..8 the\n"
        "device's exception code, 9 no usable reply, 64 bad command line, 65 snapshot of\n"
        "another device, 66 a file that cannot be read or written\n");
}

CliParse parseCliArguments(const QStringList &arguments)
{
    CliCommand cmd;
    bool haveAddress = false;
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            CliParse help;
            help.help = true;
            return help;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            rest.append(arg);
            continue;
        }
        if (i + 1 >= arguments.size())
            return failure(QStringLiteral("%1 needs a value").arg(arg));
        const QString value = arguments.at(++i);
        if (arg == QLatin1String("--port")) {
            cmd.portPath = value;
        } else if (arg == QLatin1String("--baud")) {
            const auto n = parseNumber(value, 1, 1000000);
            static constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
            if (!n || std::find(std::begin(kRates), std::end(kRates), *n) == std::end(kRates))
                return failure(QStringLiteral("unsupported line speed: %1").arg(value));
            cmd.baud = *n;
        } else if (arg == QLatin1String("--stop-bits")) {
            const auto n = parseNumber(value, 1, 2);
            if (!n)
                return failure(QStringLiteral("--stop-bits must be 1 or 2"));
            cmd.stopBits = *n;
        } else if (arg == QLatin1String("--wait")) {
            const auto n = parseNumber(value, 0, 60000);
            if (!n)
                return failure(QStringLiteral("--wait must be 0..60000 ms"));
            cmd.responseWait = *n;
        } else if (arg == QLatin1String("--addr")) {
            const auto n = parseNumber(value, 0, 255);
            if (!n)
                return failure(QStringLiteral("--addr must be 0..255"));
            cmd.address = std::uint8_t(*n);
            haveAddress = true;
        } else {
            return failure(QStringLiteral("unknown option %1").arg(arg));
        }
    }
    if (cmd.portPath.isEmpty() || cmd.baud == 0 || !haveAddress)
        return failure(QStringLiteral("--port, --baud and --addr are required"));
    if (rest.size() != 3)
        return failure(QStringLiteral("a command and its two arguments are required"));

    const auto found = std::find_if(kActions.begin(), kActions.end(), [&](const ActionName &a) {
        return rest.at(0) == QLatin1String(a.name);
    });
    if (found == kActions.end())
        return failure(QStringLiteral("unknown command %1").arg(rest.at(0)));
    cmd.action = found->action;

    using A = CliCommand::Action;
    const bool input = cmd.action == A::ReadInput;
    const int lastStart = cmd.action == A::ReadCoils || cmd.action == A::WriteCoils
                              ? RegisterImages::kCoilCount - 1
                          : cmd.action == A::ReadDiscrete ? RegisterImages::kDiscreteCount - 1
                          : input                         ? kLastInputRegister
                                                          : kHoldingRegisters - 1;
    const auto start = parseNumber(rest.at(1), 0, lastStart);
    if (!start)
        return failure(QStringLiteral("START must be 0..%1").arg(lastStart));
    cmd.start = std::uint16_t(*start);

    int count = 0;
    if (cmd.action == A::WriteHolding) {
        QString why;
        const auto bytes = parseHexBytes(rest.at(2), &why);
        if (!bytes)
            return failure(QStringLiteral("HEXBYTES \"%1\": %2").arg(rest.at(2), why));
        cmd.bytes = *bytes;
        count = int(bytes->size() / 2);
    } else if (cmd.action == A::WriteCoils) {
        const auto bits = parseBits(rest.at(2));
        if (!bits)
            return failure(QStringLiteral("BITS must be a string of 0 and 1"));
        cmd.bytes = *bits;
        count = int(bits->size());
    } else {
        const auto n = parseNumber(rest.at(2), 1, 65535);
        if (!n)
            return failure(QStringLiteral("COUNT must be a positive number"));
        count = *n;
    }

    int limit = 0; // how many items fit from START on
    switch (cmd.action) {
    case A::ReadHolding:
    case A::WriteHolding:
        limit = kHoldingRegisters - cmd.start;
        break;
    case A::ReadInput:
        limit = cmd.start + count <= kInputImageRegisters
                    ? kInputImageRegisters - cmd.start
                    : std::min(kMaxBlock, kLastInputRegister + 1 - cmd.start);
        break;
    case A::ReadCoils:
    case A::WriteCoils:
        limit = RegisterImages::kCoilCount - cmd.start;
        break;
    case A::ReadDiscrete:
        limit = RegisterImages::kDiscreteCount - cmd.start;
        break;
    }
    if (count > limit)
        return failure(QStringLiteral("at most %1 from START %2").arg(limit).arg(cmd.start));
    cmd.count = std::uint16_t(count);
    return {cmd, {}};
}

int exitStatusForResult(int result)
{
    if (result == kReplyOk)
        return 0;
    if (result == kNoReply)
        return 9;
    return std::clamp(result, 1, 8);
}

QString formatBytes(const QByteArray &bytes)
{
    QStringList parts;
    for (const char b : bytes)
        parts.append(QStringLiteral("%1").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper());
    return parts.join(QLatin1Char(' '));
}

QString formatFlags(const QByteArray &flags)
{
    QStringList parts;
    for (const char f : flags)
        parts.append(f ? QStringLiteral("1") : QStringLiteral("0"));
    return parts.join(QLatin1Char(' '));
}

CliOutcome runCliCommand(const CliCommand &cmd, ModbusLink &link)
{
    using A = CliCommand::Action;
    RegisterImages &images = link.images();
    const auto slice = [](const auto &image, int from, int n) {
        return QByteArray(reinterpret_cast<const char *>(image.data()) + from, n);
    };
    const auto bytePos = std::uint16_t(2 * cmd.start);
    const auto byteLen = std::uint16_t(2 * cmd.count);

    CliOutcome out;
    switch (cmd.action) {
    case A::ReadHolding:
        out.result = link.ReadHoldingRegisters(cmd.address, bytePos, byteLen);
        if (out.result == kReplyOk)
            out.output = formatBytes(slice(images.holding, bytePos, byteLen));
        break;
    case A::ReadInput:
        if (cmd.start + cmd.count <= RegisterImages::kInputBytes / 2) {
            out.result = link.ReadInputRegisters(cmd.address, bytePos, byteLen);
            if (out.result == kReplyOk)
                out.output = formatBytes(slice(images.input, bytePos, byteLen));
        } else {
            std::vector<std::uint16_t> words(cmd.count);
            out.result = link.ReadInputRegisterBlock(cmd.address, cmd.start, cmd.count, words);
            if (out.result == kReplyOk) {
                QByteArray bytes;
                for (const std::uint16_t w : words) {
                    bytes.append(char(w & 0xFF));
                    bytes.append(char(w >> 8));
                }
                out.output = formatBytes(bytes);
            }
        }
        break;
    case A::ReadCoils:
        out.result = link.ReadCoils(cmd.address, cmd.start, cmd.count);
        if (out.result == kReplyOk)
            out.output = formatFlags(slice(images.coils, cmd.start, cmd.count));
        break;
    case A::ReadDiscrete:
        out.result = link.ReadDiscreteInputs(cmd.address, cmd.start, cmd.count);
        if (out.result == kReplyOk)
            out.output = formatFlags(slice(images.discrete, cmd.start, cmd.count));
        break;
    case A::WriteHolding:
        std::copy(cmd.bytes.begin(), cmd.bytes.end(), images.holding.begin() + bytePos);
        out.result = link.WriteHoldingRegisters(cmd.address, bytePos, byteLen);
        break;
    case A::WriteCoils:
        std::copy(cmd.bytes.begin(), cmd.bytes.end(), images.coils.begin() + cmd.start);
        out.result = link.WriteCoils(cmd.address, cmd.start, cmd.count);
        break;
    }
    return out;
}
