#include "logger/outputs.h"

#include "logger/loggerlog.h"
#include "mqtt/mqttpublisher.h"

std::unique_ptr<RowSink> makeBrokerSink(const MqttConfigValues &values, QString *error)
{
    if (values.url.isEmpty())
        return nullptr;
    QString why;
    const std::optional<MqttSettings> settings = mqtt::parseSettings(values, &why);
    if (!settings) {
        if (error)
            *error = why;
        return nullptr;
    }
    auto publisher = std::make_unique<MqttPublisher>(*settings, &logLine);
    // A client that cannot be set up (an unreadable CA file) would publish nothing for good:
    // the service refuses to start rather than run without the outputs it was given.
    if (!publisher->canPublish()) {
        if (error)
            *error = QStringLiteral("MQTT: публикация в %1 невозможна, подробности выше")
                         .arg(settings->hostPort());
        return nullptr;
    }
    return publisher;
}
