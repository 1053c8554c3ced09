// lorvan-logger: polls every device of a network file whose cyclic polling is on, at its own
// period, one thread per line, into the tables LorvanConf writes and shows.

#include "device/networkfile.h"
#include "logger/logger.h"
#include "logger/loggerconfig.h"
#include "logger/loggerlog.h"
#include "logger/outputs.h"
#include "logger/signalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <memory>

namespace {

constexpr int kUsageExit = 64;
constexpr int kConfigExit = 78;

struct Options
{
    QString configFile;
    QString networkFile;
    std::optional<int> pauseMs;
    std::optional<qint64> everyMs;
};

// The configuration file if one is named, with the command line's network file and pause on top.
std::optional<LoggerConfig> loadConfig(const Options &options, QString *error)
{
    LoggerConfig config;
    if (!options.configFile.isEmpty()) {
        const auto read = readLoggerConfig(options.configFile, error);
        if (!read)
            return std::nullopt;
        config = *read;
    }
    if (!options.networkFile.isEmpty())
        config.networkFile = options.networkFile;
    if (options.pauseMs)
        config.pauseMs = *options.pauseMs;
    config.everyMs = options.everyMs;
    if (config.networkFile.isEmpty()) {
        *error = QStringLiteral("не задан файл сети: укажите его аргументом или ключом network "
                                "раздела [logger] настройки");
        return std::nullopt;
    }
    return config;
}

// The logger with its outputs; remade whole on a reload.
class Service
{
public:
    explicit Service(const Options &options) : m_options(options) {}

    Logger &logger() { return m_logger; }

    bool start(QString *error)
    {
        const auto config = loadConfig(m_options, error);
        if (!config)
            return false;
        // The former publisher goes first (the lines are stopped): its "offline" would otherwise
        // reach the broker after the new one's "online" and stay retained while the service runs.
        m_logger.clearSinks();
        m_broker.reset();
        m_broker = makeBrokerSink(config->mqtt, error);
        if (!m_broker && !config->mqtt.url.isEmpty())
            return false;
        if (m_broker)
            m_logger.addSink(m_broker.get());
        return m_logger.start(*config, error);
    }

    // A reload keeps polling as it was when the new configuration cannot be used.
    void reload()
    {
        QString error;
        const auto config = loadConfig(m_options, &error);
        if (!config) {
            logLine(QStringLiteral("настройка не перечитана, опрос продолжается: ") + error);
            return;
        }
        // The lines stop before the new network is read: a file that cannot be read now would
        // leave nothing polling.
        QString why;
        if (!networkfile::load(config->networkFile, &why)) {
            logLine(QStringLiteral("настройка не перечитана, опрос продолжается: ") + why);
            return;
        }
        logLine(QStringLiteral("перечитываю настройку"));
        m_reloading = true;
        m_logger.stop();
    }

    // After the lines have stopped: a reload starts them again, anything else ends the program.
    void stopped()
    {
        if (!m_reloading) {
            QCoreApplication::exit(m_exitCode);
            return;
        }
        m_reloading = false;
        QString error;
        if (!start(&error)) {
            logLine(QStringLiteral("lorvan-logger: ") + error);
            QCoreApplication::exit(kConfigExit);
        }
    }

    void terminate()
    {
        m_reloading = false;
        m_exitCode = 0;
        m_logger.stop();
    }

private:
    Options m_options;
    Logger m_logger;
    std::unique_ptr<RowSink> m_broker;
    bool m_reloading = false;
    int m_exitCode = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorvan-logger"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Опрашивает приборы сети с включённым циклическим опросом и пишет их "
                       "значения в те же таблицы, что и LorvanConf."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("netfile"),
                                 QStringLiteral("Файл сети, сохранённый LorvanConf."),
                                 QStringLiteral("[NETFILE]"));
    const QCommandLineOption configOption(
        QStringLiteral("config"), QStringLiteral("Файл настройки (INI)."), QStringLiteral("FILE"));
    const QCommandLineOption pauseOption(QStringLiteral("pause"),
                                         QStringLiteral("Пауза перед каждым запросом, мс (50)."),
                                         QStringLiteral("MS"));
    const QCommandLineOption everyOption(
        QStringLiteral("every"),
        QStringLiteral("Опрашивать каждый прибор раз в MS мс вместо его периода (0: подряд, "
                       "для измерения пропускной способности линии)."),
        QStringLiteral("MS"));
    parser.addOption(configOption);
    parser.addOption(pauseOption);
    parser.addOption(everyOption);
    if (!parser.parse(app.arguments())) {
        logLine(QStringLiteral("lorvan-logger: ") + parser.errorText());
        return kUsageExit;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);

    Options options;
    options.configFile = parser.value(configOption);
    if (parser.positionalArguments().size() > 1) {
        logLine(QStringLiteral("lorvan-logger: нужен один файл сети"));
        return kUsageExit;
    }
    options.networkFile = parser.positionalArguments().value(0);
    if (parser.isSet(pauseOption)) {
        bool ok = false;
        const int pause = parser.value(pauseOption).toInt(&ok);
        if (!ok || pause < 0 || pause > 10000) {
            logLine(
                QStringLiteral("lorvan-logger: --pause: нужно число миллисекунд от 0 до 10000"));
            return kUsageExit;
        }
        options.pauseMs = pause;
    }
    if (parser.isSet(everyOption)) {
        bool ok = false;
        const qint64 every = parser.value(everyOption).toLongLong(&ok);
        if (!ok || every < 0) {
            logLine(QStringLiteral("lorvan-logger: --every: нужно число миллисекунд"));
            return kUsageExit;
        }
        options.everyMs = every;
    }

    SignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    Service service(options);
    QObject::connect(&service.logger(), &Logger::stopped, &app, [&] { service.stopped(); });
    QObject::connect(&watcher, &SignalWatcher::received, &app, [&](int number) {
        if (number == SIGHUP)
            service.reload();
        else
            service.terminate();
    });
    QString error;
    if (!service.start(&error)) {
        logLine(QStringLiteral("lorvan-logger: ") + error);
        return kConfigExit;
    }
    return app.exec();
}
