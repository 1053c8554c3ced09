#include "platform/datafolder.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

QString dataFolder()
{
    const QString home = qEnvironmentVariable("LORVAN_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    // Named explicitly so that every program of the suite shares one folder, whatever its own name.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Nordak/LorvanConf");
}

bool ensureDataFolder(QString *errorText)
{
    const QString folder = dataFolder();
    if (!QDir().mkpath(folder)) {
        if (errorText)
            *errorText = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    QTemporaryFile probe(folder + QStringLiteral("/.probe-XXXXXX"));
    if (!probe.open()) {
        if (errorText)
            *errorText = QStringLiteral("cannot write in %1: %2").arg(folder, probe.errorString());
        return false;
    }
    return true;
}

QString dataFilePath(const QString &fileName)
{
    return dataFolder() + QLatin1Char('/') + fileName;
}
