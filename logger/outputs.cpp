#include "logger/outputs.h"

#include <QUrl>

std::unique_ptr<RowSink> makeBrokerSink(const MqttSettings &settings, QString *error)
{
    if (!settings.configured())
        return nullptr;
    // A password may sit in the address itself; it is never shown.
    const QString where = QUrl(settings.url).toDisplayString(QUrl::RemoveUserInfo);
    if (error)
        *error = QStringLiteral("MQTT недоступен в этой сборке lorvan-logger: публикация в %1 "
                                "невозможна. Уберите ключ url из раздела [mqtt] настройки, чтобы "
                                "вести только таблицы.")
                     .arg(where);
    return nullptr;
}
