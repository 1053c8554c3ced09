#pragma once

#include <QString>

#include <optional>

// Where and how rows are published: the broker, the topic prefix and the credentials.
struct MqttSettings
{
    QString host;
    int port = 1883;
    QString prefix;   // topics start with it, no slash at either end
    bool tls = false; // mqtts://, or a CA file given
    QString user;
    QString password;
    QString caFile;

    QString hostPort() const; // "host:port" for log lines, IPv6 addresses in brackets
};

// The configuration's values as written: url = mqtt://HOST[:PORT][/PREFIX] (mqtts:// for TLS),
// user, password, cafile.
struct MqttConfigValues
{
    QString url;
    QString user;
    QString password;
    QString caFile;
};

namespace mqtt {

constexpr int kDefaultPort = 1883;
constexpr int kDefaultTlsPort = 8883;
// The prefix when the url gives none.
inline const QString kDefaultPrefix = QStringLiteral("lorvan");

// The settings, or nothing with a Russian text in why naming what is wrong. The password is
// never part of that text, and an url that carries credentials is refused for the same reason.
std::optional<MqttSettings> parseSettings(const MqttConfigValues &values, QString *why);

} // namespace mqtt
