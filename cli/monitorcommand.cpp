// monitor: watches a line without taking part in it. The port is opened for reading only, its
// control lines are not touched and nothing is written, so a second converter on a two-wire bus
// shows both directions of every exchange.

#include "cli/clicommand.h"
#include "cli/clitool.h"
#include "cli/subcommands.h"
#include "link/linemonitor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void onStop(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_stopPipe[1], &c, 1);
}

// Read only, the line's speed and framing, and nothing else: no modem control lines, no lock
// (the port may be shared with the program that drives the line), no hang-up on close.
int openForWatching(const QString &path, speed_t speed, int stopBits)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absoluteFilePath()).constData(),
                          O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw CliFailure(QStringLiteral("cannot open %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno))),
                         kNoDeviceExit);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const int osError = errno;
        ::close(fd);
        throw CliFailure(QStringLiteral("%1 is no serial line: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(osError))),
                         kNoDeviceExit);
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(HUPCL | CRTSCTS | CSTOPB);
    if (stopBits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    // What waited in the driver from before the watch began would carry the wrong times.
    ::tcflush(fd, TCIFLUSH);
    return fd;
}

} // namespace

int runMonitor(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("port"), QStringLiteral("Serial line device to watch."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("Line speed (default 9600)."),
                      QStringLiteral("bit/s")});
    parser.addOption(
        {QStringLiteral("stop-bits"), QStringLiteral("1 or 2 (default 2)."), QStringLiteral("n")});
    parser.addOption({QStringLiteral("csv"), QStringLiteral("Print CSV rows under a header.")});
    parser.addOption({QStringLiteral("seconds"),
                      QStringLiteral("Stop after this many seconds; without it, at Ctrl-C."),
                      QStringLiteral("s")});
    parseSubcommand(parser, QStringLiteral("monitor"),
                    QStringLiteral("Prints every MODBUS ASCII frame seen on a line, one a line, "
                                   "with requests and replies paired. Never writes to the line."
                                   "\nExample: lorvan-cli monitor --port "
                                   "$LORVAN_PORT_DIR/COM1-monitor --baud 115200"),
                    arguments);
    const int baud = intOption(parser, QStringLiteral("baud"), 1, 1000000, 9600);
    const std::optional<int> index = lineSpeedIndex(baud);
    if (!index)
        throw CliFailure(QStringLiteral("--baud must be one of 1200 ... 115200"), kUsageExit);
    const speed_t speed = termiosSpeed(kLineSpeeds[std::size_t(*index)].rate);
    const int stopBits = intOption(parser, QStringLiteral("stop-bits"), 1, 2, 2);
    const int seconds = intOption(parser, QStringLiteral("seconds"), 1, 100000000, 0);
    const bool csv = parser.isSet(QStringLiteral("csv"));
    const int fd = openForWatching(portOption(parser), speed, stopBits);

    QElapsedTimer clock;
    clock.start();
    const QDateTime started = QDateTime::currentDateTime();
    const auto stamp = [&](double atMs) {
        return started.addMSecs(qint64(atMs)).toString(QStringLiteral("HH:mm:ss.zzz"));
    };
    const auto print = [&](const QList<LineEvent> &events) {
        for (const LineEvent &e : events)
            printOut((csv ? lineEventCsv(e, stamp(e.atMs)) : formatLineEvent(e, stamp(e.atMs))) +
                     QLatin1Char('\n'));
        std::fflush(stdout);
    };
    if (csv)
        printOut(lineEventCsvHeader() + QLatin1Char('\n'));

    LineDecoder decoder;
    QSocketNotifier reader(fd, QSocketNotifier::Read);
    QObject::connect(&reader, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            print(decoder.feed(QByteArray(chunk, qsizetype(n)), clock.nsecsElapsed() / 1e6));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            QCoreApplication::exit(1); // the line went away
    });
    if (::pipe(g_stopPipe) != 0)
        throw CliFailure(QStringLiteral("no pipe"), 1);
    QSocketNotifier stopper(g_stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });

    const int status = QCoreApplication::exec();
    print(decoder.finish(clock.nsecsElapsed() / 1e6));
    ::close(fd);
    if (status != 0)
        throw CliFailure(QStringLiteral("the line went away"), kNoDeviceExit);
    return 0;
}
