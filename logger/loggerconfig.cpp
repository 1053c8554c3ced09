#include "logger/loggerconfig.h"

#include "platform/portpath.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

QString fromFolder(const QDir &folder, const QString &name)
{
    return name.isEmpty() ? name : QDir::cleanPath(folder.absoluteFilePath(name));
}

} // namespace

std::optional<LoggerConfig> readLoggerConfig(const QString &path, QString *error)
{
    const auto fail = [&](const QString &why) -> std::optional<LoggerConfig> {
        if (error)
            *error = QStringLiteral("Файл настройки %1: %2").arg(path, why);
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    file.close();
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return fail(QStringLiteral("ошибка формата"));

    const QDir folder = QFileInfo(path).absoluteDir();
    LoggerConfig config;
    config.networkFile = fromFolder(folder, ini.value(QStringLiteral("logger/network")).toString());
    config.dataFolder = fromFolder(folder, ini.value(QStringLiteral("logger/data")).toString());
    const QVariant pause = ini.value(QStringLiteral("logger/pause"));
    if (pause.isValid()) {
        bool ok = false;
        config.pauseMs = pause.toString().toInt(&ok);
        if (!ok || config.pauseMs < 0 || config.pauseMs > 10000)
            return fail(QStringLiteral("pause = %1: нужно число миллисекунд от 0 до 10000")
                            .arg(pause.toString()));
    }
    ini.beginGroup(QStringLiteral("ports"));
    for (const QString &key : ini.childKeys()) {
        const int n = portNumberOfName(key);
        if (n <= 0)
            return fail(
                QStringLiteral("в разделе [ports] ключ %1 не является именем COM<n>").arg(key));
        config.ports.insert(n, fromFolder(folder, ini.value(key).toString()));
    }
    ini.endGroup();
    config.mqtt.url = ini.value(QStringLiteral("mqtt/url")).toString();
    config.mqtt.user = ini.value(QStringLiteral("mqtt/user")).toString();
    config.mqtt.password = ini.value(QStringLiteral("mqtt/password")).toString();
    config.mqtt.caFile = fromFolder(folder, ini.value(QStringLiteral("mqtt/cafile")).toString());
    return config;
}
