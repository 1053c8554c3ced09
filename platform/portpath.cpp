#include "platform/portpath.h"
#include "platform/settings.h"

QString portDisplayName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString portDevicePath(int portNumber)
{
    const QString name = portDisplayName(portNumber);
    const QString configured = openSettings()->value(QStringLiteral("Ports/") + name).toString();
    if (!configured.isEmpty())
        return configured;
    const QString dir = qEnvironmentVariable("LORVAN_PORT_DIR");
    if (!dir.isEmpty())
        return dir + QLatin1Char('/') + name;
#ifdef Q_OS_WIN
    return name;
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
