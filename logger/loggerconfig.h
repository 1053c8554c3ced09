#pragma once

#include "mqtt/mqttsettings.h"

#include <QMap>
#include <QString>

#include <optional>

// Where the logged rows go besides the tables: a broker, when url is set. The password is kept
// here only to be handed to the broker's client; it never goes into a log line.

// The service's configuration file (INI):
//   [logger]  network = FILE (the network file LorvanConf saved), data = FOLDER (where relative
//             table paths lead), pause = MS (the settling pause before each request)
//   [ports]   COM<n> = DEVICE (the line a COM number is on; else the usual port rules)
//   [mqtt]    url, user, password, cafile
// Relative file names are taken from the configuration file's folder.
struct LoggerConfig
{
    static constexpr int kDefaultPauseMs = 50;

    QString networkFile;
    QString dataFolder;
    int pauseMs = kDefaultPauseMs;
    // Every device polled at this period instead of its own (0: back to back), to measure what
    // a line can carry; only from the command line.
    std::optional<qint64> everyMs;
    QMap<int, QString> ports; // COM number -> device path
    MqttConfigValues mqtt;
};

// Nothing when the file cannot be read or holds a value that is not allowed; error then names
// the file and what is wrong with it.
std::optional<LoggerConfig> readLoggerConfig(const QString &path, QString *error);
