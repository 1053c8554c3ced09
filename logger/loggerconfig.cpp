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

// The INI reader takes an unquoted value with commas for a list; a password may hold them.
QString text(const QSettings &ini, const QString &key)
{
    const QVariant value = ini.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
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
    config.networkFile = fromFolder(folder, text(ini, QStringLiteral("logger/network")));
    config.dataFolder = fromFolder(folder, text(ini, QStringLiteral("logger/data")));
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
        config.ports.insert(n, fromFolder(folder, text(ini, key)));
    }
    ini.endGroup();
    config.mqtt.url = text(ini, QStringLiteral("mqtt/url"));
    config.mqtt.user = text(ini, QStringLiteral("mqtt/user"));
    config.mqtt.password = text(ini, QStringLiteral("mqtt/password"));
    config.mqtt.caFile = fromFolder(folder, text(ini, QStringLiteral("mqtt/cafile")));
    return config;
}
