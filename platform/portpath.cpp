#include "platform/portpath.h"
#include "platform/settings.h"

#include <QRegularExpression>

namespace {

QString settingsKey(int portNumber)
{
    return QStringLiteral("Ports/") + portDisplayName(portNumber);
}

} // namespace

QString portDisplayName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString assignedPort(int portNumber)
{
    return openSettings()->value(settingsKey(portNumber)).toString();
}

void setAssignedPort(int portNumber, const QString &path)
{
    const auto settings = openSettings();
    if (path.trimmed().isEmpty())
        settings->remove(settingsKey(portNumber));
    else
        settings->setValue(settingsKey(portNumber), path.trimmed());
}

int portAssignedTo(const QString &path)
{
    const auto settings = openSettings();
    for (int n = 1; n <= kAssignablePorts; ++n) {
        if (settings->value(settingsKey(n)).toString() == path)
            return n;
    }
    return 0;
}

int portNumberOfName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^COM([1-9]\\d{0,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(name.trimmed());
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QString resolvePortName(const QString &name)
{
    const int n = portNumberOfName(name);
    return n > 0 ? portDevicePath(n) : name;
}

QString portDevicePath(int portNumber)
{
    const QString configured = assignedPort(portNumber);
    if (!configured.isEmpty())
        return configured;
    const QString dir = qEnvironmentVariable("LORVAN_PORT_DIR");
    if (!dir.isEmpty())
        return dir + QLatin1Char('/') + portDisplayName(portNumber);
#ifdef Q_OS_WIN
    return portDisplayName(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
