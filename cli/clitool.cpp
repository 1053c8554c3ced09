#include "cli/clitool.h"

#include "cli/clicommand.h"
#include "device/identity.h"
#include "link/frame.h"
#include "link/porterror.h"

#include <iterator>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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
    addStatsOption(parser);
}

void addStatsOption(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("stats"),
                      QStringLiteral("At the end (or on Ctrl-C) print the exchange statistics "
                                     "to standard error, tab-separated.")});
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

int lineSpeedBaud(int speedIndex)
{
    return kLineSpeeds[std::size_t(speedIndex)].bitsPerSecond;
}

std::optional<int> lineSpeedIndex(int baud)
{
    for (int i = 0; i < kLineSpeedCount; ++i)
        if (lineSpeedBaud(i) == baud)
            return i;
    return std::nullopt;
}

namespace {

// SIGINT while statistics are wanted: the handler only writes to a pipe, and the event loop,
// which every wait of the link runs, prints and ends the run.
const CliLine *g_statsLine = nullptr;
int g_interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_interruptPipe[1], &c, 1);
}

void watchInterrupt(const CliLine *line)
{
    g_statsLine = line;
    if (g_interruptPipe[0] >= 0 || ::pipe(g_interruptPipe) != 0)
        return;
    // Owned by the application, which outlives every line of the run.
    auto *notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        if (g_statsLine)
            printErr(statsText(g_statsLine->stats()));
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(128 + SIGINT);
    });
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

QString statsText(const ExchangeStats &stats)
{
    QString text =
        (QStringList{QStringLiteral("port"), QStringLiteral("address")} + statsFieldNames())
            .join(QLatin1Char('\t')) +
        QLatin1Char('\n');
    for (const auto &[key, counts] : stats.devices())
        text += (QStringList{key.port, QString::number(key.address)} + statsFields(counts))
                    .join(QLatin1Char('\t')) +
                QLatin1Char('\n');
    return text;
}

CliLine::CliLine(const QCommandLineParser &parser) : CliLine(portOption(parser))
{
    m_printStats = parser.isSet(QStringLiteral("stats"));
    if (m_printStats)
        watchInterrupt(this);
}

CliLine::~CliLine()
{
    if (g_statsLine == this)
        g_statsLine = nullptr;
    if (m_printStats) {
        std::fflush(stdout);
        printErr(statsText(m_stats));
    }
}

CliLine::CliLine(const QString &portPath)
{
    m_link.Setup(m_port);
    m_link.setStats(&m_stats);
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
    m_port.setBaudrate(kLineSpeeds[speedIndex].rate);
    m_link.setResponseWait(kLineSpeeds[speedIndex].scanResponseWait);
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
    int last = kLineSpeedCount - 1;
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
