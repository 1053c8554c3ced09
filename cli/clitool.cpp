#include "cli/clitool.h"

#include "cli/clicommand.h"
#include "device/identity.h"
#include "link/frame.h"
#include "link/porterror.h"
#include "session/networkscan.h"

#include <iterator>

#include <array>
#include <cstdio>
#include <cstdlib>

void parseSubcommand(QCommandLineParser &parser, const QString &name, const QString &summary,
                     const QStringList &arguments)
{
    parser.setApplicationDescription(summary);
    parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("lorvan-cli ") + name} + arguments))
        throw CliFailure(parser.errorText() + QStringLiteral(" (see lorvan-cli ") + name +
                             QStringLiteral(" --help)"),
                         kUsageExit);
    if (parser.isSet(QStringLiteral("help"))) {
        // The parser names the program by its path; the sub-command belongs beside it.
        QString help = parser.helpText();
        const qsizetype end = help.indexOf(QLatin1Char('\n'));
        const qsizetype options = help.indexOf(QLatin1String(" [options]"));
        if (options > 0 && options < end)
            help.replace(0, options, QStringLiteral("Usage: lorvan-cli ") + name);
        printOut(help);
        std::exit(0);
    }
}

int intOption(const QCommandLineParser &parser, const QString &name, int low, int high,
              std::optional<int> fallback)
{
    if (!parser.isSet(name)) {
        if (fallback)
            return *fallback;
        throw CliFailure(QStringLiteral("--%1 is needed").arg(name), kUsageExit);
    }
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        throw CliFailure(QStringLiteral("--%1 must be a whole number from %2 to %3")
                             .arg(name)
                             .arg(low)
                             .arg(high),
                         kUsageExit);
    return value;
}

void addDeviceOptions(QCommandLineParser &parser)
{
    parser.addOption(
        {QStringLiteral("port"),
         QStringLiteral("Serial line device, or COM<n> as the configurator assigns it."),
         QStringLiteral("path")});
    parser.addOption(
        {QStringLiteral("addr"), QStringLiteral("Device address, 1..247."), QStringLiteral("n")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("Line speed; without it 9600 to 115200 are tried."),
                      QStringLiteral("bit/s")});
}

QString portFailureText(const CommPort &port, const PortError &error)
{
    const QString why = explainPortProblem(port.displayName(), port.lastOpenProblem());
    return why.isEmpty() ? error.message() : error.message() + QLatin1Char('\n') + why;
}

QString portOption(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("port")))
        throw CliFailure(QStringLiteral("--port is needed"), kUsageExit);
    return parser.value(QStringLiteral("port"));
}

static_assert(std::size(NetworkScan::kSpeeds) == kLineSpeeds);

int lineSpeedBaud(int speedIndex)
{
    return baudrateValue(NetworkScan::kSpeeds[speedIndex].rate);
}

std::optional<int> lineSpeedIndex(int baud)
{
    for (int i = 0; i < kLineSpeeds; ++i)
        if (lineSpeedBaud(i) == baud)
            return i;
    return std::nullopt;
}

CliLine::CliLine(const QString &portPath)
{
    m_link.Setup(m_port);
    m_port.setDeviceName(portPath);
    // The link takes a port that does not open for a silent device; say why here instead.
    try {
        m_port.Open();
        m_port.Close();
    } catch (const PortError &e) {
        throw CliFailure(portFailureText(m_port, e), kNoDeviceExit);
    }
}

void CliLine::setSpeed(int speedIndex)
{
    m_port.setBaudrate(NetworkScan::kSpeeds[speedIndex].rate);
    m_link.setResponseWait(NetworkScan::kSpeeds[speedIndex].responseWait);
}

std::optional<int> CliLine::probe(std::uint8_t address, int speedIndex, int lastIndex)
{
    for (int i = speedIndex; i <= lastIndex; ++i) {
        setSpeed(i);
        if (m_link.ReadHoldingRegisters(address, 0, identity::kBytes) == kReplyOk)
            return i;
    }
    return std::nullopt;
}

CliDevice reachDevice(CliLine &line, const QCommandLineParser &parser)
{
    CliDevice device;
    device.address = std::uint8_t(intOption(parser, QStringLiteral("addr"), 1, 247));
    // A device's speed code names 9600 bit/s and up only.
    int first = *lineSpeedIndex(9600);
    int last = kLineSpeeds - 1;
    if (parser.isSet(QStringLiteral("baud"))) {
        const auto index = lineSpeedIndex(intOption(parser, QStringLiteral("baud"), 1, 1000000));
        if (!index)
            throw CliFailure(QStringLiteral("--baud must be one of 1200 ... 115200"), kUsageExit);
        first = last = *index;
    }
    const auto found = line.probe(device.address, first, last);
    if (!found)
        throw CliFailure(QStringLiteral("device %1 does not answer").arg(device.address),
                         kNoDeviceExit);
    device.speedIndex = *found;
    return device;
}

void requireReply(int result, const QString &what)
{
    if (result == kReplyOk)
        return;
    if (result == kNoReply)
        throw CliFailure(what + QStringLiteral(": no usable reply"), kNoDeviceExit);
    throw CliFailure(what + QStringLiteral(": device exception %1").arg(result),
                     exitStatusForResult(result));
}

void printOut(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

void printErr(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stderr);
}
